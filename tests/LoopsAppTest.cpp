#include "AppTestFixture.h"

#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LevelMeter.h"
#include "GUI/LoopGUI.h"
#include "GUI/LoopStateBar.h"
#include "GUI/LoopStrip.h"
#include "GUI/Question.h"
#include "GUI/StatusLine.h"
#include "GUI/TimeGUI.h"
#include "TestSupport.h"
#include "GUI/WidgetTestSupport.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cmath>
#include <iostream>
#include <cstring>
#include <limits>
#include <thread>

using LoopsAppTest = AppTest;

TEST_F(LoopsAppTest, WithNoLoopsEveryCycleWritesSilence)
{
    for (int cycle = 0; cycle < 3; cycle++) {
        m_App->Run();
        const Sample &out = m_App->m_Output.m_Buffer;
        ASSERT_EQ(out.GetLength(), 2 * KorvelInfo::BufferSize);
        for (int i = 0; i < out.GetLength(); i++)
            ASSERT_EQ(out.m_Data[i], 0) << "value " << i;
    }
}

TEST_F(LoopsAppTest, LoopIsMixedWithItsGainsAndTheMasterVolume)
{
    m_App->NewLoop();
    FillLoop(0, 4 * KorvelInfo::BufferSize, [](int i) { return (i % 200) * 100 - 9999; });
    Loop *loop = LoopAt(0);
    loop->SetPan(0.5f); // left 0.75, right 0.25
    m_App->Run();
    for (int i = 0; i < KorvelInfo::BufferSize; i++) {
        int sound = (i % 200) * 100 - 9999;
        int afterVolume = static_cast<int>(static_cast<float>(sound) * 0.5f);
        ASSERT_EQ(Left(i), static_cast<int>(static_cast<float>(afterVolume) * 0.75f)) << i;
        ASSERT_EQ(Right(i), static_cast<int>(static_cast<float>(afterVolume) * 0.25f)) << i;
    }
}

TEST_F(LoopsAppTest, FullScaleLoopsClipAndStoppedLoopsAreSilent)
{
    for (int id = 0; id < 3; id++) {
        m_App->NewLoop();
        FillLoop(id, KorvelInfo::BufferSize * 2, [](int) { return 32767; });
    }
    m_App->m_Output.m_Volume = 1.0f;
    m_App->Run();
    EXPECT_EQ(Left(10), 32767);
    EXPECT_EQ(Right(10), 32767);

    // A stopped loop's block is not mixed: with two of three stopped, one
    // loop's worth is heard.
    LoopAt(1)->m_Playing = false;
    LoopAt(2)->m_Playing = false;
    m_App->m_Output.m_Volume = 0.25f;
    m_App->Run();
    EXPECT_EQ(Left(10), static_cast<int>(32767 * 0.25f));
}

TEST_F(LoopsAppTest, ClosedLoopsGoOnePerCycleLowestFirst)
{
    m_App->NewLoop();
    m_App->NewLoop();
    m_App->NewLoop();
    LoopAt(2)->m_Delete = true;
    LoopAt(1)->m_Delete = true;
    m_App->Run();
    EXPECT_EQ(m_App->m_Loops.count(1), 0u);
    EXPECT_EQ(m_App->m_Loops.count(2), 1u);
    m_App->Run();
    EXPECT_EQ(m_App->m_Loops.count(2), 0u);
    EXPECT_EQ(m_App->m_Loops.size(), 1u);
}

TEST_F(LoopsAppTest, LoopNumbersAreNeverReused)
{
    m_App->NewLoop();
    m_App->NewLoop();
    m_App->NewLoop();
    LoopAt(1)->m_Delete = true;
    m_App->Run();
    m_App->NewLoop();
    EXPECT_EQ(m_App->m_Loops.count(3), 1u);
    EXPECT_EQ(LoopAt(3)->m_ID, 3);
    m_App->ClearLoops();
    EXPECT_TRUE(m_App->m_Loops.empty());
    m_App->NewLoop();
    EXPECT_EQ(m_App->m_Loops.begin()->first, 4);
    EXPECT_EQ(LoopAt(4)->m_ID, 4);

    // At its top the counter gives no number, rather than overflow.
    m_App->m_NextID = std::numeric_limits<int>::max() - 1;
    m_App->NewLoop();
    m_App->NewLoop();
    EXPECT_EQ(m_App->m_Loops.rbegin()->first, std::numeric_limits<int>::max() - 1);
    EXPECT_EQ(m_App->m_Loops.size(), 2u);
}

