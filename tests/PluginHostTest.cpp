#include "GUI/FileChooser.h"
#include "GUI/LoopGUI.h"
#include "GUI/Question.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopsApp.h"
#include "SavedSettings.h"
#include "System/DynamicLoader.h"
#include "TestSupport.h"
#include "Workspace.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The real loader, with every call written down; it can also be told to fail
// an Open with a text of the test's choosing.
class RecordingLoader : public DynamicLoader
{
public:
    void *Open(const char *path, int mode) override
    {
        m_Calls.push_back("Open " + std::string(path) + " " + std::to_string(mode));
        if (!m_OpenFailure.empty()) {
            m_PendingError = m_OpenFailure;
            return nullptr;
        }
        return DynamicLoader::Open(path, mode);
    }
    void *Symbol(void *handle, const char *name) override
    {
        m_Calls.push_back("Symbol " + std::string(name));
        return DynamicLoader::Symbol(handle, name);
    }
    const char *Error() override
    {
        if (!m_PendingError.empty()) {
            m_ErrorText = m_PendingError;
            m_PendingError.clear();
            return m_ErrorText.c_str();
        }
        return DynamicLoader::Error();
    }
    int Close(void *handle) override
    {
        m_Calls.push_back("Close");
        m_Closed.push_back(handle);
        return DynamicLoader::Close(handle);
    }

    std::vector<std::string> m_Calls;
    std::vector<void *> m_Closed;
    std::string m_OpenFailure;

private:
    std::string m_PendingError;
    std::string m_ErrorText;
};

class AnsweringChooser : public FileChooser
{
public:
    explicit AnsweringChooser(const std::string &answer) : m_Answer(answer) {}
    std::string Ask(const char *title, const char *pattern) override
    {
        m_Asked.push_back(std::string(title) + " " + pattern);
        return m_Answer;
    }
    std::string m_Answer;
    std::vector<std::string> m_Asked;
};

// Holds a test plug-in open on the test's own account, so its counters can
// still be read after the application has closed it.
class PluginProbe
{
public:
    explicit PluginProbe(const char *path) : m_Handle(dlopen(path, RTLD_NOW)) {}
    ~PluginProbe()
    {
        if (m_Handle) dlclose(m_Handle);
    }
    int Count(const char *name)
    {
        int *counter = static_cast<int *>(dlsym(m_Handle, name));
        return counter ? *counter : -1000;
    }
    void *m_Handle;
};

bool PluginWindowShown(const char *label)
{
    for (Fl_Window *window = Fl::first_window(); window; window = Fl::next_window(window))
        if (window->label() && std::strcmp(window->label(), label) == 0) return true;
    return false;
}

Fl_Widget *ChildLabelled(Fl_Group *group, const char *label)
{
    for (int i = 0; i < group->children(); i++) {
        Fl_Widget *child = group->child(i);
        if (child->label() && std::strcmp(child->label(), label) == 0) return child;
    }
    return nullptr;
}

std::vector<short> Copy(const Sample *block)
{
    return std::vector<short>(block->m_Data, block->m_Data + block->m_Length);
}

class PluginHostTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KorvelInfo::WantRealtimeOut = false;
        Output::Unpaced = true;
        MakeApp();
    }
    void TearDown() override
    {
        m_App.reset();
        FileChooser::SetCurrent(nullptr);
        Fl::check();
        Output::Unpaced = false;
    }
    void MakeApp()
    {
        m_App.reset();
        m_App.reset(new LoopsApp(nullptr, &m_Loader));
        m_App->CreateWindow();
        m_App->m_Window->show();
    }
    bool OutputIsSilent()
    {
        const Sample &out = m_App->m_Output.m_Buffer;
        for (int i = 0; i < out.GetLength(); i++)
            if (out.m_Data[i] != 0) return false;
        return true;
    }
    void PressRecord(int id, bool down)
    {
        Fl_Button *button = m_App->m_Loops.at(id)->m_GUI->m_RecordBtn;
        button->value(down ? 1 : 0);
        button->do_callback();
    }

    SavedSettings m_Settings;
    RecordingLoader m_Loader; // outlives the application that uses it
    std::unique_ptr<LoopsApp> m_App;
};

} // namespace

