#include "AppTestFixture.h"

#include "GUI/DelayGUI.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "System/FileSystem.h"
#include "TestSupport.h"
#include "Workspace.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <locale>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Token positions in a saved file: five header words, the master delay (3)
// and reverb (4), four master values, then the loop count and the entries.
const size_t CountToken = 16;
const size_t FirstEntryToken = 17;
const size_t EntryTokens = 30; // without markers
const size_t SpeedInEntry = 8; // entry number, then the loop record's m_ID ... m_Speed

std::vector<std::string> Tokens(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> tokens;
    std::string token;
    while (in >> token)
        tokens.push_back(token);
    return tokens;
}

std::string Join(const std::vector<std::string> &tokens)
{
    std::string text;
    for (const std::string &token : tokens)
        text += token + ' ';
    return text;
}

std::set<std::string> FilesIn(const std::string &dir)
{
    std::set<std::string> names;
    DIR *listing = opendir(dir.c_str());
    while (dirent *entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    closedir(listing);
    return names;
}

bool IsDirectory(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int Lines(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

int ShownWindowsLabelled(const std::string &label)
{
    int found = 0;
    for (Fl_Window *window = Fl::first_window(); window; window = Fl::next_window(window))
        if (window->label() && label == window->label()) found++;
    return found;
}

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

// Kills the process at its nth rename or folder flush: a save cut short there.
struct KillingFileSystem : FileSystem
{
    explicit KillingFileSystem(int at) : m_Left(at) {}
    bool Rename(const std::string &from, const std::string &to) override
    {
        return Step() && FileSystem::Rename(from, to);
    }
    bool SyncFolder(const std::string &folder) override { return Step() && FileSystem::SyncFolder(folder); }
    bool Step()
    {
        if (--m_Left == 0) raise(SIGKILL);
        return true;
    }
    int m_Left;
};

// A number format no workspace may be written in.
class CommaNumbers : public std::numpunct<char>
{
protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

} // namespace

class WorkspaceTest : public AppTest
{
protected:
    std::string Lws(const std::string &name = "a.lws") const { return m_Dir.File(name); }

    // Loops numbered first and second; the first has a short sound.
    void MakeLoops(int first, int second)
    {
        m_App->m_NextID = first;
        m_App->NewLoop();
        FillLoop(first, 1000, [](int i) { return i * 7 - 3000; });
        m_App->m_NextID = second;
        m_App->NewLoop();
    }

    // Loads path expecting a refusal; returns what was printed.
    std::string RefusedLoad(const std::string &path)
    {
        testing::internal::CaptureStderr();
        bool loaded = Workspace::LoadFrom(m_App.get(), path);
        std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(loaded) << path;
        return printed;
    }

    TempDir m_Dir;
};

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

TEST_F(WorkspaceTest, DamagedFilesChangeNothing)
{
    m_App->NewLoop();
    FillLoop(0, 1000, [](int) { return 5; });
    PanelAt(0)->NewTrigger()->m_Angle = 45;
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("good.lws")));
    const std::vector<std::string> good = Tokens(ReadFileBytes(Lws("good.lws")));
    ASSERT_EQ(good.size(), FirstEntryToken + EntryTokens + 10);

    // What the performer has when the damaged files come.
    m_App->NewLoop();
    LoopAt(1)->m_Speed = 2.0f;
    Loop *loop0 = LoopAt(0), *loop1 = LoopAt(1);
    m_App->m_MasterLength = 77.0f;
    m_App->m_Delay.m_Feedback = 0.9f;
    const int nextID = m_App->m_NextID;

    auto expectUnchanged = [&](const std::string &what) {
        std::string path = Lws("bad.lws");
        std::string printed = RefusedLoad(path);
        EXPECT_EQ(Lines(printed), 1) << what << ": " << printed;
        EXPECT_NE(printed.find(path), std::string::npos) << what << ": " << printed;
        ASSERT_EQ(m_App->m_Loops.size(), 2u) << what;
        EXPECT_EQ(LoopAt(0), loop0) << what;
        EXPECT_EQ(LoopAt(1), loop1) << what;
        EXPECT_EQ(PanelAt(0)->m_Triggers.size(), 1u) << what;
        EXPECT_EQ(m_App->m_NextID, nextID) << what;
        EXPECT_EQ(m_App->m_MasterLength, 77.0f) << what;
        EXPECT_EQ(m_App->m_Delay.m_Feedback, 0.9f) << what;
        EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 0"), 1) << what;
    };

    // Cut after any token but the last: the file ends early.
    for (size_t kept = 0; kept + 1 < good.size(); kept++) {
        WriteFileBytes(Lws("bad.lws"), Join(std::vector<std::string>(good.begin(), good.begin() + kept)));
        expectUnchanged("cut after " + std::to_string(kept) + " tokens");
    }

    struct Damage
    {
        const char *what;
        size_t token;
        const char *value;
    };
    const Damage damages[] = {
        {"word for the version", 4, "one"},
        {"word for a number", FirstEntryToken + SpeedInEntry, "fast"},
        {"bool out of range", FirstEntryToken + 5, "2"},
        {"loop count far beyond the file", CountToken, "2000000000"},
        {"loop count beyond the int range", CountToken, "99999999999"},
        {"negative loop count", CountToken, "-1"},
        {"marker count far beyond the file", FirstEntryToken + 29, "1000000000"},
        {"negative marker count", FirstEntryToken + 29, "-3"},
        {"window of no width", FirstEntryToken + 27, "0"},
        {"negative play length", FirstEntryToken + 7, "-5"},
        {"negative hold index", FirstEntryToken + 4, "-1"},
        {"largest loop number", FirstEntryToken, "2147483647"},
        {"negative loop number", FirstEntryToken, "-1"},
        {"negative master length", 12, "-1000"},
        {"master length beyond the int range", 12, "3e9"},
        {"negative master speed", 13, "-3"},
        {"master speed beyond the knob", 13, "1e38"},
        {"window wider than X can take", FirstEntryToken + 27, "40000"},
        {"marker centre far outside the window", FirstEntryToken + 30, "2000000000"},
        {"marker angle far beyond a turn", FirstEntryToken + 37, "1e30"},
    };
    for (const Damage &damage : damages) {
        std::vector<std::string> tokens = good;
        tokens[damage.token] = damage.value;
        WriteFileBytes(Lws("bad.lws"), Join(tokens));
        expectUnchanged(damage.what);
    }

    // An extra loop promised but missing.
    std::vector<std::string> tokens = good;
    tokens[CountToken] = "2";
    WriteFileBytes(Lws("bad.lws"), Join(tokens));
    expectUnchanged("count one too many");

    WriteFileBytes(Lws("bad.lws"), "");
    expectUnchanged("empty file");

    // A path that opens but cannot be read.
    ASSERT_EQ(std::remove(Lws("bad.lws").c_str()), 0);
    ASSERT_EQ(mkdir(Lws("bad.lws").c_str(), 0700), 0);
    expectUnchanged("a folder");

    // A file that is not there is reported too, and changes nothing either.
    std::string printed = RefusedLoad(Lws("missing.lws"));
    EXPECT_NE(printed.find(Lws("missing.lws")), std::string::npos);
    EXPECT_EQ(m_App->m_Loops.size(), 2u);
}

TEST_F(WorkspaceTest, RepeatedLoopNumberKeepsTheLaterLoopAndOneWindow)
{
    MakeLoops(4, 7);
    LoopAt(4)->m_Speed = 0.5f;
    LoopAt(7)->m_Speed = 2.0f;
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    std::vector<std::string> tokens = Tokens(ReadFileBytes(Lws()));
    tokens[FirstEntryToken + EntryTokens] = "4";
    tokens[FirstEntryToken + EntryTokens + 1] = "4";
    WriteFileBytes(Lws(), Join(tokens));

    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));
    Fl::check();
    ASSERT_EQ(m_App->m_Loops.size(), 1u);
    EXPECT_FLOAT_EQ(LoopAt(4)->m_Speed, 2.0f);
    EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 4"), 1);
    EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 7"), 0);
}

