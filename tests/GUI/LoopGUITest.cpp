#include "AppTestFixture.h"

#include "GUI/DelayGUI.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "GUI/LoopStateBar.h"
#include "GUI/ReverbGUI.h"
#include "TestSupport.h"
#include "WidgetTestSupport.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Output.H>

#include <vector>

namespace {

class LoopGUITest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_App->NewLoop();
        m_Panel = PanelAt(0);
        m_Loop = LoopAt(0);
    }

    Fl_Trigger *Marker(float angle, int target, int count = 0)
    {
        Fl_Trigger *marker = m_Panel->NewTrigger();
        marker->m_Angle = angle;
        marker->m_TargetID = target;
        marker->m_Count = count;
        return marker;
    }

    // The Record button pressed or released, then cycles of a steady input.
    void Record(bool down, int cycles = 0)
    {
        m_Input.assign(KorvelInfo::BufferSize, 1000);
        m_Loop->m_Input = m_Input.data();
        m_Panel->m_RecordBtn->value(down);
        m_Panel->m_RecordBtn->do_callback();
        for (int i = 0; i < cycles; i++)
            m_App->Run();
    }

    LoopGUI *m_Panel = nullptr;
    Loop *m_Loop = nullptr;
    std::vector<short> m_Input;
};

class ScriptedChooser : public FileChooser
{
public:
    std::string Ask(const char *title, const char *pattern) override
    {
        m_Titles.push_back(std::string(title) + " " + pattern);
        return m_Answer;
    }
    std::string m_Answer;
    std::vector<std::string> m_Titles;
};

} // namespace

TEST_F(LoopGUITest, MarkersGoToTheLoopAsEditedAndShowWhatTheEngineCounted)
{
    Fl_Trigger *marker = Marker(90.0f, 4, 2);
    m_Panel->PushMarkers();
    ASSERT_EQ(m_Loop->m_Markers.size(), 1u);
    EXPECT_FLOAT_EQ(m_Loop->m_Markers[0].m_Angle, 90.0f);
    EXPECT_EQ(m_Loop->m_Markers[0].m_TargetID, 4);
    EXPECT_EQ(m_Loop->m_Markers[0].m_Count, 2);

    m_Loop->m_Markers[0].m_Passes = 2;
    m_Loop->m_Playing = false;
    m_Panel->ShowEngineState();
    EXPECT_EQ(marker->m_Passes, 2);
    EXPECT_EQ(m_Panel->m_PlayBtn->value(), 0);
}

TEST_F(LoopGUITest, CutoffSliderSetsBypassAndCutoff)
{
    m_Panel->m_CutoffSlider->value(0);
    m_Panel->m_CutoffSlider->do_callback();
    EXPECT_TRUE(m_Loop->m_Filter.m_Bypass);
    EXPECT_EQ(m_Loop->m_Filter.m_Cutoff, 10010.0);
    m_Panel->m_CutoffSlider->value(100);
    m_Panel->m_CutoffSlider->do_callback();
    EXPECT_FALSE(m_Loop->m_Filter.m_Bypass);
    EXPECT_EQ(m_Loop->m_Filter.m_Cutoff, 10.0);
    m_Panel->m_EmphasisKnob->value(9.5);
    m_Panel->m_EmphasisKnob->do_callback();
    EXPECT_EQ(m_Loop->m_Filter.m_Resonance, 10.0);
}

TEST_F(LoopGUITest, BalanceSendsTheLoopToOneSide)
{
    m_Panel->m_BalanceKnob->value(0);
    m_Panel->m_BalanceKnob->do_callback();
    EXPECT_FLOAT_EQ(m_Loop->m_LeftVol, 1.0f);
    EXPECT_FLOAT_EQ(m_Loop->m_RightVol, 0.0f);
    m_Panel->m_BalanceKnob->value(2);
    m_Panel->m_BalanceKnob->do_callback();
    EXPECT_FLOAT_EQ(m_Loop->m_LeftVol, 0.0f);
    EXPECT_FLOAT_EQ(m_Loop->m_RightVol, 1.0f);
    EXPECT_FLOAT_EQ(m_Loop->m_Pan, 2.0f);
}

TEST_F(LoopGUITest, EffectsPressedTwiceReturnsTheWindowToItsHeight)
{
    m_Panel->m_EffectsBtn->value(1);
    m_Panel->m_EffectsBtn->do_callback();
    // The state bar stays at the window's foot, under the effect panels.
    EXPECT_EQ(m_Panel->m_Display->h(), 430 + LoopStateBar::Height);
    EXPECT_EQ(m_Panel->m_StateBar->y(), 430);
    EXPECT_TRUE(m_Panel->m_DelayGUI->m_Group->visible());
    EXPECT_TRUE(m_Loop->m_EffectsOn);
    m_Panel->m_EffectsBtn->value(0);
    m_Panel->m_EffectsBtn->do_callback();
    EXPECT_EQ(m_Panel->m_Display->h(), 300 + LoopStateBar::Height);
    EXPECT_EQ(m_Panel->m_StateBar->y(), 300);
    EXPECT_FALSE(m_Panel->m_DelayGUI->m_Group->visible());
    EXPECT_FALSE(m_Loop->m_EffectsOn);
}

