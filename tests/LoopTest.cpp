#include "Loop.h"

#include "KorvelInfo.h"
#include "KorvelSound/ReferenceEngine.h"
#include "KorvelSound/WavFile.h"
#include "LoopHost.h"
#include "LimitedDisk.h"
#include "LoopTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

using reference::CopyInto;
using reference::ScopedSetting;
using reference::Values;

TEST(LoopTest, OverdubOfSilenceLeavesSoundUnchangedAtAnySpeed)
{
    std::mt19937 random(11);
    std::vector<short> sound = reference::RandomBlock(random, 3000);
    sound[0] = -32768; // a loaded file may hold it
    sound[1] = 32767;
    for (float speed : {1.0f, 0.5f, 2.5f, 0.0f}) {
        LoopHost host;
        Loop loop(&host);
        GiveSound(loop, sound);
        loop.m_Speed = speed;
        loop.m_Pos = 2900.0f;
        RecordTake(loop, std::vector<short>(8 * KorvelInfo::BufferSize, 0));
        EXPECT_EQ(Values(loop.m_StoreBuffer), sound) << "speed " << speed;
        EXPECT_EQ(loop.m_LoopLength, 3000);
    }
}

TEST(LoopTest, OverdubAddsEachInputWhereThePositionWasWithinThePlayLength)
{
    std::mt19937 random(12);
    const int length = 1100; // of 1500: the unheard tail must stay as it was
    std::vector<short> sound = reference::RandomBlock(random, 1500, 20000);
    std::vector<short> input = reference::RandomBlock(random, 4 * KorvelInfo::BufferSize, 20000);
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, sound);
    loop.m_LoopLength = length;
    loop.m_Pos = 900.0f;

    // Where playback is at each step, and so where each input must land.
    // More than one lap, so some indices take two inputs, each added with clamping.
    std::vector<short> expected = sound;
    float pos = loop.m_Pos;
    for (short value : input) {
        short &there = expected[static_cast<int>(pos)];
        there = reference::Store(static_cast<int64_t>(there) + value);
        pos = static_cast<int>(1.0f + pos) >= length ? 0.0f : 1.0f + pos;
    }
    RecordTake(loop, input);
    EXPECT_EQ(Values(loop.m_StoreBuffer), expected);
    EXPECT_EQ(loop.m_LoopLength, length); // ending an overdub keeps it
}

TEST(LoopTest, OverdubAtHighSpeedFillsTheGapsWithTheArrivingValue)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, std::vector<short>(1000, 100));
    loop.m_Speed = 2.5f;
    std::vector<short> input(KorvelInfo::BufferSize, 0);
    for (int i = 0; i < 5; i++)
        input[i] = static_cast<short>(10 * (i + 1));
    RecordTake(loop, input);
    // Positions 0, 2.5, 5, 7.5, 10: each step fills from after the last index written.
    std::vector<short> head = Values(loop.m_StoreBuffer);
    head.resize(12);
    EXPECT_EQ(head, (std::vector<short>{110, 120, 120, 130, 130, 130, 140, 140, 150, 150, 150, 100}));
}

TEST(LoopTest, FreshTakeKeepsEveryInputSample)
{
    // Small blocks, so that takes can end anywhere within a record block.
    ScopedSetting<int> blockSize(KorvelInfo::BufferSize, 4);
    std::mt19937 random(13);
    for (int takeLength : {40000, 100, Loop::RecordBlockSize, 2 * Loop::RecordBlockSize, 4}) {
        LoopHost host;
        Loop loop(&host);
        std::vector<short> take = reference::RandomBlock(random, takeLength);
        take[0] = -32768;
        RecordTake(loop, take);
        take[0] = -32767; // recorded values are clamped like every computed one
        EXPECT_EQ(Values(loop.m_StoreBuffer), take) << takeLength;
        EXPECT_EQ(loop.m_LoopLength, takeLength);
        EXPECT_EQ(loop.GetTotalLength(), takeLength);
    }
}