TEST_F(WorkspaceTest, FailedSaveSaysSoAndKeepsTheOldFiles)
{
    MakeLoops(0, 1);
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("old.lws")));
    const std::string oldText = ReadFileBytes(Lws("old.lws"));
    const std::string oldWav = ReadFileBytes(Workspace::CompanionName(Lws("old.lws"), 0));
    LoopAt(0)->m_Speed = 2.5f;
    FillLoop(0, 10, [](int) { return 1; });

    // Something in the way of a new file: a folder where loop 1's file goes.
    const std::string loop1 = Workspace::CompanionName(Lws("old.lws"), 1);
    ASSERT_EQ(unlink(loop1.c_str()), 0);
    ASSERT_EQ(mkdir(loop1.c_str(), 0700), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), Lws("old.lws")));
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(printed), 1) << printed;
    EXPECT_NE(printed.find(Lws("old.lws")), std::string::npos) << printed;
    EXPECT_EQ(ReadFileBytes(Lws("old.lws")), oldText);
    EXPECT_EQ(ReadFileBytes(Workspace::CompanionName(Lws("old.lws"), 0)), oldWav);

    // A directory where the workspace should go: nothing of the new save stays.
    ASSERT_EQ(mkdir(m_Dir.File("dir.lws").c_str(), 0700), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), Lws("dir.lws")));
    printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(printed), 1) << printed;
    EXPECT_NE(printed.find(Lws("dir.lws")), std::string::npos) << printed;
    EXPECT_TRUE(IsDirectory(Lws("dir.lws")));
    EXPECT_EQ(FilesIn(m_Dir.Path()),
              (std::set<std::string>{"old.lws", "oldLoop0.wav", "oldLoop1.wav", "dir.lws"}));

    // A folder that does not exist.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), m_Dir.File("nowhere/x.lws")));
    EXPECT_EQ(Lines(testing::internal::GetCapturedStderr()), 1);
}