TEST_F(LoopGUITest, MatchWithoutMasterDoesNothingAndWithMasterSharesItsPeriod)
{
    FillLoop(0, 30000, [](int i) { return i % 100; });
    m_Loop->m_Speed = 1.5f;
    m_Panel->m_MatchBtn->do_callback();
    EXPECT_EQ(m_Loop->m_StoreBuffer.GetLength(), 30000);
    EXPECT_FLOAT_EQ(m_Loop->m_Speed, 1.5f);

    // A longer master: the loop is padded and plays all of it, one period.
    m_App->LoopHost::SetMaster(9, 44100.0f, 2.0f);
    m_Panel->m_MatchBtn->do_callback();
    EXPECT_EQ(m_Loop->m_StoreBuffer.GetLength(), 44100);
    EXPECT_EQ(m_Loop->m_LoopLength, 44100);
    EXPECT_FLOAT_EQ(m_Loop->m_Speed, 2.0f);
    EXPECT_EQ(m_Panel->m_Display->m_Data, m_Loop->m_StoreBuffer.GetBuffer());
    EXPECT_FLOAT_EQ(m_Panel->m_SpeedKnob->value(), 2.0f);
    EXPECT_FLOAT_EQ(m_Panel->m_SecondsOut->value(), 1.0f);
    EXPECT_FLOAT_EQ(m_Panel->m_RatioOut->value(), 1.0f);
}

TEST_F(LoopGUITest, ReadoutsShowTheNewLoopAndTheEndedTake)
{
    EXPECT_EQ(m_Panel->m_SpeedOut->value(), 1.0);
    Record(true, 100);
    Record(false);
    EXPECT_FLOAT_EQ(m_Panel->m_SecondsOut->value(), 100.0f * KorvelInfo::BufferSize / KorvelInfo::Samplerate);
}

TEST_F(LoopGUITest, KeepingWhatIsHeardDuringATakeLosesNothing)
{
    // Two record blocks, then the take is heard for a while at 0.9 of its length.
    Record(true, 65);
    m_Panel->m_LengthKnob->value(0.9);
    m_Panel->m_LengthKnob->do_callback();
    Record(true, 20);
    m_Loop->KeepHold(); // Ctrl+S, as the display's request does
    Record(true, 65);
    Record(false);
    EXPECT_EQ(m_Loop->m_StoreBuffer.GetLength(), 150 * KorvelInfo::BufferSize);
    EXPECT_EQ(m_Loop->m_LoopLength, 150 * KorvelInfo::BufferSize);
}

TEST_F(LoopGUITest, ReverbTitleEndsBeforeItsFirstKnob)
{
    m_Panel->m_Display->position(0, 150); // clear of the main window
    ReverbGUI &panel = m_App->m_ReverbGUI;
    ASSERT_TRUE(WidgetTest::ShowAndDraw(m_App->m_Window));
    // With the knob hidden, whatever shows where it stands belongs to the title.
    panel.m_TimeKnob->hide();
    WidgetTest::RedrawNow(m_App->m_Window);
    WidgetTest::Image image(m_App->m_Window);
    const int x = panel.m_TimeKnob->x(), y = panel.m_Group->y();
    EXPECT_EQ(image.Count(WidgetTest::IndexColour(panel.m_Group->color()), x, y + 3, x + 39, y + 20),
              40 * 18);
}

TEST_F(LoopGUITest, LengthKnobSetsThePlayLengthAndReadouts)
{
    FillLoop(0, 44100, [](int) { return 0; });
    m_Panel->m_LengthKnob->value(0.5);
    m_Panel->m_LengthKnob->do_callback();
    EXPECT_EQ(m_Loop->m_LoopLength, 22050);
    EXPECT_EQ(m_Panel->m_Display->m_Length, 22050);
    EXPECT_FLOAT_EQ(m_Panel->m_SecondsOut->value(), 0.5f);
}