TEST(LoopTest, FreshTakeIsSilentUntilItEndsAndItsLengthCanBeAsked)
{
    LoopHost host;
    Loop loop(&host);
    std::vector<short> block(KorvelInfo::BufferSize, 1000);
    loop.m_Input = block.data();
    loop.m_Recording = true;
    Sample out(KorvelInfo::BufferSize);
    int produced = 0;
    const int blocks = Loop::RecordBlockSize / KorvelInfo::BufferSize + 3;
    for (int i = 0; i < blocks; i++) {
        if (loop.GetOutput(out)) {
            produced++;
            EXPECT_EQ(Values(out), std::vector<short>(KorvelInfo::BufferSize, 0));
        }
        EXPECT_EQ(loop.GetTotalLength(), loop.m_StoreBuffer.GetLength());
    }
    EXPECT_EQ(produced, 3); // from the block that completes the first record block on
    loop.m_Recording = false;
    loop.EndRecord();
    EXPECT_EQ(loop.GetTotalLength(), blocks * KorvelInfo::BufferSize);
    EXPECT_EQ(Block(loop)[0], 1000);

    // Toggling Record again without a single record step adds nothing.
    loop.m_Recording = true;
    loop.m_Recording = false;
    loop.EndRecord();
    EXPECT_EQ(loop.GetTotalLength(), blocks * KorvelInfo::BufferSize);
}

TEST(LoopDeathTest, TotalLengthOfMismatchedBuffersEndsTheProgramOutsideATake)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(100));
    loop.m_HoldBuffer.Allocate(50);
    EXPECT_DEATH(loop.GetTotalLength(),
                 "GetTotalLength.*GUI/\\.\\./"
                 "Loop\\.h.*m_StoreBuffer\\.GetLength\\(\\)==m_HoldBuffer\\.GetLength\\(\\)");
}

TEST(LoopTest, AllocateMemKeepsAFittingPlayLength)
{
    LoopHost host;
    Loop loop(&host);
    loop.AllocateMem(5000);
    EXPECT_EQ(loop.m_LoopLength, 5000);
    loop.m_LoopLength = 3000;
    loop.m_Pos = 2500.0f;
    loop.AllocateMem(8000);
    EXPECT_EQ(loop.m_LoopLength, 3000);
    EXPECT_EQ(loop.m_Pos, 2500.0f);
    loop.AllocateMem(2000);
    EXPECT_EQ(loop.m_LoopLength, 2000);
    EXPECT_EQ(loop.m_Pos, 0.0f);
    EXPECT_EQ(loop.GetTotalLength(), 2000);
}

TEST(LoopTest, WavFileRoundTripKeepsEveryValue)
{
    TempDir dir;
    std::mt19937 random(14);
    std::vector<short> sound = reference::RandomBlock(random, 12345);
    sound[0] = -32767;
    sound[1] = 32767;
    LoopHost host;
    Loop saved(&host);
    GiveSound(saved, sound);
    saved.m_LoopLength = 1000; // the whole buffer is saved, not the play length
    const std::string path = dir.File("loop.wav");
    saved.SaveWav(path);

    EXPECT_EQ(RunCommand("soxi -c '" + path + "'"), "1\n");
    EXPECT_EQ(RunCommand("soxi -s '" + path + "'"), "12345\n");

    Loop loaded(&host);
    loaded.LoadWav(path);
    EXPECT_EQ(Values(loaded.m_StoreBuffer), sound);
    EXPECT_EQ(loaded.m_LoopLength, 12345);
    EXPECT_EQ(loaded.GetTotalLength(), 12345);

    // The program's own file comes back byte for byte.
    loaded.SaveWav(dir.File("again.wav"));
    EXPECT_EQ(ReadFileBytes(dir.File("again.wav")), ReadFileBytes(path));

    // A loop with a shorter play length keeps it; a shorter file lowers it.
    loaded.m_LoopLength = 500;
    loaded.LoadWav(path);
    EXPECT_EQ(loaded.m_LoopLength, 500);

    // A sound never holds -32768.
    loaded.m_StoreBuffer.Set(0, -32768);
    loaded.SaveWav(path);
    loaded.LoadWav(path);
    EXPECT_EQ(loaded.m_StoreBuffer[0], -32767);
}

TEST(LoopTest, StereoFileIsMixedDownToOneValuePerFrame)
{
    TempDir dir;
    const std::string path = dir.File("stereo.wav");
    std::vector<short> interleaved = {1000, 3000, -3, 0, 32767, 32767, -32768, -32767, 5, -6};
    {
        WavFile file;
        ASSERT_TRUE(file.Open(path, WavFile::WRITE, WavFile::STEREO));
        Sample values;
        CopyInto(values, interleaved);
        file.Save(values);
    }
    EXPECT_EQ(RunCommand("soxi -c '" + path + "'"), "2\n");

    LoopHost host;
    Loop loop(&host);
    testing::internal::CaptureStderr();
    loop.LoadWav(path);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Stereo wav file..."), std::string::npos);
    EXPECT_EQ(Values(loop.m_StoreBuffer), (std::vector<short>{2000, -1, 32767, -32767, 0}));
    EXPECT_EQ(loop.m_LoopLength, 5);
    EXPECT_EQ(loop.GetTotalLength(), 5);
}

