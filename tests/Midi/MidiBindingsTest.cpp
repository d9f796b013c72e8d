#include "Midi/MidiBindings.h"

#include "LimitedDisk.h"
#include "RunTogether.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

TEST(MidiBindingsTest, FileKeepsBindingsAndSkipsEachDamagedLineWithOneLine)
{
    TempDir dir;
    const std::string path = dir.File("bindings");
    WriteFileBytes(path, "# mine\n\n"
                         "note 1 36 press loop 0 Record\n"
                         "cc 16 64 held loop 12 Record\n"
                         "pc 1 5 press main Main/New Loop \r\n"
                         "cc 17 1 press main Main/Snap\n"
                         "knob 1 1 press main Main/Snap\n"
                         "cc 1 2 press main\n"
                         "cc 1 x set main Output/Volume\n"
                         "note 1 37 press loop -1 Undo\n"
                         "cc 1 7 set main Output/Volume\n");
    MidiBindings bindings;
    testing::internal::CaptureStderr();
    bindings.Load(path);
    std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(bindings.m_Bindings.size(), 4u) << said;
    for (int line : {6, 7, 8, 9, 10})
        EXPECT_NE(said.find("line " + std::to_string(line) + " skipped"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 5) << said;
    EXPECT_EQ(bindings.m_Bindings[2].m_Control, "Main/New Loop");

    // A note-off finds its note's binding; a message takes its new control's place.
    MidiMessage release;
    release.m_Kind = MidiMessage::NoteOff;
    release.m_Number = 36;
    ASSERT_NE(bindings.Find(release), nullptr);
    EXPECT_EQ(bindings.Find(release)->m_LoopID, 0);
    MidiBinding feedback = bindings.m_Bindings[3];
    feedback.m_Control = "Delay/Feedback";
    bindings.Bind(feedback);
    EXPECT_TRUE(bindings.Unbind(12, "Record"));
    ASSERT_TRUE(bindings.Save());
    EXPECT_FALSE(FileExists(path + ".saving"));

    MidiBindings again;
    again.Load(path);
    ASSERT_EQ(again.m_Bindings.size(), 3u);
    EXPECT_EQ(MidiBindings::LineOf(again.m_Bindings[0]), "note 1 36 press loop 0 Record");
    EXPECT_EQ(MidiBindings::LineOf(again.m_Bindings[1]), "pc 1 5 press main Main/New Loop");
    EXPECT_EQ(MidiBindings::LineOf(again.m_Bindings[2]), "cc 1 7 set main Delay/Feedback");

    // A file that cannot be written leaves what was there.
    again.m_Path = dir.File("no-such-folder/bindings");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(again.Save());
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("MIDI bindings not saved (No such file or directory)"), std::string::npos) << said;
}

namespace {

// What loading path says, in a child that a hang or a flood cannot hold up;
// "stopped" when it had to be stopped.
std::string LoadInChild(const std::string &path, const std::string &said)
{
    pid_t child = fork();
    if (child == 0) {
        alarm(5);
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer's shadow memory alone is more address space than this.
        struct rlimit memory = {1 << 30, 1 << 30};
        setrlimit(RLIMIT_AS, &memory);
#endif
        if (!std::freopen(said.c_str(), "w", stderr)) _exit(1);
        MidiBindings bindings;
        bindings.Load(path);
        _exit(bindings.m_Bindings.empty() ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ReadFileBytes(said) : "stopped";
}

} // namespace

TEST(MidiBindingsTest, AnythingButASmallFileIsRefusedWithOneLineAtOnce)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0700), 0);
    std::string big;
    while (big.size() <= (1 << 20))
        big += "note 1 36 press loop 0 Record\n";
    WriteFileBytes(dir.File("big"), big);
    for (const std::string &path :
         {dir.File("fifo"), std::string("/dev/zero"), dir.File("folder"), dir.File("big")}) {
        const std::string said = LoadInChild(path, dir.File("said"));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << path << ": " << said;
        EXPECT_NE(said.find("[" + path + "]"), std::string::npos) << said;
    }
}

TEST(MidiBindingsTest, TwoProgramsSavingAtOnceLeaveOnesBindingsWhole)
{
    TempDir dir;
    const std::string path = dir.File("bindings");
    // Notes in one, controllers in the other, a hundred saves each.
    EXPECT_TRUE(RunTogether(2, [&](int which) {
        MidiBindings bindings;
        bindings.m_Path = path;
        MidiBinding binding;
        binding.m_Kind = which == 0 ? MidiMessage::NoteOn : MidiMessage::Controller;
        binding.m_Control = "Main/Snap";
        for (binding.m_Number = 0; binding.m_Number < 40 + which; binding.m_Number++)
            bindings.Bind(binding);
        bool saved = true;
        for (int round = 0; round < 100; round++)
            saved = bindings.Save() && saved;
        return saved;
    }));
    MidiBindings bindings;
    bindings.Load(path);
    ASSERT_FALSE(bindings.m_Bindings.empty());
    const int kind = bindings.m_Bindings[0].m_Kind;
    EXPECT_EQ(bindings.m_Bindings.size(), kind == MidiMessage::NoteOn ? 40u : 41u);
    for (const MidiBinding &binding : bindings.m_Bindings)
        EXPECT_EQ(binding.m_Kind, kind);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"bindings"});
}