TEST_F(PluginHostTest, FileThatIsNoSharedObjectIsReportedAndTheCycleCarriesOn)
{
    TempDir dir;
    std::string path = dir.File("notes.so");
    WriteFileBytes(path, std::string(4096, 'x'));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_App->StartPlugin(path.c_str()));
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, said.find("Error loading plugin:\n" + path + ": ")) << said;
    EXPECT_NE('\n', said.back()) << "the loader's text ends the message as it is";
    EXPECT_FALSE(m_App->m_Plugin.m_Loaded);
    EXPECT_EQ(nullptr, m_App->m_Plugin.m_Handle);
    m_App->Run();
    EXPECT_TRUE(OutputIsSilent());

    m_Loader.m_OpenFailure = "cannot open shared object file: we said so";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_App->StartPlugin("/somewhere/else.so"));
    EXPECT_EQ("Error loading plugin:\ncannot open shared object file: we said so",
              testing::internal::GetCapturedStderr());
}

TEST_F(PluginHostTest, PluginWithoutRunIsClosedUnshownAndChangesNoLoop)
{
    PluginProbe probe(KORVEL_NO_RUN_PLUGIN);
    ASSERT_NE(nullptr, probe.m_Handle);
    m_App->NewLoop();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_App->StartPlugin(KORVEL_NO_RUN_PLUGIN));
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, said.find("Error linking to plugin:\n")) << said;
    EXPECT_NE(std::string::npos, said.find("Run__Fv")) << said;
    EXPECT_EQ(0, probe.Count("NoRunPluginCreates"));
    EXPECT_EQ(nullptr, m_App->m_Plugin.m_Window);
    EXPECT_FALSE(PluginWindowShown("No Run Plugin"));
    EXPECT_FALSE(m_App->m_Plugin.m_Loaded);
    EXPECT_FALSE(m_App->m_Plugin.m_Linked);
    EXPECT_EQ(nullptr, m_App->m_Plugin.m_Handle);
    ASSERT_EQ(1u, m_Loader.m_Closed.size()) << "the useless handle is closed at once";
    EXPECT_EQ(nullptr, m_App->m_Loops.at(0)->m_Loop->m_Input);
    m_App->Run();
    EXPECT_TRUE(OutputIsSilent());
}

TEST_F(PluginHostTest, LoadPluginButtonAsksForASharedObjectAndCancelDoesNothing)
{
    AnsweringChooser cancel("");
    FileChooser::SetCurrent(&cancel);
    testing::internal::CaptureStderr();
    m_App->m_LoadPluginBtn->do_callback();
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    ASSERT_EQ(1u, cancel.m_Asked.size());
    EXPECT_EQ("Pick a plugin *.so", cancel.m_Asked[0]);
    EXPECT_TRUE(m_Loader.m_Calls.empty());
    EXPECT_FALSE(m_App->m_Plugin.m_Loaded);

    AnsweringChooser tone(KORVEL_TONE_PLUGIN);
    FileChooser::SetCurrent(&tone);
    m_App->m_LoadPluginBtn->do_callback();
    ASSERT_TRUE(m_App->m_Plugin.m_Linked);
    ASSERT_NE(nullptr, m_App->m_Plugin.m_Window);
    EXPECT_TRUE(m_App->m_Plugin.m_Window->shown());
    EXPECT_STREQ("Tone Generator", m_App->m_Plugin.m_Window->label());
}

