#include "Loop.h"

#include "KorvelInfo.h"
#include "KorvelSound/ReferenceEngine.h"
#include "LoopHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using reference::Values;

namespace {

std::vector<short> Ramp(int length, int start = 1)
{
    std::vector<short> values(length);
    for (int i = 0; i < length; i++)
        values[i] = static_cast<short>((start + i) % 30000);
    return values;
}

void GiveSound(Loop &loop, const std::vector<short> &sound)
{
    loop.AllocateMem(static_cast<int>(sound.size()));
    for (size_t i = 0; i < sound.size(); i++)
        loop.m_StoreBuffer[static_cast<int>(i)] = sound[i];
    loop.m_LoopLength = static_cast<int64_t>(sound.size());
}

} // namespace

TEST(LoopEditingTest, DoubleRepeatsThePlayedPartOnly)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(40000));
    loop.m_LoopLength = 30000;
    loop.Double();
    std::vector<short> expected = Ramp(30000);
    std::vector<short> twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    EXPECT_EQ(Values(loop.m_StoreBuffer), twice);
    EXPECT_EQ(loop.m_LoopLength, 60000);
    EXPECT_EQ(loop.GetTotalLength(), 60000);
}

TEST(LoopEditingTest, HalveKeepsTheFirstHalfRoundedUpInBothBuffers)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(1001));
    loop.m_Pos = 800.0f;
    loop.Halve();
    EXPECT_EQ(Values(loop.m_StoreBuffer), Ramp(501));
    EXPECT_EQ(loop.m_HoldBuffer.GetLength(), 501);
    EXPECT_EQ(loop.m_LoopLength, 501);
    EXPECT_EQ(loop.m_Pos, 0.0f);

    Loop empty(&host);
    empty.Halve();
    EXPECT_EQ(empty.m_StoreBuffer.GetLength(), 0);
    EXPECT_EQ(empty.m_LoopLength, 0);
}

TEST(LoopEditingTest, MatchLengthShortensPadsOrCreates)
{
    LoopHost host;
    Loop longer(&host);
    GiveSound(longer, Ramp(40000));
    longer.m_LoopLength = 35000;
    longer.MatchLength(50000);
    std::vector<short> padded = Ramp(40000);
    padded.resize(50000, 0);
    EXPECT_EQ(Values(longer.m_StoreBuffer), padded);
    EXPECT_EQ(longer.m_HoldBuffer.GetLength(), 50000);
    EXPECT_EQ(longer.m_LoopLength, 50000); // one period of the master

    Loop shorter(&host);
    GiveSound(shorter, Ramp(40000));
    shorter.MatchLength(30000);
    EXPECT_EQ(shorter.m_LoopLength, 30000);
    EXPECT_EQ(Values(shorter.m_StoreBuffer), Ramp(40000));

    Loop empty(&host);
    empty.MatchLength(20000);
    EXPECT_EQ(Values(empty.m_StoreBuffer), std::vector<short>(20000, 0));
    EXPECT_EQ(empty.m_HoldBuffer.GetLength(), 20000);
    EXPECT_EQ(empty.m_LoopLength, 20000);
}

TEST(LoopEditingTest, CutMovesWholeBlocksToTheClipboard)
{
    ASSERT_EQ(KorvelInfo::BufferSize, 512);
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(5000));
    loop.m_Pos = 4500.0f;
    loop.Cut(0, 1300);
    EXPECT_EQ(Values(host.m_Clipboard), Ramp(1024));
    EXPECT_EQ(Values(loop.m_StoreBuffer), Ramp(5000 - 1024, 1025));
    EXPECT_EQ(loop.m_LoopLength, 5000 - 1024);
    EXPECT_EQ(loop.m_Pos, 0.0f);
    EXPECT_EQ(loop.GetTotalLength(), 5000 - 1024);

    loop.Cut(0, 500);
    EXPECT_EQ(host.m_Clipboard.GetLength(), 0);
    EXPECT_EQ(Values(loop.m_StoreBuffer), Ramp(5000 - 1024, 1025));
}

TEST(LoopEditingTest, PasteNeverRaisesThePlayLength)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(2000));
    loop.m_LoopLength = 1500;
    loop.Copy(0, 1024);
    EXPECT_EQ(Values(loop.m_StoreBuffer), Ramp(2000));
    loop.Paste(100);
    EXPECT_EQ(loop.m_StoreBuffer.GetLength(), 3024);
    EXPECT_EQ(loop.m_LoopLength, 1500);
    EXPECT_EQ(loop.GetTotalLength(), 3024);
    EXPECT_EQ(loop.m_StoreBuffer[100], 1);
    EXPECT_EQ(loop.m_StoreBuffer[1124], 101);
}

TEST(LoopEditingTest, CutFromOneLoopAndPasteIntoAnotherRestoresTheSound)
{
    LoopHost host;
    Loop source(&host);
    Loop target(&host);
    GiveSound(source, Ramp(4096));
    GiveSound(target, Ramp(1024, 20000));
    source.Cut(1024, 3072);
    target.Paste(512);
    std::vector<short> expected = Ramp(1024, 20000);
    std::vector<short> moved = Ramp(2048, 1025);
    expected.insert(expected.begin() + 512, moved.begin(), moved.end());
    EXPECT_EQ(Values(target.m_StoreBuffer), expected);

    // And back again.
    source.Paste(1024);
    EXPECT_EQ(Values(source.m_StoreBuffer), Ramp(4096));
}

