#include "Loop.h"

#include "KorvelSound/ReferenceEngine.h"
#include "LoopHost.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const int B = 512; // the built-in block length

// What a step restores: the sound and the play length.
std::pair<std::vector<short>, int64_t> Of(const Loop &loop)
{
    return {reference::Values(loop.m_StoreBuffer), loop.m_LoopLength};
}

void GiveSound(Loop &loop, int length)
{
    loop.AllocateMem(length);
    for (int i = 0; i < length; i++)
        loop.m_StoreBuffer.Set(i, static_cast<short>(i % 3000 - 1500));
    loop.m_LoopLength = length - 100;
}

// Through the Record button, which keeps the state before the take as it goes down.
void Take(Loop &loop, int blocks = 3, bool end = true)
{
    Sample out(B);
    loop.m_Recording = true;
    loop.BeginChange();
    for (int i = 0; i < blocks; i++)
        loop.GetOutput(out);
    loop.m_Recording = !end;
    if (end) loop.EndRecord();
}

} // namespace

TEST(LoopHistoryTest, EveryChangeUndoesAndRedoesBitIdentically)
{
    TempDir dir;
    RunCommand("sox -n -r 44100 -c 1 -b 16 " + dir.File("silence.wav") + " trim 0 3000s");
    Sample input(B);
    for (int i = 0; i < B; i++)
        input.Set(i, 100);

    Sample out(B);
    const std::vector<std::pair<const char *, std::function<void(Loop &)>>> changes = {
        {"Cut", [](Loop &l) { l.Cut(B, 3 * B); }},
        {"Paste", [](Loop &l) { l.Paste(B); }},
        {"Mix", [](Loop &l) { l.PasteMix(100); }},
        {"Silence", [](Loop &l) { l.Silence(10, 500); }},
        {"Reverse", [](Loop &l) { l.Reverse(10, 500); }},
        {"Halve", [](Loop &l) { l.Halve(); }},
        {"Double", [](Loop &l) { l.Double(); }},
        {"Keep", [&](Loop &l) { l.GetOutput(out), l.KeepHold(); }},
        // One drag of the sound, press included, is one step.
        {"Rotate", [](Loop &l) { l.Rotate(0), l.Rotate(5, true), l.Rotate(-40, true); }},
        {"Match longer", [](Loop &l) { l.MatchLength(20000); }},
        {"Match shorter", [](Loop &l) { l.MatchLength(1000); }},
        {"Load", [&](Loop &l) { l.LoadWav(dir.File("silence.wav")); }},
        {"Overdub", [](Loop &l) { Take(l); }},
        {"Fresh take", [](Loop &l) { Take(l); }},
    };
    for (auto &change : changes) {
        LoopHost host;
        Loop loop(&host);
        if (std::string(change.first) != "Fresh take") {
            GiveSound(loop, 10 * B);
            loop.Copy(0, 2 * B);
        }
        loop.m_Pos = loop.m_LoopLength - 1.5f;
        loop.m_Speed = 2;
        loop.m_Input = input.GetBuffer();
        const auto before = Of(loop);
        change.second(loop);
        const auto after = Of(loop);
        ASSERT_NE(after, before) << change.first;

        EXPECT_TRUE(loop.Undo() && Of(loop) == before) << change.first;
        EXPECT_FALSE(loop.Undo()) << change.first << ": one change, one step";
        EXPECT_TRUE(loop.Redo() && Of(loop) == after) << change.first;
        EXPECT_FALSE(loop.Redo()) << change.first;
        EXPECT_EQ(loop.m_HoldBuffer.GetLength(), loop.m_StoreBuffer.GetLength()) << change.first;
        EXPECT_LE(loop.m_Pos, loop.m_LoopLength) << change.first;
    }
}

TEST(LoopHistoryTest, UndoDuringATakeEndsItAndDropsWhatItRecorded)
{
    LoopHost host;
    Loop loop(&host);
    GiveSound(loop, 10 * B);
    Sample input(B), out(B);
    for (int i = 0; i < B; i++)
        input.Set(i, 100);
    loop.m_Input = input.GetBuffer();
    const auto before = Of(loop);

    // An edit during an overdub is a step of its own between two parts of the take.
    Take(loop, 2, false);
    const auto firstPart = Of(loop);
    loop.Reverse(0, B);
    const auto reversed = Of(loop);
    loop.GetOutput(out);
    EXPECT_TRUE(loop.Undo() && Of(loop) == reversed);
    EXPECT_FALSE(loop.m_Recording);
    EXPECT_TRUE(loop.Undo() && Of(loop) == firstPart);
    EXPECT_TRUE(loop.Undo() && Of(loop) == before);

    // A take that recorded nothing only ends; what could be redone stays.
    loop.m_Input = nullptr;
    Take(loop, 2, false);
    EXPECT_FALSE(loop.Undo() || loop.m_Recording);
    EXPECT_EQ(Of(loop), before);
    EXPECT_TRUE(loop.Redo() && Of(loop) == firstPart);
}

TEST(LoopHistoryTest, TheLimitDropsTheOldestStepsOfAnyLoopFirst)
{
    LoopHost host;
    const int64_t stepBytes = 4 * B * sizeof(short);
    host.m_HistoryBudget.m_Limit = 3 * stepBytes;
    Loop first(&host);
    std::unique_ptr<Loop> second(new Loop(&host));
    GiveSound(first, 4 * B);
    GiveSound(*second, 4 * B);
    for (Loop *loop : {&first, second.get(), &first, second.get()})
        loop->Reverse(0, 100);
    EXPECT_EQ(first.m_History.UndoSteps(), 1u);
    EXPECT_EQ(second->m_History.UndoSteps(), 2u);
    EXPECT_EQ(host.m_HistoryBudget.m_Used, 3 * stepBytes);

    // A closed loop gives its steps back.
    second.reset();
    EXPECT_EQ(host.m_HistoryBudget.m_Used, stepBytes);
}

TEST(LoopHistoryTest, AStepBiggerThanTheLimitStaysWhileItIsTheNearestAndCostsOtherLoopsNothing)
{
    LoopHost host;
    const int64_t stepBytes = 4 * B * sizeof(short);
    host.m_HistoryBudget.m_Limit = 4 * stepBytes;
    Loop other(&host), loop(&host);
    GiveSound(other, 4 * B);
    other.Reverse(0, 100);
    other.Reverse(0, 50);
    GiveSound(loop, 4 * B);
    const auto first = Of(loop);
    loop.Reverse(0, 100);
    const auto second = Of(loop);
    loop.MatchLength(20 * B); // more than the whole limit
    const auto big = Of(loop);

    // Neither the sound heard nor the one undo or redo brings back is lost.
    EXPECT_TRUE(loop.Undo() && Of(loop) == second);
    EXPECT_TRUE(loop.Redo() && Of(loop) == big);
    EXPECT_TRUE(loop.Undo() && Of(loop) == second);
    EXPECT_EQ(other.m_History.UndoSteps(), 2u);
    EXPECT_EQ(host.m_HistoryBudget.m_Used, 3 * stepBytes);

    // Once it is no longer the next redo, the big sound goes, with one line.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(loop.Undo() && Of(loop) == first);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "A sound of 10240 samples is bigger than the undo memory: redo can no longer bring it back\n");
    EXPECT_TRUE(loop.Redo() && Of(loop) == second);
    EXPECT_FALSE(loop.Redo());
    EXPECT_EQ(other.m_History.UndoSteps(), 2u);
    EXPECT_EQ(host.m_HistoryBudget.m_Used, 3 * stepBytes);
}