TEST_F(LoopsAppTest, TriggerRestartsItsTargetWithinTheSameCycle)
{
    int block = KorvelInfo::BufferSize;
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(0, 100 * block, [](int) { return 1000; });
    FillLoop(1, 100 * block, [](int i) { return i % 1000; });
    Fl_Trigger *marker = PanelAt(0)->NewTrigger();
    marker->m_Angle = 90.0f;
    marker->m_TargetID = 1;

    Loop *target = LoopAt(1);
    target->m_Pos = 5000.0f;
    target->m_Playing = false;
    PanelAt(1)->m_PlayBtn->value(0);

    LoopAt(0)->m_Pos = 25.0f * block - 10; // just below a quarter of the ring
    m_App->Run();                          // angle below 90: nothing
    EXPECT_FALSE(target->m_Playing);
    m_App->Run(); // the angle passes 90
    EXPECT_TRUE(target->m_Playing);
    EXPECT_EQ(PanelAt(1)->m_PlayBtn->value(), 1);
    // Restarted from 0 and rendered one block in the same cycle.
    EXPECT_FLOAT_EQ(target->m_Pos, static_cast<float>(block));
}

TEST_F(LoopsAppTest, TriggerNamingAMissingLoopRestartsNothing)
{
    m_App->NewLoop();
    FillLoop(0, 10 * KorvelInfo::BufferSize, [](int) { return 0; });
    Fl_Trigger *marker = PanelAt(0)->NewTrigger();
    marker->m_Angle = 1.0f;
    marker->m_TargetID = 7;
    marker->m_Count = 5;
    LoopAt(0)->m_Pos = 0.0f;
    m_App->Run();
    m_App->Run();
    EXPECT_EQ(marker->m_Passes, 1); // it fired, and the missing loop was skipped
    EXPECT_EQ(m_App->m_Loops.size(), 1u);
}

TEST_F(LoopsAppTest, MarkersFireOncePerLapWhereStepsEndAndAtTheStartButNeverOnAJump)
{
    // Sixteen blocks: every step ends on a multiple of 22.5 degrees.
    const int length = 16 * KorvelInfo::BufferSize;
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(0, length, [](int) { return 0; });
    FillLoop(1, 2 * length, [](int) { return 0; });
    auto marker = [this](int id, float angle, int target) {
        Fl_Trigger *made = PanelAt(id)->NewTrigger();
        made->m_Angle = angle;
        made->m_TargetID = target;
        made->m_Count = 10; // so that m_Passes counts
        return made;
    };
    // Loop 0 restarts the twice as long loop 1 every lap: loop 1 never plays to 300.
    Fl_Trigger *start = marker(0, 0.0f, 7), *restart = marker(0, 45.0f, 1), *unreached = marker(1, 300.0f, 7);
    for (int cycle = 0; cycle < 3 * 16 + 1; cycle++)
        m_App->Run();
    EXPECT_EQ(start->m_Passes, 3);
    EXPECT_EQ(restart->m_Passes, 3);
    EXPECT_EQ(unreached->m_Passes, 0);
}

