#include "Loop.h"

#include "KorvelInfo.h"
#include "KorvelSound/ReferenceEngine.h"
#include "LoopHost.h"

#include <gtest/gtest.h>

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
