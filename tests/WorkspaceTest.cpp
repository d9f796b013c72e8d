#include "WorkspaceTestFixture.h"

#include "GUI/DelayGUI.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>

#include <set>
#include <string>
#include <vector>

namespace {

class AnsweringChooser : public FileChooser
{
public:
    std::string Ask(const char *title, const char *pattern) override
    {
        m_Title = title;
        m_Pattern = pattern;
        return m_Answer;
    }
    std::string m_Answer, m_Title, m_Pattern;
};

} // namespace

TEST_F(WorkspaceTest, EmptyWorkspaceIsHeaderMastersAndZeroCountWithoutWavFiles)
{
    AnsweringChooser chooser;
    chooser.m_Answer = Lws();
    FileChooser::SetCurrent(&chooser);
    Workspace::Save(m_App.get());
    FileChooser::SetCurrent(nullptr);

    EXPECT_EQ(chooser.m_Title, "Save a Workspace");
    EXPECT_EQ(chooser.m_Pattern, "*.lws");
    // Master delay and reverb as built, each with its extra space; no master
    // loop yet (-1); no newline at the end.
    EXPECT_EQ(ReadFileBytes(Lws()), "KorvelLoops WorkSpace File Ver 1\n0.5 0.5 1  0 0.2 0.01 1  0 1 0 -1 0 ");
    EXPECT_EQ(FilesIn(m_Dir.Path()), std::set<std::string>{"a.lws"});
}

TEST_F(WorkspaceTest, ChooserTitlesAndCancelling)
{
    AnsweringChooser chooser;
    FileChooser::SetCurrent(&chooser);
    m_App->NewLoop();
    Workspace::Save(m_App.get()); // cancelled: empty answer
    Workspace::Load(m_App.get());
    EXPECT_EQ(chooser.m_Title, "Load a Workspace");
    EXPECT_EQ(chooser.m_Pattern, "*.lws");
    EXPECT_TRUE(FilesIn(m_Dir.Path()).empty());
    EXPECT_EQ(m_App->m_Loops.size(), 1u);

    chooser.m_Answer = Lws();
    Workspace::Save(m_App.get());
    m_App->NewLoop();
    Workspace::Load(m_App.get());
    FileChooser::SetCurrent(nullptr);
    EXPECT_EQ(m_App->m_Loops.size(), 1u);
    EXPECT_EQ(m_App->m_Loops.count(0), 1u);
}

TEST_F(WorkspaceTest, LoopsTwoAndFiveGoInOrderWithOneWavFileEach)
{
    MakeLoops(2, 5);
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));

    EXPECT_EQ(FilesIn(m_Dir.Path()), (std::set<std::string>{"a.lws", "aLoop2.wav", "aLoop5.wav"}));
    std::vector<std::string> tokens = Tokens(ReadFileBytes(Lws()));
    ASSERT_EQ(tokens.size(), FirstEntryToken + 2 * EntryTokens);
    EXPECT_EQ(tokens[CountToken], "2");
    EXPECT_EQ(tokens[FirstEntryToken], "2");
    EXPECT_EQ(tokens[FirstEntryToken + 1], "2");
    EXPECT_EQ(tokens[FirstEntryToken + EntryTokens], "5");
    EXPECT_EQ(tokens[FirstEntryToken + EntryTokens + 1], "5");

    // The WAV files as another program reads them: the whole sound, mono,
    // and a header-only file for the empty loop.
    EXPECT_EQ(RunCommand("soxi -s '" + m_Dir.File("aLoop2.wav") + "'"), "1000\n");
    EXPECT_EQ(RunCommand("soxi -c '" + m_Dir.File("aLoop2.wav") + "'"), "1\n");
    EXPECT_EQ(RunCommand("soxi -s '" + m_Dir.File("aLoop5.wav") + "'"), "0\n");
}