TEST_F(LoopsAppTest, MasterButtonLightsItsOwnLoopOnlyAndOnlyAMovingOne)
{
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(0, 44100, [](int) { return 0; });
    FillLoop(1, 22050, [](int) { return 0; });
    // A press toggles the light before the button's handler runs.
    auto press = [this](int id) {
        PanelAt(id)->m_MasterBtn->value(!PanelAt(id)->m_MasterBtn->value());
        PanelAt(id)->m_MasterBtn->do_callback();
    };
    press(1);
    EXPECT_TRUE(LoopAt(1)->m_Master); // what a saved workspace keeps
    LoopAt(0)->m_Speed = 2.0f;
    press(0);
    EXPECT_TRUE(LoopAt(0)->m_Master);
    EXPECT_EQ(PanelAt(0)->m_MasterBtn->value(), 1);
    EXPECT_EQ(m_App->m_MasterID, 0);
    EXPECT_FLOAT_EQ(m_App->m_MasterLength, 44100.0f);
    EXPECT_FLOAT_EQ(m_App->m_MasterPeriod, 22050.0f);
    EXPECT_FALSE(LoopAt(1)->m_Master);
    EXPECT_EQ(PanelAt(1)->m_MasterBtn->value(), 0);
    // Loop 1's period is 22050 samples, the master's too: ratio 1.
    EXPECT_FLOAT_EQ(LoopAt(1)->GetMasterRatio(), 1.0f);

    // A loop that stands still cannot lead: nothing changes, the light stays off.
    LoopAt(1)->m_Speed = 0.0f;
    press(1);
    EXPECT_FALSE(LoopAt(1)->m_Master);
    EXPECT_EQ(PanelAt(1)->m_MasterBtn->value(), 0);
    EXPECT_TRUE(LoopAt(0)->m_Master);
}

TEST_F(LoopsAppTest, SnapPointsReachEveryLoopAndTheDisplay)
{
    m_App->NewLoop();
    m_App->NewLoop();
    EXPECT_EQ(m_App->m_SnapOut->value(), 0.0); // shows 0 although the knob starts at 2

    m_App->SnapPointsChanged(0.0);
    EXPECT_EQ(m_App->m_SnapOut->value(), 0.0);

    m_App->SnapPointsChanged(1.0);
    EXPECT_EQ(PanelAt(0)->m_Display->m_SnapDegrees, 360);
    m_App->SnapPointsChanged(7.0);
    EXPECT_EQ(PanelAt(1)->m_Display->m_SnapDegrees, 51);
    Fl_Trigger *marker = PanelAt(1)->NewTrigger();
    m_App->SnapPointsChanged(50.0);
    EXPECT_EQ(PanelAt(1)->m_Display->m_SnapDegrees, 7);
    EXPECT_EQ(marker->m_SnapDegrees, 7);
    EXPECT_EQ(m_App->m_SnapOut->value(), 50.0);
    // Below one point there is no angle: the knob cannot go there, a call can.
    for (double below : {0.5, -3.0, std::nan("")})
        m_App->SnapPointsChanged(below);
    EXPECT_EQ(PanelAt(1)->m_Display->m_SnapDegrees, 7);
    EXPECT_EQ(m_App->m_SnapOut->value(), 50.0);

    m_App->SnapChanged(true);
    EXPECT_TRUE(PanelAt(0)->m_Display->m_Snap);
    EXPECT_TRUE(marker->m_Snap);

    // A loop made afterwards starts with its own defaults.
    m_App->NewLoop();
    EXPECT_FALSE(PanelAt(2)->m_Display->m_Snap);
    EXPECT_EQ(PanelAt(2)->m_Display->m_SnapDegrees, 45);
}

namespace {

class Answer : public Question
{
public:
    bool Ask(const std::string &, const char *, const char *) override
    {
        m_Asked++;
        return m_Yes;
    }
    bool m_Yes = false;
    int m_Asked = 0;
};

} // namespace

TEST_F(LoopsAppTest, AClosedLoopComesBackWithItsSoundAndHistoryAndQuittingAsksWhileSoundIsNotSaved)
{
    m_App->CreateWindow()->show();
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(1, 1000, [](int i) { return i; });
    Loop *loop = LoopAt(1);
    loop->Double();
    loop->m_Delete = true;
    m_App->Run();
    EXPECT_EQ(m_App->m_Loops.count(1), 0u);
    EXPECT_TRUE(m_App->m_ReopenBtn->active());
    m_App->ReopenLoop();
    ASSERT_EQ(LoopAt(1), loop);
    EXPECT_FALSE(m_App->m_ReopenBtn->active());
    EXPECT_EQ(loop->m_StoreBuffer.GetLength(), 2000);
    EXPECT_TRUE(loop->Undo());
    EXPECT_EQ(loop->m_StoreBuffer.GetLength(), 1000);

    Answer answer;
    Question::SetCurrent(&answer);
    m_App->CloseMain();
    EXPECT_EQ(answer.m_Asked, 1);
    EXPECT_TRUE(m_App->m_Window->shown());
    m_App->MarkSaved();
    answer.m_Yes = false;
    m_App->CloseMain();
    EXPECT_EQ(answer.m_Asked, 1);
    EXPECT_EQ(Fl::first_window(), nullptr);
    Question::SetCurrent(nullptr);
}