TEST_F(PluginHostTest, PauseStopsRunAndMixingUntilReleased)
{
    PluginProbe probe(KORVEL_COUNTING_PLUGIN);
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_COUNTING_PLUGIN));
    const int runsAtLoad = probe.Count("CountingPluginRuns");
    m_App->m_Output.m_Volume = 1.0f;
    m_App->Run();
    EXPECT_EQ(runsAtLoad + 1, probe.Count("CountingPluginRuns"));
    EXPECT_EQ(runsAtLoad + 1, m_App->m_Output.m_Buffer[0]);

    m_App->m_PausePluginBtn->value(1);
    m_App->m_PausePluginBtn->do_callback();
    EXPECT_TRUE(m_App->m_Plugin.m_Paused);
    for (int cycle = 0; cycle < 3; cycle++) {
        m_App->Run();
        EXPECT_TRUE(OutputIsSilent());
    }
    EXPECT_EQ(runsAtLoad + 1, probe.Count("CountingPluginRuns"));

    m_App->m_PausePluginBtn->value(0);
    m_App->m_PausePluginBtn->do_callback();
    m_App->Run();
    EXPECT_EQ(runsAtLoad + 2, probe.Count("CountingPluginRuns"));
    EXPECT_EQ(runsAtLoad + 2, m_App->m_Output.m_Buffer[0]);
    EXPECT_EQ(runsAtLoad + 2, m_App->m_Output.m_Buffer[2 * KorvelInfo::BufferSize - 1]);
}

TEST_F(PluginHostTest, ToneIsAContinuousSineMixedAtUnitGainsTimesMasterVolume)
{
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_TONE_PLUGIN));
    Fl_Window *window = m_App->m_Plugin.m_Window;
    auto *frequency = static_cast<Fl_Value_Slider *>(ChildLabelled(window, "Frequency"));
    auto *level = static_cast<Fl_Value_Slider *>(ChildLabelled(window, "Level"));
    ASSERT_TRUE(frequency && level);
    frequency->value(1000);
    frequency->do_callback();
    level->value(0.8);
    level->do_callback();

    const double twoPi = 6.283185307179586;
    const int B = KorvelInfo::BufferSize;
    // The load-time block ran at the default 440 Hz; the wave goes on from there.
    double phase = std::fmod(B * twoPi * 440.0 / 44100.0, twoPi);
    const Sample *block = m_App->m_Plugin.m_Output;
    for (int cycle = 0; cycle < 3; cycle++) {
        m_App->Run();
        ASSERT_EQ(block, m_App->m_Plugin.m_Output);
        for (int i = 0; i < B; i++) {
            int expected = static_cast<int>(0.8 * 32767.0 *
                                            std::sin(phase + twoPi * 1000.0 * (cycle * B + i) / 44100.0));
            ASSERT_NEAR(expected, block->m_Data[i], 1) << "cycle " << cycle << " sample " << i;
            int mixed = static_cast<int>(static_cast<float>(block->m_Data[i]) * 0.5f);
            ASSERT_EQ(mixed, m_App->m_Output.m_Buffer[2 * i]) << i;
            ASSERT_EQ(mixed, m_App->m_Output.m_Buffer[2 * i + 1]) << i;
        }
    }
}

TEST_F(PluginHostTest, LoopCreatedAfterLoadRecordsLikeOneThatExisted)
{
    m_App->NewLoop();
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_TONE_PLUGIN));
    m_App->NewLoop();
    const short *data = m_App->m_Plugin.m_Output->m_Data;
    EXPECT_EQ(data, m_App->m_Loops.at(0)->m_Loop->m_Input);
    EXPECT_EQ(data, m_App->m_Loops.at(1)->m_Loop->m_Input);

    // A loop records in each cycle the block the plug-in made the cycle before.
    std::vector<short> expected = Copy(m_App->m_Plugin.m_Output);
    PressRecord(0, true);
    PressRecord(1, true);
    for (int cycle = 0; cycle < 4; cycle++) {
        m_App->Run();
        if (cycle < 3) {
            std::vector<short> next = Copy(m_App->m_Plugin.m_Output);
            expected.insert(expected.end(), next.begin(), next.end());
        }
    }
    PressRecord(0, false);
    PressRecord(1, false);
    const Sample &early = m_App->m_Loops.at(0)->m_Loop->m_StoreBuffer;
    const Sample &late = m_App->m_Loops.at(1)->m_Loop->m_StoreBuffer;
    ASSERT_EQ(static_cast<int>(expected.size()), early.GetLength());
    EXPECT_EQ(expected, Copy(&early));
    EXPECT_EQ(expected, Copy(&late));
    EXPECT_GT(*std::max_element(expected.begin(), expected.end()), 16000) << "the take holds the tone";
}