TEST_F(WorkspaceTest, VersionOneLoadsVersionTwoIsRefusedAndChangesNothing)
{
    m_App->NewLoop();
    m_App->NewLoop();
    Loop *before = LoopAt(1);

    WriteFileBytes(Lws("new.lws"), "Something Else Entirely Here 2\n0.5 0.5 1  0 0.2 0.01 1  0 1 0 -1 0 ");
    std::string printed = RefusedLoad(Lws("new.lws"));
    EXPECT_EQ(printed, "Bad file, or more recent version.\n");
    ASSERT_EQ(m_App->m_Loops.size(), 2u);
    EXPECT_EQ(LoopAt(1), before);
    EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 1"), 1);

    // The header words are not compared, only the version.
    WriteFileBytes(Lws("old.lws"), "Something Else Entirely Here 1\n0.5 0.5 1  0 0.2 0.01 1  0 1 0 -1 0 ");
    EXPECT_TRUE(Workspace::LoadFrom(m_App.get(), Lws("old.lws")));
    EXPECT_TRUE(m_App->m_Loops.empty());
    EXPECT_EQ(m_App->m_NextID, 2);
}

TEST_F(WorkspaceTest, NextLoopNumberRisesPastNumbersReadButNeverFalls)
{
    MakeLoops(2, 5);
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));

    m_App->m_NextID = 3;
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));
    EXPECT_EQ(m_App->m_NextID, 6);
    m_App->m_NextID = 9;
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));
    EXPECT_EQ(m_App->m_NextID, 9);

    ASSERT_EQ(m_App->m_Loops.size(), 2u);
    for (int id : {2, 5}) {
        EXPECT_EQ(LoopAt(id)->m_ID, id);
        EXPECT_EQ(ShownWindowsLabelled("KorvelLoop " + std::to_string(id)), 1);
    }
}