TEST(LoopTest, FilesThatCannotBeLoadedLeaveTheLoopAsItWas)
{
    TempDir dir;
    const std::string missing = dir.File("missing.wav");
    const std::string text = dir.File("text.wav");
    const std::string cut = dir.File("cut.flac");
    const std::string slow = dir.File("slow.wav");
    WriteFileBytes(text, "this is no sound\n");
    // A FLAC file cut short of its first frame, and a rate nothing can play.
    RunCommand("sox -n -r 48000 '" + cut + "' synth 1 sine 440 && truncate -s 2000 '" + cut + "'");
    RunCommand("sox -n -r 100 '" + slow + "' synth 1 sine 20");
    const std::pair<std::string, std::string> cases[] = {
        {missing, "WavFile: File open error [" + missing + "]\n"},
        {text, "WavFile: File open error, wrong format [" + text + "]\n"},
        {cut, "WavFile: Read error\n"},
        {slow, "WavFile: File open error, can't play a rate of 100 Hz [" + slow + "]\n"},
    };
    for (const auto &c : cases) {
        LoopHost host;
        Loop loop(&host);
        GiveSound(loop, Ramp(700));
        loop.m_LoopLength = 600;
        testing::internal::CaptureStderr();
        loop.LoadWav(c.first);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.second);
        EXPECT_EQ(Values(loop.m_StoreBuffer), Ramp(700)) << c.first;
        EXPECT_EQ(loop.m_LoopLength, 600) << c.first;
        EXPECT_FALSE(loop.IsLoading());
    }
}