TEST_F(PluginHostTest, ShortBlockPluginIsRefusedAndTheRunningOneStays)
{
    PluginProbe counting(KORVEL_COUNTING_PLUGIN);
    PluginProbe shortBlock(KORVEL_SHORT_BLOCK_PLUGIN);
    m_App->NewLoop();
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_COUNTING_PLUGIN));
    Fl_Window *runningWindow = m_App->m_Plugin.m_Window;
    const Sample *runningOutput = m_App->m_Plugin.m_Output;
    void *runningHandle = m_App->m_Plugin.m_Handle;
    const int destroysBefore = shortBlock.Count("ShortBlockPluginDestroys");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_App->StartPlugin(KORVEL_SHORT_BLOCK_PLUGIN));
    EXPECT_EQ(std::string("Plugin ") + KORVEL_SHORT_BLOCK_PLUGIN + " gives blocks of " +
                  std::to_string(KorvelInfo::BufferSize / 2) + " samples, fewer than the " +
                  std::to_string(KorvelInfo::BufferSize) + " needed: not used\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ(destroysBefore + 1, shortBlock.Count("ShortBlockPluginDestroys"));
    EXPECT_EQ(0, shortBlock.Count("ShortBlockPluginShownAtDestroy"))
        << "its window goes before it is destroyed";
    EXPECT_FALSE(PluginWindowShown("Short Block Plugin"));
    ASSERT_EQ(1u, m_Loader.m_Closed.size());
    EXPECT_NE(runningHandle, m_Loader.m_Closed[0]);

    EXPECT_EQ(runningWindow, m_App->m_Plugin.m_Window);
    EXPECT_EQ(runningOutput, m_App->m_Plugin.m_Output);
    EXPECT_EQ(runningHandle, m_App->m_Plugin.m_Handle);
    EXPECT_EQ(runningOutput->m_Data, m_App->m_Loops.at(0)->m_Loop->m_Input);
    const int runs = counting.Count("CountingPluginRuns");
    m_App->m_Output.m_Volume = 1.0f;
    m_App->Run();
    EXPECT_EQ(runs + 1, counting.Count("CountingPluginRuns"));
    EXPECT_EQ(runs + 1, m_App->m_Output.m_Buffer[2 * KorvelInfo::BufferSize - 1]);
}

TEST_F(PluginHostTest, FailedLoadKeepsTheRunningPluginWhichIsDestroyedAndClosedAtShutdown)
{
    PluginProbe probe(KORVEL_COUNTING_PLUGIN);
    const int destroysBefore = probe.Count("CountingPluginDestroys");
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_COUNTING_PLUGIN));
    void *handle = m_App->m_Plugin.m_Handle;
    const std::vector<std::string> loadCalls = {std::string("Open ") + KORVEL_COUNTING_PLUGIN + " 2",
                                                "Symbol Destroy__Fv",
                                                "Symbol Create__Fv",
                                                "Symbol Run__Fv",
                                                "Symbol RunRealtime__Fv",
                                                "Symbol ShowState__Fv"};
    EXPECT_EQ(loadCalls, m_Loader.m_Calls);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(m_App->StartPlugin("/no/such/plugin.so"));
    EXPECT_EQ(0u, testing::internal::GetCapturedStderr().find("Error loading plugin:\n"));
    EXPECT_EQ(handle, m_App->m_Plugin.m_Handle);
    EXPECT_TRUE(m_App->m_Plugin.m_Loaded && m_App->m_Plugin.m_Linked);
    const int runs = probe.Count("CountingPluginRuns");
    m_App->Run();
    EXPECT_EQ(runs + 1, probe.Count("CountingPluginRuns"));
    EXPECT_TRUE(PluginWindowShown("Counting Plugin"));

    m_App.reset();
    EXPECT_EQ(destroysBefore + 1, probe.Count("CountingPluginDestroys"));
    ASSERT_EQ(1u, m_Loader.m_Closed.size());
    EXPECT_EQ(handle, m_Loader.m_Closed[0]);
    EXPECT_EQ("Close", m_Loader.m_Calls.back());
    EXPECT_FALSE(PluginWindowShown("Counting Plugin"));
}