TEST_F(WorkspaceTest, SaveAndLoadRestoreLoopPanelMarkersAndMasters)
{
    m_App->NewLoop();
    FillLoop(0, 2000, [](int i) { return (i % 100) * 300 - 15000; });
    Loop *loop = LoopAt(0);
    loop->m_Pos = 123.456789f;
    loop->m_DisplayPos = 123;
    loop->m_HoldPos = 77;
    loop->m_Playing = false;
    loop->m_LoopLength = 1500;
    loop->m_Speed = 0.75f;
    loop->m_Volume = 0.8f;
    loop->SetPan(0.3f);
    loop->m_Filter.m_Cutoff = 2510;
    loop->m_Filter.m_Resonance = 4;
    loop->m_Filter.m_CutoffModInvert = true;
    loop->m_Delay.m_DelayL = 0.25f;
    loop->m_Delay.m_Feedback = 0.7f;
    loop->m_Delay.m_Bypass = false;
    loop->m_Reverb.m_Random = 0.005f;
    loop->m_Reverb.SetTime(0.1f);
    loop->m_Reverb.SetFeedback(0.6f);
    loop->m_Reverb.m_Bypass = false;
    PanelAt(0)->m_EffectsBtn->value(1);
    PanelAt(0)->m_EffectsBtn->do_callback();
    PanelAt(0)->SetMaster(true);
    m_App->SetMaster(0, 1500.0f, 0.75f);
    m_App->m_Delay.m_DelayL = 0.3f;
    m_App->m_Delay.m_Bypass = false;

    Fl_Trigger *first = PanelAt(0)->NewTrigger();
    first->m_Angle = 90.5f;
    first->m_TargetID = 3;
    first->m_Count = 2;
    first->m_Passes = 1;
    first->m_MaxID = 12;
    Fl_Trigger *second = PanelAt(0)->NewTrigger();
    second->m_Angle = 271.123456f;
    second->m_MaxCount = 4;
    PanelAt(0)->m_Display->resize(40, 50, 300, 430);

    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    EXPECT_EQ(m_App->m_Delay.m_DelayR, 0.3f); // saving makes both times equal

    // Load into a changed application, with a plug-in feeding the loops.
    m_App->ClearLoops();
    m_App->NewLoop();
    m_App->m_Delay.m_DelayL = m_App->m_Delay.m_DelayR = 0.9f;
    m_App->m_MasterID = 8;
    Sample pluginBlock;
    pluginBlock.Allocate(KorvelInfo::BufferSize);
    m_App->m_Plugin.m_Output = &pluginBlock;
    bool loaded = Workspace::LoadFrom(m_App.get(), Lws());
    m_App->m_Plugin.m_Output = nullptr;
    ASSERT_TRUE(loaded);

    ASSERT_EQ(m_App->m_Loops.size(), 1u);
    loop = LoopAt(0);
    LoopGUI *panel = PanelAt(0);
    EXPECT_FLOAT_EQ(loop->m_Pos, 123.457f); // six significant digits
    EXPECT_EQ(loop->m_DisplayPos, 123);
    EXPECT_EQ(loop->m_HoldPos, 77);
    EXPECT_FALSE(loop->m_Playing);
    EXPECT_TRUE(loop->m_Master);
    EXPECT_EQ(loop->m_LoopLength, 1500);
    EXPECT_FLOAT_EQ(loop->m_Speed, 0.75f);
    EXPECT_FLOAT_EQ(loop->m_Volume, 0.8f);
    EXPECT_FLOAT_EQ(loop->m_Pan, 0.3f);
    EXPECT_FLOAT_EQ(loop->m_LeftVol, 0.85f);
    EXPECT_FLOAT_EQ(loop->m_RightVol, 0.15f);
    EXPECT_EQ(loop->m_Filter.m_Cutoff, 2510);
    EXPECT_EQ(loop->m_Filter.m_Resonance, 4);
    EXPECT_TRUE(loop->m_Filter.m_CutoffModInvert);
    EXPECT_FALSE(loop->m_Filter.m_ResonanceModInvert);
    EXPECT_FALSE(loop->m_Filter.m_Bypass);
    EXPECT_TRUE(loop->m_EffectsOn);
    EXPECT_FLOAT_EQ(loop->m_Delay.m_DelayL, 0.25f);
    EXPECT_FLOAT_EQ(loop->m_Delay.m_DelayR, 0.25f);
    EXPECT_FLOAT_EQ(loop->m_Delay.m_Feedback, 0.7f);
    EXPECT_FALSE(loop->m_Delay.m_Bypass);
    EXPECT_FLOAT_EQ(loop->m_Reverb.m_Time, 0.1f);
    EXPECT_FLOAT_EQ(loop->m_Reverb.m_Random, 0.005f);
    EXPECT_FALSE(loop->m_Reverb.m_Bypass);
    EXPECT_EQ(loop->m_Input, pluginBlock.GetBuffer());
    EXPECT_EQ(loop->m_GUI, panel);

    ASSERT_EQ(loop->m_StoreBuffer.GetLength(), 2000);
    ASSERT_EQ(loop->m_HoldBuffer.GetLength(), 2000);
    for (int i = 0; i < 2000; i++)
        ASSERT_EQ(loop->m_StoreBuffer[i], (i % 100) * 300 - 15000) << i;
    // A loaded performance has nothing to undo, its loaded sounds included.
    EXPECT_FALSE(loop->Undo());
    EXPECT_EQ(loop->m_StoreBuffer.GetLength(), 2000);

    Fl_Loop *display = panel->m_Display;
    EXPECT_EQ(display->x(), 40);
    EXPECT_EQ(display->y(), 50);
    EXPECT_EQ(display->w(), 300);
    EXPECT_EQ(display->h(), 430);
    EXPECT_STREQ(display->label(), "KorvelLoop 0");
    EXPECT_EQ(display->m_Data, loop->m_StoreBuffer.GetBuffer());
    EXPECT_EQ(display->m_Length, 1500);
    EXPECT_EQ(panel->m_PlayBtn->value(), 0);
    EXPECT_EQ(panel->m_MasterBtn->value(), 1);
    EXPECT_EQ(panel->m_EffectsBtn->value(), 1);
    EXPECT_NEAR(panel->m_SpeedKnob->value(), 0.75, 1e-6);

    ASSERT_EQ(panel->m_Triggers.size(), 2u);
    Fl_Trigger *a = panel->m_Triggers[0];
    Fl_Trigger *b = panel->m_Triggers[1];
    EXPECT_EQ(a->parent(), display);
    EXPECT_EQ(b->parent(), display);
    EXPECT_EQ(a->m_CentreX, 150);
    EXPECT_EQ(a->m_CentreY, 150);
    EXPECT_EQ(a->m_Radius, 125);
    EXPECT_FLOAT_EQ(a->m_Angle, 90.5f);
    EXPECT_EQ(a->m_TargetID, 3);
    EXPECT_EQ(a->m_Count, 2);
    EXPECT_EQ(a->m_Passes, 1);
    EXPECT_EQ(a->m_MaxID, 12);
    EXPECT_EQ(a->m_MaxCount, 10);
    EXPECT_FLOAT_EQ(b->m_Angle, 271.123f);
    EXPECT_EQ(b->m_TargetID, 0);
    EXPECT_EQ(b->m_MaxCount, 4);

    EXPECT_FLOAT_EQ(m_App->m_MasterLength, 1500.0f);
    EXPECT_FLOAT_EQ(m_App->m_MasterSpeed, 0.75f);
    EXPECT_FLOAT_EQ(m_App->m_MasterPeriod, 2000.0f);
    EXPECT_EQ(m_App->m_MasterID, 0);
    EXPECT_FLOAT_EQ(m_App->m_Delay.m_DelayL, 0.3f);
    EXPECT_FLOAT_EQ(m_App->m_Delay.m_DelayR, 0.3f);
    EXPECT_FALSE(m_App->m_Delay.m_Bypass);
    // The master panel shows what was loaded.
    EXPECT_NEAR(m_App->m_DelayGUI.m_DelayKnob->value(), 0.3, 1e-6);
    EXPECT_EQ(m_App->m_NextID, 2);

    // The loaded loop plays its recording from the stored position.
    loop->m_Playing = true;
    m_App->Run();
    EXPECT_FLOAT_EQ(loop->m_Pos, 123.457f + 0.75f * KorvelInfo::BufferSize);
}