TEST(LoopTest, SlicedLoadKeepsTheOldSoundUntilTheWholeFileIsReady)
{
    TempDir dir;
    const std::string path = dir.File("long.wav");
    RunCommand("sox -n -r 48000 -c 2 -b 24 '" + path + "' synth 3 sine 440");
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(700));
    loop.m_Pos = 650.0f;

    testing::internal::CaptureStderr();
    ASSERT_TRUE(loop.StartLoad(path));
    // A deadline already past still gets one chunk done, and no more.
    EXPECT_FALSE(loop.StepLoad(SoundFileLoad::Clock::now()));
    // A file that cannot be opened leaves the load under way alone.
    EXPECT_FALSE(loop.StartLoad(dir.File("missing.wav")));
    EXPECT_TRUE(loop.IsLoading());
    int steps = 1;
    for (; steps < 100000 && !loop.StepLoad(SoundFileLoad::Clock::now()); steps++) {
        ASSERT_EQ(Values(loop.m_StoreBuffer), Ramp(700));
        ASSERT_EQ(Values(loop.m_HoldBuffer).size(), 700u);
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(steps, 10);
    EXPECT_FALSE(loop.IsLoading());
    EXPECT_EQ(loop.m_StoreBuffer.GetLength(), 3 * 44100);
    EXPECT_EQ(loop.m_HoldBuffer.GetLength(), 3 * 44100);
    EXPECT_EQ(loop.m_LoopLength, 700);
    EXPECT_EQ(loop.m_Pos, 650.0f);

    // A take started while a load is under way is kept; the load is dropped.
    ASSERT_TRUE(loop.StartLoad(path));
    loop.m_Recording = true;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(loop.StepLoad(SoundFileLoad::Clock::time_point::max()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Loop: load dropped, the loop is recording [" + path + "]\n");
    EXPECT_FALSE(loop.IsLoading());
    EXPECT_EQ(loop.m_StoreBuffer.GetLength(), 3 * 44100);

    // A loop that goes while its load is under way takes the load with it.
    Loop leaving(&host);
    EXPECT_TRUE(leaving.StartLoad(path));
    leaving.StepLoad(SoundFileLoad::Clock::now());
}

TEST(LoopTest, SoundsTooBigForMemoryLeaveTheLoopPlayingAsBefore)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's reserved address space leaves no room for a limit";
#endif
    // Files whose sound chunk holds a billion values (sparsely, on the disk).
    TempDir dir;
    auto huge = [&](const char *name, WavFile::Channels channels) {
        const std::string path = dir.File(name);
        WavFile().Open(path, WavFile::WRITE, channels);
        std::string bytes = ReadFileBytes(path);
        WriteFileBytes(path, bytes.replace(40, 4, std::string("\x00\x94\x35\x77", 4))); // 2e9 bytes
        EXPECT_EQ(truncate(path.c_str(), 44 + 2000000000LL), 0);
        return path;
    };
    const std::string mono = huge("mono.wav", WavFile::MONO), stereo = huge("stereo.wav", WavFile::STEREO);
    LimitedRun run = RunWithLimit(RLIMIT_AS, 1L << 30, [&] {
        LoopHost host;
        Loop loop(&host);
        GiveSound(loop, Ramp(700));
        loop.m_LoopLength = 600;
        loop.LoadWav(mono);
        loop.LoadWav(stereo);
        loop.MatchLength(1000000000);
        Block(loop);
        bool kept = Values(loop.m_StoreBuffer) == Ramp(700) && loop.m_LoopLength == 600 &&
                    loop.GetTotalLength() == 700;
        std::cerr << (kept ? "kept" : "changed") << std::endl;
    });
    EXPECT_EQ(run.status, 0);
    const std::string loadFailed = "AllocateMem can't allocate any more memory!\n";
    EXPECT_EQ(run.errors, loadFailed + "Stereo wav file...\n" + loadFailed +
                              "Not enough memory for a sound of 1000000000 samples\nkept\n");
}

// A simulated loopback: B's input is what A played D frames before, as a
// performer playing along with A is heard back. Placed back by D (more than
// a block, not a whole number of them), a take and an overdub over it replay
// A sample for sample.
TEST(LoopTest, TakesPlacedBackByTheRoundTripLandInTimeWithWhatWasHeard)
{
    const int B = 64, D = 150, length = 40 * B;
    ScopedSetting<int> blockSize(KorvelInfo::BufferSize, B);
    std::mt19937 random(5);
    const std::vector<short> sound = reference::RandomBlock(random, length, 16000);
    LoopHost host;
    Loop a(&host), b(&host);
    GiveSound(a, sound);
    std::vector<short> heard, input(B);
    b.m_Input = input.data();
    std::vector<short> outA, outB;
    auto step = [&] {
        for (int i = 0; i < B; i++) {
            const size_t at = heard.size() + i;
            input[i] = at >= static_cast<size_t>(D) ? heard[at - D] : 0;
        }
        b.m_TakeLatency = D;
        outA = Block(a);
        outB = Block(b);
        heard.insert(heard.end(), outA.begin(), outA.end());
    };
    auto take = [&] {
        b.m_Recording = true;
        for (int i = 0; i < length / B; i++)
            step();
        b.RequestStop();
        for (int i = 0; i < 4 && !b.TakeEnded(); i++)
            step();
        ASSERT_TRUE(b.TakeEnded());
        b.EndRecord();
    };

    for (int i = 0; i < 7; i++)
        step();
    take();
    EXPECT_EQ(b.m_LoopLength, length);
    for (int i = 0; i < 2 * length / B; i++) {
        step();
        ASSERT_EQ(outB, outA) << "block " << i << " after the take";
    }
    take();
    for (int i = 0; i < length / B; i++)
        step();
    for (int i = 0; i < length / B; i++) {
        step();
        for (int j = 0; j < B; j++)
            ASSERT_EQ(outB[j], 2 * outA[j]) << "block " << i << " after the overdub, frame " << j;
    }
}

TEST(LoopTest, OverdubLayerFadesInAndOutPastItsStopOverWhatWasThere)
{
    ScopedSetting<int> rate(KorvelInfo::Samplerate, 8000);
    ScopedSetting<int> fadeMs(KorvelInfo::FadeMs, 5);
    ScopedSetting<int> blockSize(KorvelInfo::BufferSize, 64);
    const int F = 40, B = 64, length = 1000, start = 950;
    std::mt19937 random(17);
    const std::vector<short> sound = reference::RandomBlock(random, length, 10000);
    const std::vector<short> input = reference::RandomBlock(random, 8 * B, 10000);
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, sound);
    loop.m_Pos = start;
    std::vector<short> block(B);
    loop.m_Input = block.data();
    loop.m_Recording = true;
    for (int b = 0; b < 8 && loop.m_Recording; b++) {
        std::copy(input.begin() + b * B, input.begin() + (b + 1) * B, block.begin());
        if (b == 3) loop.RequestStop();
        Block(loop);
    }
    EXPECT_FALSE(loop.m_Recording);
    loop.EndRecord();

    // The layer goes on F samples past the stop, fading out, round the seam.
    const int layer = 3 * B + F;
    std::vector<float> expected(sound.begin(), sound.end());
    for (int k = 0; k < layer; k++) {
        const float gain = std::min(1.0f, (k + 0.5f) / F) * std::min(1.0f, (layer - k - 0.5f) / F);
        expected[(start + k) % length] += input[k] * gain;
    }
    for (int i = 0; i < length; i++)
        ASSERT_NEAR(loop.m_StoreBuffer[i], expected[i], 1.0f) << "at " << i;
}