TEST_F(LoopsAppTest, TheLastMessageShowsUnderTheMainPanelForAFewSeconds)
{
    m_App->CreateWindow();
    testing::internal::CaptureStderr();
    std::cerr << "first line" << std::endl << "mail@example: second line" << std::endl;
    m_App->Run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "first line\nmail@example: second line\n");
    ASSERT_NE(m_App->m_Status->label(), nullptr);
    EXPECT_STREQ(m_App->m_Status->label(), "mail@@example: second line");
    EXPECT_STREQ(m_App->m_Status->tooltip(), "first line\nmail@example: second line");
    m_App->m_Status->Show({},
                          std::chrono::steady_clock::now() + std::chrono::seconds(StatusLine::ShownSeconds));
    EXPECT_EQ(m_App->m_Status->label(), nullptr);
}

TEST_F(LoopsAppTest, TheMainWindowShowsEveryLoopsStateAndTheLevels)
{
    m_App->CreateWindow();
    for (int i = 0; i < 4; i++)
        m_App->NewLoop();
    FillLoop(0, 4 * KorvelInfo::BufferSize, [](int i) { return i % 2 ? 32767 : -32767; });
    FillLoop(1, 4 * KorvelInfo::BufferSize, [](int) { return 0; });
    FillLoop(2, 4 * KorvelInfo::BufferSize, [](int i) { return i % 100; });
    LoopAt(1)->m_Playing = false;
    static short input[65536];
    LoopAt(2)->m_Input = input;
    PanelAt(2)->m_RecordBtn->value(1);
    PanelAt(2)->m_RecordBtn->do_callback();
    m_App->Run();
    m_App->Run();
    const std::vector<LoopStrip::Cell> &cells = m_App->m_Strip->m_Cells;
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].m_State, LoopStrip::Playing);
    EXPECT_EQ(cells[1].m_State, LoopStrip::Stopped);
    EXPECT_EQ(cells[2].m_State, LoopStrip::Overdubbing);
    EXPECT_EQ(cells[3].m_State, LoopStrip::Empty);
    // The loop window says it too, in large on the state's colour.
    LoopGUI *dubbing = PanelAt(2);
    EXPECT_EQ(dubbing->m_StateBar->m_State, LoopStrip::Overdubbing);
    using namespace WidgetTest;
    ASSERT_TRUE(ShowAndDraw(dubbing->m_Display)); // raised over the others
    const Image picture(dubbing->m_Display);
    const Rgb orange = IndexColour(LoopStrip::Colour(LoopStrip::Overdubbing));
    const int top = picture.Height() - LoopStateBar::Height;
    EXPECT_GT(picture.Count(orange, 0, top, LoopStateBar::StateWidth, top + 20), 1000);
    EXPECT_EQ(picture.Count(orange, 0, top - 30, 300, top - 1), 0);
    EXPECT_EQ(cells[0].m_Level, 1.0);
    EXPECT_EQ(cells[1].m_Level, 0.0);
    // Full scale at half volume through the output: not clipped.
    EXPECT_GT(m_App->m_OutMeter->m_Level, 0.8);
    EXPECT_FALSE(m_App->m_OutMeter->m_Clipped);
    m_App->m_OutMeter->Show(32767);
    EXPECT_TRUE(m_App->m_OutMeter->m_Clipped);
    LoopAt(0)->m_Volume = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    m_App->Run();
    EXPECT_EQ(cells[0].m_State, LoopStrip::Muted);
    PanelAt(2)->m_RecordBtn->value(0);
    PanelAt(2)->m_RecordBtn->do_callback();
}

