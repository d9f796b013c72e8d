#include "Engine/AudioEngine.h"

#include "KorvelSound/Delay.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Reverb.h"
#include "Loop.h"
#include "LoopHost.h"
#include "LoopTestSupport.h"
#include "SavedSettings.h"

#include <gtest/gtest.h>

namespace {

class EngineHost : public LoopHost
{
public:
    AudioEngine *Engine() override { return m_Engine; }
    AudioEngine *m_Engine = nullptr;
};

class AudioEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KorvelInfo::WantRealtimeOut = false;
        Output::Unpaced = true;
        m_Output.reset(new Output(2));
        m_Engine.reset(new AudioEngine(*m_Output, m_Delay, m_Reverb));
        m_Host.m_Engine = m_Engine.get();
        m_Loop.reset(new Loop(&m_Host));
        GiveSound(*m_Loop, Ramp(1000));
        m_Engine->SetLoops({m_Loop.get()});
    }

    SavedSettings m_Saved;
    Delay m_Delay;
    Reverb m_Reverb;
    std::unique_ptr<Output> m_Output;
    std::unique_ptr<AudioEngine> m_Engine;
    EngineHost m_Host;
    std::unique_ptr<Loop> m_Loop;
};

} // namespace

TEST_F(AudioEngineTest, ChangesWaitForTheBlockWhileLiveAndAHeldLoopKeepsItsTime)
{
    Loop *loop = m_Loop.get();
    AudioEngine::Post(m_Engine.get(), [loop] { loop->m_Volume = 0.5f; });
    EXPECT_EQ(loop->m_Volume, 0.5f); // no audio thread: at once

    m_Engine->SetLive(true);
    AudioEngine::Post(m_Engine.get(), [loop] { loop->m_Volume = 0.25f; });
    EXPECT_EQ(loop->m_Volume, 0.5f);
    ASSERT_TRUE(m_Engine->Block());
    EXPECT_EQ(loop->m_Volume, 0.25f);

    // Two blocks the GUI held the loop through: it is left alone, then goes
    // on where playing would have brought it.
    LoopHost plain;
    Loop played(&plain);
    GiveSound(played, Ramp(1000));
    Block(played);
    {
        HandOverHold hold(loop->m_HandOver);
        ASSERT_TRUE(m_Engine->Block());
        ASSERT_TRUE(m_Engine->Block());
        EXPECT_EQ(loop->m_Pos, played.m_Pos);
    }
    ASSERT_TRUE(m_Engine->Block());
    for (int b = 0; b < 3; b++)
        Block(played);
    EXPECT_EQ(loop->m_Pos, played.m_Pos);

    // The whole engine held: no block at all.
    {
        HandOverHold hold(m_Engine->m_Whole);
        EXPECT_FALSE(m_Engine->Block());
    }
    EXPECT_EQ(m_Engine->HeldBlocks(), 1);

    // An engine that makes no block (its server stands still): waiting for
    // it ends with the changes made on this side, none left for it to make
    // later on a loop the windows have moved on from.
    AudioEngine::Post(m_Engine.get(), [loop] { loop->m_Volume = 0.125f; });
    m_Engine->WaitForCommands();
    EXPECT_EQ(loop->m_Volume, 0.125f);
    loop->m_Volume = 1.0f;
    ASSERT_TRUE(m_Engine->Block());
    EXPECT_EQ(loop->m_Volume, 1.0f);
    m_Engine->SetLive(false);
}

TEST_F(AudioEngineTest, AFreshTakeIntoItsRoomLosesNothingWhileTheLoopIsHeld)
{
    const int B = KorvelInfo::BufferSize;
    Loop fresh(&m_Host);
    std::vector<short> input(B);
    fresh.m_Input = input.data();
    m_Engine->SetLoops({m_Loop.get(), &fresh});
    m_Engine->SetLive(true);
    fresh.BeginChange();
    fresh.PrepareTake();
    AudioEngine::Post(m_Engine.get(), [&fresh] { fresh.m_Recording = true; });
    // Enough blocks to fill several of the room's blocks, the loop held for
    // some of them and the take collected now and then, as the GUI does.
    const int blocks = 3 * Loop::RecordBlockSize / B + 5;
    for (int b = 0; b < blocks; b++) {
        for (int i = 0; i < B; i++)
            input[i] = static_cast<short>((b * B + i) % 30000);
        if (b % 7 == 3) {
            HandOverHold hold(fresh.m_HandOver);
            m_Engine->Block();
        } else {
            m_Engine->Block();
        }
        if (b % 11 == 0) fresh.CollectTake();
    }
    AudioEngine::Post(m_Engine.get(), [&fresh] { fresh.m_Recording = false; });
    m_Engine->Block();
    fresh.EndRecord();
    m_Engine->SetLive(false);
    ASSERT_EQ(fresh.m_StoreBuffer.GetLength(), blocks * B);
    for (int i = 0; i < blocks * B; i++)
        ASSERT_EQ(fresh.m_StoreBuffer[i], i % 30000) << i;
    EXPECT_EQ(fresh.m_LoopLength, blocks * B);
}