TEST_F(WorkspaceTest, ReverbsComeBackTunedToTheirStoredTimeAndFeedback)
{
    m_App->NewLoop();
    // No jitter: the stage times are then exactly 0, 0.2t, 0.4t, 0.6t, 0.8t.
    for (Reverb *reverb : {&LoopAt(0)->m_Reverb, &m_App->m_Reverb}) {
        reverb->m_Random = 0;
        reverb->SetTime(0.2f);
        reverb->SetFeedback(0.7f);
    }
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));

    m_App->ClearLoops();
    m_App->m_Reverb.m_Random = 0.01f;
    m_App->m_Reverb.SetTime(0.05f);
    m_App->m_Reverb.SetFeedback(0.1f);
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));

    for (Reverb *reverb : {&LoopAt(0)->m_Reverb, &m_App->m_Reverb}) {
        ASSERT_EQ(reverb->m_Delays.size(), 5u);
        for (size_t s = 0; s < 5; s++) {
            float nominal = 0.2f * (static_cast<float>(s) / 5.0f);
            EXPECT_FLOAT_EQ(reverb->m_Delays[s]->m_DelayL, nominal) << s;
            EXPECT_FLOAT_EQ(reverb->m_Delays[s]->m_DelayR, nominal) << s;
            EXPECT_FLOAT_EQ(reverb->m_Delays[s]->m_Feedback, 0.7f) << s;
        }
    }
}

TEST_F(WorkspaceTest, FilterAtTheSlidersZeroComesBackBypassed)
{
    m_App->NewLoop();
    m_App->NewLoop();
    Fl_Slider *bypassed = PanelAt(0)->m_CutoffSlider;
    bypassed->value(0);
    bypassed->do_callback();
    Fl_Slider *active = PanelAt(1)->m_CutoffSlider;
    active->value(50);
    active->do_callback();
    ASSERT_TRUE(LoopAt(0)->m_Filter.m_Bypass);
    ASSERT_EQ(LoopAt(0)->m_Filter.m_Cutoff, 10010);

    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));

    Filter &loadedBypassed = LoopAt(0)->m_Filter;
    EXPECT_EQ(loadedBypassed.m_Cutoff, 10010);
    EXPECT_TRUE(loadedBypassed.m_Bypass);
    EXPECT_EQ(LoopAt(1)->m_Filter.m_Cutoff, 2510);
    EXPECT_FALSE(LoopAt(1)->m_Filter.m_Bypass);
    EXPECT_EQ(PanelAt(0)->m_CutoffSlider->value(), 0);

    // Heard, not just flagged: the bypassed filter passes a block untouched,
    // the active one at half level.
    Sample block;
    block.Allocate(KorvelInfo::BufferSize);
    for (int i = 0; i < KorvelInfo::BufferSize; i++)
        block.Set(i, 1000);
    loadedBypassed.Process(0, block);
    for (int i = 0; i < KorvelInfo::BufferSize; i++)
        ASSERT_EQ(block[i], 1000) << i;
    LoopAt(1)->m_Filter.Process(0, block);
    EXPECT_NEAR(block[KorvelInfo::BufferSize - 1], 500, 2);
}