TEST_F(LoopsAppTest, AFileLongerThanTheKeptPlayLengthSaysWhatIsLeftOut)
{
    TempDir dir;
    const std::string path = dir.File("long.wav");
    RunCommand("sox -n -r 44100 -c 1 -b 16 '" + path + "' synth 2 sine 440");
    m_App->CreateWindow();
    m_App->NewLoop();
    FillLoop(0, 44100, [](int i) { return i % 100; });
    testing::internal::CaptureStderr();
    ASSERT_TRUE(LoopAt(0)->StartLoad(path));
    for (int cycle = 0; cycle < 1000 && LoopAt(0)->IsLoading(); cycle++)
        m_App->Run();
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Loop 0: plays 1 s of the file's 2 s (its play length was kept; \"Length\" plays more)"),
              std::string::npos);
    // The ring marks where the sound goes on; the loop's window says why.
    EXPECT_TRUE(PanelAt(0)->m_Display->m_Cut);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    m_App->Run();
    const char *said = PanelAt(0)->m_StateBar->m_Status->label();
    EXPECT_TRUE(said && std::strstr(said, "Loop 0: plays 1 s"));
}

TEST_F(LoopsAppTest, TapsOrTheFirstTakeMakeTheTempoAndTheGridStartsWhereTheyDo)
{
    m_App->CreateWindow();
    TimeGUI &time = m_App->m_TimeGUI;
    const auto start = std::chrono::steady_clock::now();
    time.Tap(start);
    EXPECT_EQ(time.m_Settings.m_Bpm, 0); // one tap is no tempo
    for (int i = 1; i <= 3; i++)
        time.Tap(start + std::chrono::milliseconds(500 * i));
    EXPECT_EQ(time.m_Settings.m_Bpm, 120);
    EXPECT_DOUBLE_EQ(m_App->m_Engine.m_Transport.Map().m_Bpm, 120);

    // With no tempo, a first take of a 4/4 bar makes it; bars start at the
    // loop's start.
    time.m_Settings = TimeSettings();
    time.m_Settings.m_FirstBars = 1;
    time.UpdateValues();
    m_App->NewLoop();
    static short input[65536];
    LoopAt(0)->m_Input = input;
    PanelAt(0)->m_RecordBtn->value(1);
    PanelAt(0)->m_RecordBtn->do_callback();
    for (int i = 0; i < KorvelInfo::Samplerate / KorvelInfo::BufferSize + 5; i++)
        m_App->Run();
    testing::internal::CaptureStderr();
    PanelAt(0)->m_RecordBtn->value(0);
    PanelAt(0)->m_RecordBtn->do_callback();
    m_App->Run();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Loop 0 makes the tempo"), std::string::npos);
    const double seconds = static_cast<double>(LoopAt(0)->m_LoopLength) / KorvelInfo::Samplerate;
    EXPECT_NEAR(time.m_Settings.m_Bpm, 60 * 4 / seconds, 1e-9);
    const TempoMap &map = m_App->m_Engine.m_Transport.Map();
    const double inBar = std::fmod(map.BeatAt(m_App->m_Engine.Frame()), 4);
    EXPECT_NEAR(inBar * map.FramesPerBeat(), LoopAt(0)->m_Pos, 1.0);

    // Asked to, Match makes whole bars of the grid, with no master loop.
    time.m_Settings.m_MatchBars = true;
    m_App->NewLoop();
    FillLoop(1, 100000, [](int i) { return i % 100; });
    PanelAt(1)->m_MatchBtn->do_callback();
    const double bar = map.FramesPerBar();
    EXPECT_EQ(LoopAt(1)->m_LoopLength, std::llround(std::round(100000 / bar) * bar));

    // A loop made master is the tempo's source, "First loop" bars long.
    time.m_Settings.m_FirstBars = 2;
    PanelAt(1)->m_MasterBtn->value(1);
    PanelAt(1)->m_MasterBtn->do_callback();
    EXPECT_NEAR(time.m_Settings.m_Bpm, 60.0 * 8 * KorvelInfo::Samplerate / LoopAt(1)->m_LoopLength, 1e-6);
}
