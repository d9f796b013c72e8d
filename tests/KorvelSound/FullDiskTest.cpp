// Saving a loop and recording the output onto a disk that fills up: one line
// naming the path, the program carries on, and the file that was there
// before is left exactly as it was, with no half-written file beside it.
#include "KorvelInfo.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/WavFile.h"
#include "Loop.h"
#include "LoopHost.h"
#include "../LimitedDisk.h"
#include "../SavedSettings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// A loop of length samples, each value from the given seed.
void Fill(Loop &loop, int length, int seed)
{
    loop.AllocateMem(length);
    for (int i = 0; i < length; i++) loop.m_StoreBuffer.Set(i, static_cast<short>((i * seed) % 30000));
    loop.m_LoopLength = length;
}

} // namespace

TEST(FullDiskTest, SavingALoopOntoAFullDiskKeepsTheOldFileAndSaysSoOnce)
{
    TempDir dir;
    const std::string path = dir.File("take.wav");
    LoopHost host;
    Loop loop(&host);
    Fill(loop, 1000, 7);
    loop.SaveWav(path);
    const std::string good = ReadFileBytes(path);
    ASSERT_EQ(good.size(), 2044u);

    // Big enough for the header, not for 100000 samples.
    LimitedRun run = RunWithFileLimit(64 * 1024, [&] {
        Loop bigger(&host);
        Fill(bigger, 100000, 13);
        bigger.SaveWav(path);
        std::cerr << "still running" << std::endl;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "WavFile: Write error [" + path + "]\nstill running\n");
    EXPECT_EQ(ReadFileBytes(path), good);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>({"take.wav"}));

    // With room, the same save replaces the file whole, keeping its mode.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    Loop bigger(&host);
    Fill(bigger, 100000, 13);
    bigger.SaveWav(path);
    EXPECT_EQ(ReadFileBytes(path).size(), 44u + 200000u);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>({"take.wav"}));
}

TEST(FullDiskTest, SavingThroughALinkReplacesTheFileAndKeepsTheLink)
{
    TempDir dir;
    const std::string real = dir.File("real.wav");
    const std::string link = dir.File("link.wav");
    LoopHost host;
    Loop loop(&host);
    Fill(loop, 10, 3);
    loop.SaveWav(real);
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    Fill(loop, 20, 5);
    loop.SaveWav(link);
    struct stat info;
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadFileBytes(real).size(), 44u + 40u);
}

TEST(FullDiskTest, DeviceThatTakesNothingGivesOneLine)
{
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    LoopHost host;
    Loop loop(&host);
    Fill(loop, 1000, 7);
    testing::internal::CaptureStderr();
    loop.SaveWav("/dev/full");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WavFile: Write error [/dev/full]\n");
    EXPECT_TRUE(FileExists("/dev/full"));
}

TEST(FullDiskTest, RecordingThatFillsTheDiskStopsWithOneLineAndKeepsTheOldRecording)
{
    SavedSettings settings;
    KorvelInfo::WantRealtimeOut = false;
    Output::Unpaced = true;
    TempDir dir;
    const std::string path = dir.File("set.wav");
    Output output(2);
    output.Record(path.c_str());
    for (int i = 0; i < 3; i++) output.Write();
    ASSERT_EQ(output.m_RecordFile.Close(), 1);
    const std::string good = ReadFileBytes(path);
    ASSERT_EQ(good.size(), 44u + 3u * 512u * 4u);

    LimitedRun run = RunWithFileLimit(256 * 1024, [&] {
        Output again(2);
        again.Record(path.c_str());
        // About 2.5 MB: ten times what the disk takes.
        for (int i = 0; i < 1200; i++) {
            again.m_Buffer.Set(0, static_cast<short>(i));
            again.Write();
        }
        again.m_RecordFile.Close();
        // The output goes on and a later recording elsewhere works.
        again.Record((path + "-next").c_str());
        again.Write();
        std::cerr << (again.m_RecordFile.Close() == 1 ? "next recording done" : "next recording failed")
                  << std::endl;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "WavFile: Write error [" + path + "]\nnext recording done\n");
    EXPECT_EQ(ReadFileBytes(path), good);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>({"set.wav", "set.wav-next"}));
}

TEST(FullDiskTest, RecordingIsOnlyInPlaceOnceClosed)
{
    SavedSettings settings;
    KorvelInfo::WantRealtimeOut = false;
    Output::Unpaced = true;
    TempDir dir;
    const std::string path = dir.File("live.wav");
    Output output(2);
    output.Record(path.c_str());
    output.Write();
    // While it runs, the recording grows under another name.
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 1u);
    ASSERT_EQ(output.m_RecordFile.Close(), 1);
    EXPECT_EQ(ReadFileBytes(path).size(), 44u + 512u * 4u);
    int status = -1;
    std::string info = RunCommand("sndfile-info '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << info;
    EXPECT_NE(info.find("Channels    : 2"), std::string::npos) << info;
}