TEST_F(LoopGUITest, UpdateValuesShowsAnUnsetFilterAsBypassed)
{
    m_Loop->m_Volume = 0.25f;
    m_Loop->m_Speed = 2.0f;
    m_Panel->m_CutoffSlider->value(50);
    m_Panel->UpdateValues();
    EXPECT_EQ(m_Panel->m_CutoffSlider->value(), 0.0); // cutoff -1: not a NaN
    EXPECT_FLOAT_EQ(m_Panel->m_VolumeSlider->value(), 0.75f);
    EXPECT_FLOAT_EQ(m_Panel->m_SpeedKnob->value(), 2.0f);
    m_Loop->m_Filter.m_Cutoff = 2510;
    m_Panel->UpdateValues();
    EXPECT_FLOAT_EQ(m_Panel->m_CutoffSlider->value(), 50.0f);
}

TEST_F(LoopGUITest, LoadAsksForAFileAndCancellingChangesNothing)
{
    ScriptedChooser chooser;
    FileChooser::SetCurrent(&chooser);
    m_Panel->m_LoadBtn->do_callback();
    ASSERT_EQ(chooser.m_Titles.size(), 1u);
    // The title stays; the pattern offers the formats that load.
    EXPECT_EQ(chooser.m_Titles[0].find("Pick a Wav file to load Sound Files (*.{wav,"), 0u);
    for (const char *format : {"aiff", "flac", "ogg", "caf"})
        EXPECT_NE(chooser.m_Titles[0].find(format), std::string::npos) << format;
    EXPECT_EQ(m_Loop->m_StoreBuffer.GetLength(), 0);

    TempDir dir;
    Loop source(m_App.get());
    source.AllocateMem(3000);
    for (int i = 0; i < 3000; i++)
        source.m_StoreBuffer.Set(i, static_cast<short>(i - 1500));
    source.SaveWav(dir.File("in.wav"));
    chooser.m_Answer = dir.File("in.wav");
    m_Panel->m_LoadBtn->do_callback();
    FileChooser::SetCurrent(nullptr);
    // The audio cycles bring the sound in.
    for (int cycle = 0; cycle < 1000 && m_Loop->IsLoading(); cycle++)
        m_App->Run();
    EXPECT_EQ(m_Loop->m_StoreBuffer.GetLength(), 3000);
    EXPECT_EQ(m_Loop->m_StoreBuffer[2999], 1499);
    EXPECT_EQ(m_Panel->m_Display->m_Length, 3000);
    EXPECT_EQ(m_Panel->m_Display->m_Data, m_Loop->m_StoreBuffer.GetBuffer());

    // A loop closed while it loads goes with its load.
    chooser.m_Answer = dir.File("in.wav");
    FileChooser::SetCurrent(&chooser);
    m_Panel->m_LoadBtn->do_callback();
    FileChooser::SetCurrent(nullptr);
    EXPECT_TRUE(m_Loop->IsLoading());
    m_Panel->m_Display->do_callback();
    m_App->Run();
    EXPECT_TRUE(m_App->m_Loops.empty());
}

TEST_F(LoopGUITest, ClosingTheWindowAsksForRemoval)
{
    m_Panel->m_Display->do_callback();
    EXPECT_TRUE(m_Loop->m_Delete);
    EXPECT_FALSE(m_Panel->m_Display->shown());
    m_App->Run();
    EXPECT_TRUE(m_App->m_Loops.empty());
}

TEST_F(LoopGUITest, EffectPanelsControlTheLoopsOwnEffects)
{
    m_Panel->m_DelayGUI->m_DelayKnob->value(0.25);
    m_Panel->m_DelayGUI->m_DelayKnob->do_callback();
    EXPECT_FLOAT_EQ(m_Loop->m_Delay.m_DelayL, 0.25f);
    EXPECT_FLOAT_EQ(m_Loop->m_Delay.m_DelayR, 0.25f);
    m_Panel->m_DelayGUI->m_BypassBtn->value(0);
    m_Panel->m_DelayGUI->m_BypassBtn->do_callback();
    EXPECT_FALSE(m_Loop->m_Delay.m_Bypass);

    m_Panel->m_ReverbGUI->m_FeedbackKnob->value(0.3);
    m_Panel->m_ReverbGUI->m_FeedbackKnob->do_callback();
    for (Delay *stage : m_Loop->m_Reverb.m_Delays)
        EXPECT_FLOAT_EQ(stage->m_Feedback, 0.3f);
    m_Panel->m_ReverbGUI->m_TimeKnob->value(0.2);
    m_Panel->m_ReverbGUI->m_TimeKnob->do_callback();
    EXPECT_FLOAT_EQ(m_Loop->m_Reverb.m_Time, 0.2f);

    m_Loop->m_Delay.m_DelayR = 0.9f;
    m_Panel->m_DelayGUI->m_DelayKnob->value(0.0);
    m_Panel->UpdateValues();
    EXPECT_FLOAT_EQ(m_Panel->m_DelayGUI->m_DelayKnob->value(), 0.25f); // reads back the left time
}