TEST(LoopEditingTest, PasteMixAddsWithClampingAndWrapsAndLeavesAnEmptyLoopAlone)
{
    LoopHost host;
    Loop source(&host);
    GiveSound(source, std::vector<short>(512, 30000));
    source.Copy(0, 512);

    Loop loop(&host);
    GiveSound(loop, std::vector<short>(600, 1000));
    loop.PasteMix(300);
    EXPECT_EQ(loop.m_StoreBuffer[299], 1000);
    EXPECT_EQ(loop.m_StoreBuffer[300], 31000);
    EXPECT_EQ(loop.m_StoreBuffer[0], 31000); // wrapped round the end
    EXPECT_EQ(loop.m_StoreBuffer[211], 31000);
    EXPECT_EQ(loop.m_StoreBuffer[212], 1000);
    loop.PasteMix(0);
    EXPECT_EQ(loop.m_StoreBuffer[0], 32767);

    Loop empty(&host);
    empty.PasteMix(0);
    EXPECT_EQ(empty.m_StoreBuffer.GetLength(), 0);
}

TEST(LoopEditingTest, SilenceReverseAndRotateWorkOnTheSoundOnly)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, Ramp(10));
    loop.m_Pos = 3.0f;
    loop.Silence(2, 5);
    EXPECT_EQ(Values(loop.m_StoreBuffer), (std::vector<short>{1, 2, 0, 0, 0, 6, 7, 8, 9, 10}));
    loop.Reverse(5, 10);
    EXPECT_EQ(Values(loop.m_StoreBuffer), (std::vector<short>{1, 2, 0, 0, 0, 10, 9, 8, 7, 6}));
    loop.Rotate(-1);
    EXPECT_EQ(Values(loop.m_StoreBuffer), (std::vector<short>{6, 1, 2, 0, 0, 0, 10, 9, 8, 7}));
    EXPECT_EQ(loop.m_Pos, 3.0f);
    EXPECT_EQ(loop.m_HoldBuffer.GetLength(), 10);
}

TEST(LoopEditingTest, FadedEditsCrossTheirJoinsInOneUndoStep)
{
    reference::ScopedSetting<int> rate(KorvelInfo::Samplerate, 8000);
    reference::ScopedSetting<int> fadeMs(KorvelInfo::FadeMs, 5);
    reference::ScopedSetting<int> blockSize(KorvelInfo::BufferSize, 16);
    const int F = 40;
    std::mt19937 random(18);
    const std::vector<short> sound = reference::RandomBlock(random, 2000, 20000);
    // The k-th sample from a join: almost all `from` next to it, all its own F away.
    auto cross = [F](float from, float own, int k) { return from + (own - from) * (k + 0.5f) / F; };
    auto expectNear = [](const Loop &loop, const std::vector<float> &expected, const char *edit) {
        ASSERT_EQ(loop.m_StoreBuffer.GetLength(), static_cast<int>(expected.size())) << edit;
        for (size_t i = 0; i < expected.size(); i++)
            ASSERT_NEAR(loop.m_StoreBuffer[static_cast<int>(i)], expected[i], 1.0f) << edit << " at " << i;
    };
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, sound);

    // A cut: what followed crosses in from what was cut.
    loop.Cut(160, 480);
    std::vector<float> expected(sound.begin(), sound.end());
    expected.erase(expected.begin() + 160, expected.begin() + 480);
    for (int k = 0; k < F; k++)
        expected[160 + k] = cross(sound[160 + k], sound[480 + k], k);
    expectNear(loop, expected, "cut");
    ASSERT_TRUE(loop.Undo());
    ASSERT_EQ(Values(loop.m_StoreBuffer), sound);

    // Pasted back elsewhere: in from the sound it splits, out to what led there.
    const std::vector<short> clip = Values(host.m_Clipboard);
    const int C = static_cast<int>(clip.size());
    loop.Paste(1000);
    expected.assign(sound.begin(), sound.end());
    expected.insert(expected.begin() + 1000, clip.begin(), clip.end());
    for (int k = 0; k < F; k++) {
        expected[1000 + k] = cross(sound[1000 + k], clip[k], k);
        expected[1000 + C - 1 - k] = cross(sound[999 - k], clip[C - 1 - k], k);
    }
    expectNear(loop, expected, "paste");
    ASSERT_TRUE(loop.Undo());

    loop.Silence(100, 900);
    expected.assign(sound.begin(), sound.end());
    std::fill(expected.begin() + 100, expected.begin() + 900, 0.0f);
    for (int k = 0; k < F; k++) {
        expected[100 + k] = cross(sound[100 + k], 0.0f, k);
        expected[899 - k] = cross(sound[899 - k], 0.0f, k);
    }
    expectNear(loop, expected, "silence");
    ASSERT_TRUE(loop.Undo());

    // Doubled, the seam is in the middle too: nothing goes on either side, so it dips.
    loop.Double();
    expected.assign(sound.begin(), sound.end());
    expected.insert(expected.end(), sound.begin(), sound.end());
    for (int k = 0; k < F; k++) {
        expected[2000 + k] = cross(0.0f, sound[k], k);
        expected[1999 - k] = cross(0.0f, sound[1999 - k], k);
    }
    expectNear(loop, expected, "double");
    ASSERT_TRUE(loop.Undo());
    EXPECT_EQ(Values(loop.m_StoreBuffer), sound);
}