TEST_F(AudioEngineTest, PedalsActInTheBlockOfTheirFrameAndATakeTheyStartIsOneUndoStep)
{
    const int B = KorvelInfo::BufferSize;
    Loop *loop = m_Loop.get();
    std::vector<short> input(B, 100);
    loop->m_Input = input.data();
    EnginePedal play;
    play.m_Number = 60;
    play.m_LoopID = loop->m_ID;
    EnginePedal record = play;
    record.m_Number = 62;
    record.m_Action = EnginePedal::Record;
    record.m_Mode = MidiBinding::Held;
    m_Engine->SetPedals({play, record});
    const unsigned char playOn[3] = {0x90, 60, 100}, recordOn[3] = {0x90, 62, 100},
                        recordOff[3] = {0x80, 62, 0};

    // With no sound kept ready for undo the press is left to the window.
    EXPECT_FALSE(m_Engine->MidiEvent(recordOn, 3, 0));

    EXPECT_TRUE(m_Engine->MidiEvent(playOn, 3, 2 * B + 5));
    ASSERT_TRUE(m_Engine->Block());
    ASSERT_TRUE(m_Engine->Block());
    EXPECT_TRUE(loop->m_Playing);
    ASSERT_TRUE(m_Engine->Block());
    EXPECT_FALSE(loop->m_Playing);
    loop->m_Playing = true;

    // An overdub from frame 3B + 37 to 5B + 11, to the frame: the loop stood
    // still through block 2, so it plays position f - B at frame f.
    loop->PrepareForPedal();
    const std::vector<short> before = reference::Values(loop->m_StoreBuffer);
    std::vector<short> expected = before;
    for (int f = 3 * B + 37; f < 5 * B + 11; f++)
        expected[(f - B) % expected.size()] += 100;
    EXPECT_TRUE(m_Engine->MidiEvent(recordOn, 3, 37));
    EXPECT_TRUE(m_Engine->MidiEvent(recordOff, 3, 2 * B + 11));
    for (int i = 0; i < 4; i++)
        ASSERT_TRUE(m_Engine->Block());
    EXPECT_TRUE(loop->TakeEnded());
    EXPECT_EQ(reference::Values(loop->m_StoreBuffer), expected);

    // The window follows: the take is one step, undone to the sound kept ready.
    EXPECT_TRUE(loop->m_PedalTake.load());
    loop->BeginPedalTake();
    loop->EndRecord();
    EXPECT_TRUE(loop->Undo());
    EXPECT_EQ(reference::Values(loop->m_StoreBuffer), before);
}

TEST_F(AudioEngineTest, AnOverdubGoesOnThroughTheBlocksItsLoopIsHeld)
{
    const int B = KorvelInfo::BufferSize;
    Loop *held = m_Loop.get();
    Loop free(&m_Host);
    GiveSound(free, Ramp(1000));
    m_Engine->SetLoops({held, &free});
    std::vector<short> input(B);
    held->m_Input = free.m_Input = input.data();
    held->BeginTake();
    free.BeginTake();
    for (int block = 0; block < 8; block++) {
        for (int i = 0; i < B; i++)
            input[i] = static_cast<short>(block * 7 + i % 5 + 1);
        if (block == 2) held->m_HandOver.Take();
        if (block == 5) held->m_HandOver.Give();
        ASSERT_TRUE(m_Engine->Block());
    }
    held->StopTake();
    held->EndRecord();
    free.StopTake();
    free.EndRecord();
    EXPECT_NE(reference::Values(free.m_StoreBuffer), Ramp(1000));
    EXPECT_EQ(reference::Values(held->m_StoreBuffer), reference::Values(free.m_StoreBuffer));
    EXPECT_EQ(held->m_Pos, free.m_Pos);
}