TEST_F(WorkspaceTest, LoopWhoseWavFileIsGoneLoadsItsSettingsWithNoSound)
{
    m_App->NewLoop();
    FillLoop(0, 3000, [](int i) { return i; });
    LoopAt(0)->m_Speed = 1.5f;
    LoopAt(0)->m_Pos = 2500;
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    std::string wav = Workspace::CompanionName(Lws(), 0);
    ASSERT_EQ(std::remove(wav.c_str()), 0);

    testing::internal::CaptureStderr();
    bool loaded = Workspace::LoadFrom(m_App.get(), Lws());
    std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded);
    EXPECT_NE(printed.find("WavFile: File open error [" + wav + "]"), std::string::npos) << printed;

    Loop *loop = LoopAt(0);
    EXPECT_FLOAT_EQ(loop->m_Speed, 1.5f);
    EXPECT_EQ(loop->m_StoreBuffer.GetLength(), 0);
    // The stored play length cannot outlast the sound it measured.
    EXPECT_EQ(loop->m_LoopLength, 0);
    EXPECT_EQ(loop->m_Pos, 0);
    EXPECT_EQ(PanelAt(0)->m_Display->m_Length, 0);
    m_App->Run();
    PanelAt(0)->m_Display->redraw();
    Fl::check();
}

TEST_F(WorkspaceTest, MusicalTimeIsKeptWhenSetAndAFileWithoutItHasNoGrid)
{
    const std::string bare = "KorvelLoops WorkSpace File Ver 1\n0.5 0.5 1  0 0.2 0.01 1  0 1 0 -1 0 ";
    m_App->m_TimeGUI.m_Settings.m_Bpm = 96.5;
    m_App->m_TimeGUI.m_Settings.m_BeatsPerBar = 7;
    m_App->m_TimeGUI.m_Settings.m_Click = true;
    m_App->m_TimeGUI.m_Settings.m_Sync = SyncSource::JackTransport;
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    EXPECT_EQ(ReadFileBytes(Lws()), bare + "Time 96.5 7 0 1 0.5 0 0 0 0 2 ");

    m_App->m_TimeGUI.m_Settings = TimeSettings();
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));
    EXPECT_EQ(m_App->m_TimeGUI.m_Settings.m_Bpm, 96.5);
    EXPECT_EQ(m_App->m_Engine.m_Transport.Map().m_BeatsPerBar, 7);
    EXPECT_TRUE(m_App->m_Engine.m_Transport.m_ClickOn);
    EXPECT_TRUE(m_App->m_Engine.m_Transport.Leading());

    WriteFileBytes(Lws("old.lws"), bare);
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws("old.lws")));
    EXPECT_EQ(m_App->m_TimeGUI.m_Settings.m_Bpm, 0);
    EXPECT_FALSE(m_App->m_Engine.m_Transport.Map().Valid());
    EXPECT_FALSE(m_App->m_Engine.m_Transport.Leading());

    // A tempo out of range or a record cut short is a damaged file.
    WriteFileBytes(Lws("bad.lws"), bare + "Time 5000 4 0 0 0.5 0 0 0 0 0 ");
    EXPECT_NE(RefusedLoad(Lws("bad.lws")).find("Bad workspace file, nothing loaded"), std::string::npos);
    WriteFileBytes(Lws("short.lws"), bare + "Time 120 4");
    EXPECT_NE(RefusedLoad(Lws("short.lws")).find("Bad workspace file, nothing loaded"), std::string::npos);
    EXPECT_EQ(m_App->m_TimeGUI.m_Settings.m_Bpm, 0);

    // A loop's quantize goes with it.
    m_App->NewLoop();
    PanelAt(0)->ShowQuantize(TempoMap::Bar);
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("q.lws")));
    EXPECT_NE(ReadFileBytes(Lws("q.lws")).find(" Quantize 1 0 2 "), std::string::npos);
    PanelAt(0)->ShowQuantize(TempoMap::Off);
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws("q.lws")));
    EXPECT_EQ(PanelAt(0)->m_QuantizeStep, TempoMap::Bar);
    EXPECT_EQ(LoopAt(0)->m_Quantize, TempoMap::Bar);
}