TEST_F(WorkspaceTest, PathsTooShortForTheLoopFileNamesAreRefused)
{
    m_App->NewLoop();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), "a.l"));
    EXPECT_FALSE(Workspace::LoadFrom(m_App.get(), "a.l"));
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(printed), 2) << printed;
    EXPECT_NE(printed.find("[a.l]"), std::string::npos) << printed;
    EXPECT_FALSE(FileExists("a.l"));
    EXPECT_FALSE(FileExists("a.l.tmp"));
    EXPECT_EQ(m_App->m_Loops.size(), 1u);
}

TEST_F(WorkspaceTest, NumbersAreWrittenAndReadInTheClassicLocale)
{
    m_App->NewLoop();
    LoopAt(0)->m_Speed = 1.25f;
    LoopAt(0)->m_Filter.m_Cutoff = 10010;
    PanelAt(0)->NewTrigger()->m_Angle = 1234.5f;

    std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    bool savedOK = Workspace::SaveTo(m_App.get(), Lws());
    m_App->ClearLoops();
    bool loadedOK = Workspace::LoadFrom(m_App.get(), Lws());
    std::locale::global(saved);

    ASSERT_TRUE(savedOK);
    ASSERT_TRUE(loadedOK);
    std::string text = ReadFileBytes(Lws());
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    EXPECT_NE(text.find(" 1.25 "), std::string::npos) << text;
    EXPECT_NE(text.find(" 10010 "), std::string::npos) << text;
    EXPECT_NE(text.find(" 1234.5 "), std::string::npos) << text;
    EXPECT_FLOAT_EQ(LoopAt(0)->m_Speed, 1.25f);
    EXPECT_FLOAT_EQ(PanelAt(0)->m_Triggers.at(0)->m_Angle, 1234.5f);
}