TEST_F(PluginHostTest, PluginsTakeTheirBlockSizeAndDeviceFromTheHost)
{
    // The test program exports its symbols like the program, under the names the plug-ins look up.
    EXPECT_EQ(&KorvelInfo::BufferSize, dlsym(RTLD_DEFAULT, "_ZN10KorvelInfo10BufferSizeE"));
    EXPECT_EQ(&KorvelInfo::Samplerate, dlsym(RTLD_DEFAULT, "_ZN10KorvelInfo10SamplerateE"));
    EXPECT_EQ(&KorvelInfo::OutputDevice, dlsym(RTLD_DEFAULT, "_ZN10KorvelInfo12OutputDeviceB5cxx11E"));

    KorvelInfo::BufferSize = 256;
    KorvelInfo::OutputDevice = "/nonexistent/dsp";
    MakeApp();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_LIVE_INPUT_PLUGIN));
    EXPECT_EQ("Live Input: Can't open /nonexistent/dsp for input: No such file or directory\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ(256, m_App->m_Plugin.m_Output->GetLength());
    EXPECT_STREQ("Can't open /nonexistent/dsp for input: No such file or directory",
                 m_App->m_Plugin.m_Window->child(0)->label());
    m_App->Run();
    EXPECT_TRUE(OutputIsSilent());
    EXPECT_EQ(256, m_App->m_Plugin.m_Output->GetLength());
}

TEST_F(PluginHostTest, LiveARunOnlyPluginIsRunAheadOnTheGuiSideAndARealtimeOneByTheEngine)
{
    PluginProbe counting(KORVEL_COUNTING_PLUGIN);
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_COUNTING_PLUGIN));
    PluginHost &host = m_App->m_Plugin;
    EXPECT_FALSE(host.Realtime());
    host.SetLive(true);
    const int runs = counting.Count("CountingPluginRuns");
    EXPECT_EQ(nullptr, host.Block()); // nothing made ahead yet: silence, no call into the plug-in
    EXPECT_EQ(runs, counting.Count("CountingPluginRuns"));
    host.Fill();
    const int ahead = counting.Count("CountingPluginRuns") - runs;
    EXPECT_GT(ahead, 1);
    // The blocks come in the order they were made, where the loops record from.
    for (int made = 1; made <= ahead; made++) {
        const Sample *block = host.Block();
        ASSERT_NE(nullptr, block);
        EXPECT_EQ(runs + made, (*block)[KorvelInfo::BufferSize - 1]);
        EXPECT_EQ(block->GetBuffer(), host.Input());
    }
    EXPECT_EQ(nullptr, host.Block());
    host.SetLive(false);

    ASSERT_TRUE(m_App->StartPlugin(KORVEL_TONE_PLUGIN));
    EXPECT_TRUE(host.Realtime());
}

TEST_F(PluginHostTest, AWorkspaceRemembersItsPluginAndLoadsItOnlyWhenThePerformerSaysSo)
{
    class Answer : public Question
    {
    public:
        bool Ask(const std::string &text, const char *, const char *) override
        {
            m_Asked = text;
            return m_Yes;
        }
        std::string m_Asked;
        bool m_Yes = false;
    } answer;
    Question::SetCurrent(&answer);
    ASSERT_TRUE(m_App->StartPlugin(KORVEL_TONE_PLUGIN));
    TempDir dir;
    const std::string path = dir.File("with plugin.lws");
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), path));
    const std::string plugin = KORVEL_TONE_PLUGIN;
    EXPECT_NE(ReadFileBytes(path).find("Plugin " + std::to_string(plugin.size()) + " " + plugin + " "),
              std::string::npos);

    m_App->m_Plugin.Close();
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), path));
    EXPECT_NE(answer.m_Asked.find(plugin), std::string::npos);
    EXPECT_FALSE(m_App->m_Plugin.m_Loaded);
    answer.m_Yes = true;
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), path));
    EXPECT_TRUE(m_App->m_Plugin.m_Loaded);
    EXPECT_EQ(m_App->m_Plugin.m_Path, plugin);
    Question::SetCurrent(nullptr);
}
