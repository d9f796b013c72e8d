// Replays every input kept under tests/data/fuzz-regressions/ (findings of
// the fuzzers, and hostile files written by hand) through the same code the
// fuzzers run, so a fixed fault stays fixed without a fuzzing run.
#include "FuzzRegressionCases.h"
#include "MidiBindingsTarget.h"
#include "MidiParserTarget.h"
#include "ResourceFileTarget.h"
#include "WavLoopTarget.h"
#include "WorkspaceReaderTarget.h"

#include <gtest/gtest.h>

TEST(FuzzRegressionTest, EveryKeptWavFileLoadsIntoALoopSafely)
{
    std::vector<std::string> cases = FuzzRegressionCases("wav_loop");
    ASSERT_FALSE(cases.empty());
    for (const std::string &path : cases) {
        std::string bytes = FuzzCaseBytes(path);
        EXPECT_EQ(WavLoopTarget::Run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), "")
            << path;
    }
}

TEST(FuzzRegressionTest, EveryKeptResourceFileLeavesUsableSettings)
{
    std::vector<std::string> cases = FuzzRegressionCases("resource_file");
    ASSERT_FALSE(cases.empty());
    for (const std::string &path : cases) {
        std::string bytes = FuzzCaseBytes(path);
        EXPECT_EQ(ResourceFileTarget::Run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), "")
            << path;
    }
}

TEST(FuzzRegressionTest, EveryKeptMidiStreamAndBindingsFileReadsSafely)
{
    for (const char *harness : {"midi_parser", "midi_bindings"}) {
        std::vector<std::string> cases = FuzzRegressionCases(harness);
        ASSERT_FALSE(cases.empty()) << harness;
        for (const std::string &path : cases) {
            std::string bytes = FuzzCaseBytes(path);
            const uint8_t *data = reinterpret_cast<const uint8_t *>(bytes.data());
            EXPECT_EQ(std::string(harness) == "midi_parser" ? MidiParserTarget::Run(data, bytes.size())
                                                            : MidiBindingsTarget::Run(data, bytes.size()),
                      "")
                << path;
        }
    }
}

TEST(FuzzRegressionTest, EveryKeptWorkspaceReadsAndSavesAgainTheSame)
{
    std::vector<std::string> cases = FuzzRegressionCases("workspace_reader");
    ASSERT_FALSE(cases.empty());
    for (const std::string &path : cases) {
        std::string bytes = FuzzCaseBytes(path);
        EXPECT_EQ(WorkspaceReaderTarget::Run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), "")
            << path;
    }
}