TEST_F(WorkspaceTest, CountsBeyondWhatTheRecordsHoldBuildNothing)
{
    m_App->NewLoop();
    PanelAt(0)->NewTrigger();
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    std::vector<std::string> tokens = Tokens(ReadFileBytes(Lws()));
    m_App->ClearLoops();

    // Straight through the operators: the stream is refused before a single
    // window or marker is made for the promised records.
    std::vector<std::string> records(tokens.begin() + 5, tokens.end());
    records[CountToken - 5] = "2";
    std::istringstream app(Join(records));
    app >> *m_App;
    EXPECT_TRUE(app.fail());
    EXPECT_TRUE(m_App->m_Loops.empty());

    m_App->NewLoop();
    LoopGUI *panel = PanelAt(1);
    const int children = panel->m_Display->children();
    std::istringstream markers("10 20 300 300 2 150 150 125 0 1 0 0 45 10 10 ");
    markers >> *panel;
    EXPECT_TRUE(markers.fail());
    EXPECT_TRUE(panel->m_Triggers.empty());
    EXPECT_EQ(panel->m_Display->children(), children);
    EXPECT_EQ(panel->m_Display->x(), 0); // not moved either
}

TEST_F(WorkspaceTest, WorkspacesNamedWithoutLwsKeepTheirOwnLoopFiles)
{
    m_App->NewLoop();
    for (int value : {1, 2}) {
        FillLoop(0, 600, [=](int) { return value; });
        ASSERT_TRUE(Workspace::SaveTo(m_App.get(), m_Dir.File("set" + std::to_string(value))));
    }
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("set1.lws")));
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), m_Dir.File("set1")));
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer[0], 1);
    EXPECT_EQ(FilesIn(m_Dir.Path()), (std::set<std::string>{"set1", "set1-loop-0.wav", "set2",
                                                            "set2-loop-0.wav", "set1.lws", "set1Loop0.wav"}));
}

TEST_F(WorkspaceTest, SaveKilledAtAnyStepLeavesTheOldOrTheNewPerformance)
{
    const std::string path = Lws("jam.lws");
    const std::string completed = "Completed a workspace save that was cut short [" + path + "]\n";
    // The old performance has loops 0 and 1, the new one 0 to 2; all their
    // sounds and speeds are 1 in the old, 2 in the new.
    auto perform = [&](int value) {
        m_App->ClearLoops();
        m_App->m_NextID = 0;
        for (int id = 0; id <= value; id++) {
            m_App->NewLoop();
            FillLoop(id, 1000, [=](int) { return value; });
            LoopAt(id)->m_Speed = static_cast<float>(value);
        }
    };
    auto loaded = [&](int value) {
        bool whole = m_App->m_Loops.size() == static_cast<size_t>(value + 1);
        for (auto &item : m_App->m_Loops)
            whole = whole && item.second->m_Loop->m_Speed == value &&
                    item.second->m_Loop->m_StoreBuffer[999] == value;
        return whole;
    };
    std::vector<std::string> outcomes;
    for (int step = 1, status = -1; step < 20 && !WIFEXITED(status); step++) {
        perform(1);
        ASSERT_TRUE(Workspace::SaveTo(m_App.get(), path));
        perform(2);
        pid_t child = fork();
        if (child == 0) {
            KillingFileSystem killer(step);
            FileSystem::SetCurrent(&killer);
            _exit(Workspace::SaveTo(m_App.get(), path) ? 0 : 1);
        }
        ASSERT_EQ(waitpid(child, &status, 0), child);
        testing::internal::CaptureStderr();
        bool read = Workspace::LoadFrom(m_App.get(), path);
        std::string printed = testing::internal::GetCapturedStderr();
        std::string outcome = !read ? printed : loaded(1) ? "old" : loaded(2) ? "new" : "mixed";
        // Only a save stopped between its journal and its end is completed.
        if (printed == completed) outcome += " completed";
        outcomes.push_back(outcome);
    }
    // Flush, journal and flush, the three loop files, the workspace, flush,
    // journal gone and flush, done.
    EXPECT_EQ(outcomes, std::vector<std::string>({"old", "new completed", "new completed", "new completed",
                                                  "new completed", "new completed", "new completed", "new", "new"}));
}
