#include "LoopsApp.h"

#include "GUI/FileChooser.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/LoopGUI.h"
#include "GUI/LevelMeter.h"
#include "GUI/LoopStrip.h"
#include "GUI/Question.h"
#include "GUI/StatusLine.h"
#include "GUI/ScopeWidget.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "AudioDevices/JackDevice.h"
#include "Midi/JackMidiSource.h"
#include "Midi/MidiBindings.h"
#include "Remote/OscRemote.h"
#include "Workspace.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <istream>
#include <limits>
#include <ostream>

namespace {

LoopsApp *AppOf(Fl_Widget *widget)
{
    return static_cast<LoopsApp *>(widget->parent()->user_data());
}

void LoadWorkspacePressed(Fl_Widget *widget, void *)
{
    const std::string &session = AppOf(widget)->m_SessionWorkspace;
    session.empty() ? Workspace::Load(AppOf(widget)) : (void)Workspace::LoadFrom(AppOf(widget), session);
}

void SaveWorkspacePressed(Fl_Widget *widget, void *)
{
    const std::string &session = AppOf(widget)->m_SessionWorkspace;
    session.empty() ? Workspace::Save(AppOf(widget)) : (void)Workspace::SaveTo(AppOf(widget), session);
}

void NewLoopPressed(Fl_Widget *widget, void *)
{
    AppOf(widget)->NewLoop();
}

void LoadPluginPressed(Fl_Widget *widget, void *)
{
    std::string path = FileChooser::Current()->Ask("Pick a plugin", "*.so");
    if (path.empty()) return;
    AppOf(widget)->StartPlugin(path.c_str());
}

// A file chooser runs the program's cycle while it waits.
void RunCycle(void *app)
{
    static_cast<LoopsApp *>(app)->Pass();
}

// With the engine on its own thread: how often the windows follow it, and
// how often the pedals are read (their changes reach the engine as commands).
const std::chrono::milliseconds FollowTime(33);
const double MidiSeconds = 0.002;

void PausePluginChanged(Fl_Widget *widget, void *)
{
    PluginHost *plugin = &AppOf(widget)->m_Plugin;
    const bool paused = static_cast<Fl_Button *>(widget)->value() != 0;
    AudioEngine::Post(&AppOf(widget)->m_Engine, [plugin, paused] { plugin->Pause(paused); });
}

void SnapPointsMoved(Fl_Widget *widget, void *)
{
    AppOf(widget)->SnapPointsChanged(static_cast<Fl_Knob *>(widget)->value());
}

void SnapToggled(Fl_Widget *widget, void *)
{
    AppOf(widget)->SnapChanged(static_cast<Fl_Button *>(widget)->value() != 0);
}

void ReopenPressed(Fl_Widget *widget, void *)
{
    static_cast<LoopsApp *>(widget->window()->user_data())->ReopenLoop();
}

// Escape never closes the main window; closing it otherwise asks first when
// sound is not saved, and ends the program.
void MainWindowClosed(Fl_Widget *, void *app)
{
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    static_cast<LoopsApp *>(app)->CloseMain();
}

Fl_Button *MainButton(int x, int y, const char *label, Fl_Callback *handler)
{
    Fl_Button *button = new Fl_Button(x, y, 90, 20, label);
    button->labelsize(10);
    button->callback(handler);
    return button;
}

} // namespace

LoopsApp::LoopsApp(SoundDevice *device, DynamicLoader *loader)
    : m_Window(nullptr), m_Plugin(loader), m_DelayGUI(&m_Delay), m_ReverbGUI(&m_Reverb), m_Output(2, device),
      m_OutputGUI(&m_Output), m_Engine(m_Output, m_Delay, m_Reverb), m_EngineThread(m_Engine), m_NextID(0),
      m_MainGroup(nullptr), m_LoadWorkspaceBtn(nullptr), m_SaveWorkspaceBtn(nullptr), m_NewLoopBtn(nullptr),
      m_LoadPluginBtn(nullptr), m_PausePluginBtn(nullptr), m_ReopenBtn(nullptr), m_Status(nullptr),
      m_InMeter(nullptr), m_OutMeter(nullptr), m_Strip(nullptr), m_SnapPointsKnob(nullptr),
      m_SnapBtn(nullptr), m_SnapOut(nullptr), m_Midi(this)
{
    m_Output.OpenCapture();
    m_Engine.SetPlugin(&m_Plugin);
    m_DelayGUI.m_Engine = &m_Engine;
    m_ReverbGUI.m_Engine = &m_Engine;
    m_OutputGUI.m_Engine = &m_Engine;
    FileChooser::SetCycle(RunCycle, this);
}

LoopsApp::~LoopsApp()
{
    StopLive();
    FileChooser::SetCycle(nullptr, nullptr);
    if (m_JackMidi) m_Midi.m_Input.RemoveSource(m_JackMidi.get());
    m_Plugin.Close();
    ClearLoops();
    for (LoopEntry *entry : m_Closed)
        DestroyEntry(entry);
}

Fl_Window *LoopsApp::CreateWindow()
{
    Fl_Group::current(nullptr);
    m_WindowOwner.reset(new Fl_Window(835, 236, "KorvelLoops 2.0.0"));
    m_Window = m_WindowOwner.get();
    m_Window->color(0);
    m_Window->callback(MainWindowClosed, this);

    m_MainGroup = new Fl_Group(5, 5, 200, 125, "Main");
    m_MainGroup->box(FL_UP_BOX);
    m_MainGroup->labeltype(FL_ENGRAVED_LABEL);
    m_MainGroup->align(FL_ALIGN_TOP | FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    m_MainGroup->user_data(this);
    int x = 5, y = 5;
    m_LoadWorkspaceBtn = MainButton(x + 5, y + 20, "Load Workspace", LoadWorkspacePressed);
    m_SaveWorkspaceBtn = MainButton(x + 5, y + 40, "Save Workspace", SaveWorkspacePressed);
    m_NewLoopBtn = MainButton(x + 5, y + 60, "New Loop", NewLoopPressed);
    m_LoadPluginBtn = MainButton(x + 5, y + 80, "Load Plugin", LoadPluginPressed);
    m_PausePluginBtn = MainButton(x + 5, y + 100, "Pause Plugin", PausePluginChanged);
    m_PausePluginBtn->type(FL_TOGGLE_BUTTON);
    m_SnapPointsKnob = new Fl_Knob(x + 125, y + 5, 40, 40, "Snap Points");
    m_SnapPointsKnob->color(KorvelInfo::PanelColour);
    m_SnapPointsKnob->labelsize(10);
    m_SnapPointsKnob->maximum(50);
    m_SnapPointsKnob->step(1);
    m_SnapPointsKnob->value(2);
    m_SnapPointsKnob->callback(SnapPointsMoved);
    m_SnapBtn = MainButton(x + 100, y + 80, "Snap", SnapToggled);
    m_SnapBtn->type(FL_TOGGLE_BUTTON);
    m_SnapOut = new Fl_Value_Output(105, 63, 90, 15);
    m_SnapOut->labelsize(10);
    m_SnapOut->textsize(10);
    m_Midi.CreateButton(x + 100, y + 100);
    m_MainGroup->end();

    m_DelayGUI.CreateGUI(210, 5, "Delay");
    m_ReverbGUI.CreateGUI(210, 70, "Reverb");
    m_ScopeGUI.CreateGUI(515, 13, "Scope");
    m_OutputGUI.CreateGUI(745, 13, "Output");
    m_ReopenBtn = MainButton(10, 136, "Reopen Loop", ReopenPressed);
    m_ReopenBtn->tooltip("Brings back the loop last closed, with its sound and its undo history");
    m_ReopenBtn->deactivate();
    m_Status = new StatusLine(110, 136, 715, 20);
    m_InMeter = new LevelMeter(10, 161, 95, 11, "In");
    m_OutMeter = new LevelMeter(10, 174, 95, 11, "Out");
    m_Strip = new LoopStrip(110, 160, 715, 26);
    m_TimeGUI.m_Engine = &m_Engine;
    m_TimeGUI.m_Rate = KorvelInfo::Samplerate;
    m_TimeGUI.m_Jack = m_Output.Jack();
    m_TimeGUI.m_Settings.m_Sync = KorvelInfo::SyncChoice;
    m_TimeGUI.CreateGUI(10, 191, "Time");
    m_Window->end();

    m_Output.m_Channels = 2;
    m_ScopeGUI.m_Scope->m_Channels = 2;
    m_Delay.m_Channels = 2;
    m_Reverb.SetChannels(2);
    if (KorvelInfo::WantMidi) {
        // On JACK the MIDI port serves: a missing raw device is no news.
        m_Midi.Start(KorvelInfo::MidiDevice, MidiBindings::DefaultPath(), m_Output.Jack() != nullptr);
        if (m_Output.Jack()) {
            m_JackMidi.reset(new JackMidiSource(m_Output.Jack()));
            m_Midi.m_Input.AddSource(m_JackMidi.get());
        }
    }
    return m_Window;
}

void LoopsApp::DestroyEntry(LoopEntry *entry)
{
    delete entry->m_GUI;
    entry->m_Loop->Clear();
    delete entry->m_Loop;
    delete entry;
}

void LoopsApp::GoLive()
{
    if (m_Engine.Live()) return;
    {
        HandOverHold hold(m_Engine.m_Whole);
        m_Plugin.SetLive(true);
    }
    if (m_Output.Jack() && m_Output.Jack()->SampleRate() > 0) {
        m_Engine.SetLive(true);
        m_Output.Jack()->RunInCallback(&m_Engine);
    } else if (m_Output.HasDevice()) {
        m_Engine.SetLive(true);
        m_EngineThread.Start();
    } else {
        m_Plugin.SetLive(false);
    }
}

void LoopsApp::StopLive()
{
    if (!m_Engine.Live()) return;
    if (m_Output.Jack()) m_Output.Jack()->RunInCallback(nullptr);
    m_EngineThread.Stop();
    m_Engine.SetLive(false);
    m_Plugin.SetLive(false);
}

bool LoopsApp::Pass()
{
    if (m_Remote) m_Remote->Poll();
    if (!m_Engine.Live()) {
        Fl::check();
        Run();
        return Fl::first_window() != nullptr;
    }
    Fl::wait(MidiSeconds);
    const auto now = std::chrono::steady_clock::now();
    if (now - m_LastFollow >= FollowTime) {
        m_LastFollow = now;
        Run();
    } else {
        m_Midi.Poll();
    }
    m_Plugin.Fill();
    return Fl::first_window() != nullptr;
}

void LoopsApp::Run()
{
    // A JACK server that went away no longer calls for blocks: the cycle
    // makes them again, paced by the clock.
    if (m_Engine.Live() && m_Output.Jack() && m_Output.Jack()->Gone()) StopLive();

    // What the pedals did since the last cycle is heard in this one.
    m_Midi.Poll();

    // At most one closed loop goes per cycle, which bounds a cycle's work.
    // While a file chooser waits, the callback that opened it may hold a
    // closed loop's panel: closed loops then wait, silent.
    for (auto it = m_Loops.begin(); it != m_Loops.end() && !FileChooser::IsOpen(); ++it) {
        if (it->second->m_Loop->m_Delete) {
            // Out of the engine first, then gone.
            LoopEntry *entry = it->second;
            m_Loops.erase(it);
            LoopsChanged();
            m_Closed.push_back(entry);
            // Kept for the session, within bounds: the longest closed goes.
            if (m_Closed.size() > MostClosed) {
                std::cerr << "Loop " << m_Closed.front()->m_Loop->m_ID << " is gone for good (the last "
                          << MostClosed << " closed are kept)" << std::endl;
                DestroyEntry(m_Closed.front());
                m_Closed.erase(m_Closed.begin());
            }
            if (m_ReopenBtn) m_ReopenBtn->activate();
            break;
        }
    }
    for (auto &item : m_Loops)
        item.second->m_GUI->PushMarkers();
    m_Engine.MarkersChanged();

    if (!m_Engine.Live()) m_Engine.Block();

    // Only with JACK do pedals act on the audio thread.
    const bool pedals = m_Engine.Live() && m_Output.Jack() && m_Output.Jack()->RunsInCallback();
    for (auto &item : m_Loops) {
        Loop *loop = item.second->m_Loop;
        LoopGUI *panel = item.second->m_GUI;
        // What a pedal did is followed before the take's blocks are collected.
        panel->ShowEngineState();
        loop->CollectTake();
        loop->ShowOnPanel();
        if (pedals && !panel->m_RecordBtn->value() && m_Midi.RecordPedal(loop->m_ID)) loop->PrepareForPedal();
    }
    m_Plugin.ShowState();
    m_ScopeGUI.Display(m_Output.m_Buffer.GetBuffer());
    m_OutputGUI.ShowDropouts();
    StepLoads();
    FollowLatency();
    m_Output.SayCaptureFailure();
    if (m_Status) {
        std::vector<std::string> lines = m_Log.Take();
        m_Status->Show(lines);
        // A loop's own lines go to its window too, at its next look.
        for (std::string &line : lines)
            if (line.compare(0, 5, "Loop ") == 0) m_LoopLines.push_back(std::move(line));
    }
    ShowLevels();
}

const short *LoopsApp::RecordSource()
{
    if (m_Plugin.m_Loaded) return m_Plugin.Input();
    // JACK's input port, or the OSS device's capture, is there all along:
    // the loops record it until a plug-in takes its place.
    if (m_Output.Jack() || m_Output.HasCapture()) return m_Output.InputBlock().GetBuffer();
    return m_Plugin.Input();
}

void LoopsApp::ShowLevels()
{
    const short *source = RecordSource();
    if (source != m_MeteredSource) {
        m_MeteredSource = source;
        AudioEngine::Post(&m_Engine, [this, source] { m_Engine.MeterInput(source); });
    }
    // At display rate, whatever the cycle's: the peaks wait meanwhile.
    const auto now = std::chrono::steady_clock::now();
    if (!m_Strip || now - m_LastLevels < FollowTime) return;
    m_LastLevels = now;
    m_InMeter->Show(m_Engine.m_InputLevel.Take());
    m_OutMeter->Show(m_Engine.m_OutputLevel.Take());
    m_TimeGUI.ShowBeat();
    std::vector<LoopStrip::Cell> cells;
    cells.reserve(m_Loops.size());
    std::vector<std::string> mine;
    // Loop windows are many: each follows at every other look, half of
    // them at a time, which halves what their meters cost.
    m_LevelLooks++;
    for (auto &item : m_Loops) {
        LoopGUI *panel = item.second->m_GUI;
        // Read as they stand: what is shown is a moment old at most.
        const LoopStrip::State state = panel->State();
        const bool look = (m_LevelLooks + item.first) % 2 == 0;
        // Between its looks a window's peak waits, the strip shows the last.
        const int peak = look ? item.second->m_Loop->m_Level.Take() : item.second->m_Loop->m_Level.Peek();
        cells.push_back({item.first, state, LevelMeter::Fraction(peak)});
        const std::string prefix = "Loop " + std::to_string(item.first) + ":";
        mine.clear();
        for (const std::string &line : m_LoopLines)
            if (line.compare(0, prefix.size(), prefix) == 0) mine.push_back(line);
        panel->ShowState(state, look ? peak : -1, mine);
    }
    m_LoopLines.clear();
    m_Strip->Show(cells);
}

double LoopsApp::MatchBarFrames() const
{
    const Transport &transport = m_Engine.m_Transport;
    if (!m_TimeGUI.m_Settings.m_MatchBars || !transport.HasGrid() || transport.Bpm() <= 0) return 0;
    return 60.0 * KorvelInfo::Samplerate / transport.Bpm() * transport.BeatsPerBar();
}

void LoopsApp::FollowLatency()
{
    JackDevice *jack = m_Output.Jack();
    // Link lays its bars where the sound is heard.
    const int heard =
        jack && jack->RunsInCallback() ? jack->CallbackOutputFrames() : 2 * KorvelInfo::BufferSize;
    m_Engine.m_Link.SetOutput(KorvelInfo::Samplerate, heard);
    int roundTrip = 0, frames = 0;
    // Loops record a plug-in's block of the block before, the input port's
    // block of their own.
    const int recordDelay = m_Plugin.m_Loaded ? KorvelInfo::BufferSize : 0;
    if (KorvelInfo::CompensateLatency && m_Engine.Live() && jack && jack->RunsInCallback()) {
        roundTrip = jack->CallbackRoundTripFrames();
        frames = roundTrip + recordDelay;
    }
    if (frames == m_Engine.TakeLatency() && recordDelay == m_Engine.RecordDelay()) return;
    m_Engine.SetTakeLatency(frames, recordDelay);
    if (frames > 0)
        std::cerr << "Takes are placed back by " << frames << " frames (round trip " << roundTrip
                  << (recordDelay ? " and the block the plug-in hands on)" : ")") << std::endl;
}

void LoopsApp::LoopsChanged()
{
    std::vector<Loop *> loops;
    loops.reserve(m_Loops.size());
    for (auto &item : m_Loops)
        loops.push_back(item.second->m_Loop);
    m_Engine.SetLoops(std::move(loops));
}

void LoopsApp::StepLoads()
{
    const auto deadline = SoundFileLoad::Clock::now() + SoundFileLoad::SliceTime();
    for (auto &item : m_Loops) {
        Loop *loop = item.second->m_Loop;
        if (!loop->IsLoading()) continue;
        if (loop->StepLoad(deadline)) {
            item.second->m_GUI->Refresh();
            // A loop that had a play length keeps it: say what is left out.
            const int total = loop->GetTotalLength();
            if (loop->m_LoopLength < total) {
                const double rate = std::max(1, KorvelInfo::Samplerate);
                std::cerr << "Loop " << loop->m_ID << ": plays "
                          << std::round(loop->m_LoopLength / rate * 10) / 10 << " s of the file's "
                          << std::round(total / rate * 10) / 10
                          << " s (its play length was kept; \"Length\" plays more)" << std::endl;
            }
        }
        if (SoundFileLoad::Clock::now() >= deadline) break;
    }
}

void LoopsApp::NewLoop()
{
    // The counter only grows; at its top no new number can be given.
    if (m_NextID == std::numeric_limits<int>::max()) {
        std::cerr << "No loop numbers left: no new loop made" << std::endl;
        return;
    }
    LoopEntry *entry = new LoopEntry;
    entry->m_Loop = new Loop(this);
    entry->m_Loop->m_ID = m_NextID;
    if (RecordSource()) entry->m_Loop->m_Input = RecordSource();
    entry->m_GUI = new LoopGUI(entry->m_Loop, &entry->m_Loop->m_Delay, &entry->m_Loop->m_Reverb);
    char name[64];
    std::snprintf(name, sizeof name, "KorvelLoop %d", m_NextID);
    entry->m_GUI->CreateGUI(name);
    entry->m_Loop->m_GUI = entry->m_GUI;
    LoopEntry *&slot = m_Loops[m_NextID];
    LoopEntry *replaced = slot;
    slot = entry;
    m_NextID++;
    LoopsChanged();
    if (replaced) DestroyEntry(replaced);
}

void LoopsApp::ClearLoops()
{
    std::map<int, LoopEntry *> gone;
    gone.swap(m_Loops);
    LoopsChanged();
    for (auto &item : gone)
        DestroyEntry(item.second);
}

void LoopsApp::ReopenLoop()
{
    if (m_Closed.empty()) return;
    LoopEntry *entry = m_Closed.back();
    m_Closed.pop_back();
    if (m_Closed.empty() && m_ReopenBtn) m_ReopenBtn->deactivate();
    Loop *loop = entry->m_Loop;
    if (m_Loops.count(loop->m_ID)) {
        if (m_NextID == std::numeric_limits<int>::max()) {
            std::cerr << "No loop numbers left: the closed loop stays closed" << std::endl;
            m_Closed.push_back(entry);
            return;
        }
        loop->m_ID = m_NextID++;
        entry->m_GUI->Rename(loop->m_ID);
    }
    // Out of the engine, the loop is the window's alone until it is back.
    loop->m_Delete = false;
    if (RecordSource()) loop->m_Input = RecordSource();
    m_Loops[loop->m_ID] = entry;
    LoopsChanged();
    entry->m_GUI->Show();
}

bool LoopsApp::Unsaved() const
{
    for (const auto &item : m_Loops) {
        const Loop *loop = item.second->m_Loop;
        if (loop->m_StoreBuffer.GetLength() > 0 && loop->Changes() != item.second->m_SavedChanges)
            return true;
    }
    return false;
}

void LoopsApp::MarkSaved()
{
    for (auto &item : m_Loops)
        item.second->m_SavedChanges = item.second->m_Loop->Changes();
}

void LoopsApp::CloseMain()
{
    if (Unsaved() && !Question::Current()->Ask("Some loops hold sound that is not saved in a workspace.\n"
                                               "Quit and lose it?",
                                               "Quit", "Keep playing"))
        return;
    while (Fl_Window *window = Fl::first_window())
        window->hide();
}

void LoopsApp::SetMaster(int id, float length, float speed)
{
    LoopHost::SetMaster(id, length, speed);
    for (auto &item : m_Loops)
        if (item.second->m_Loop->m_ID != id) item.second->m_GUI->SetMaster(false);
    auto master = m_Loops.find(id);
    if (master != m_Loops.end()) m_TimeGUI.MasterChosen(*master->second->m_Loop);
}

void LoopsApp::SnapPointsChanged(double value)
{
    // Fewer than one point has no angle; more than 360 points are a degree apart.
    if (!(value >= 1.0)) return;
    int points = value > 360.0 ? 360 : static_cast<int>(value);
    int angle = 360 / points;
    for (auto &item : m_Loops)
        item.second->m_GUI->SetSnapAngle(angle);
    if (m_SnapOut) m_SnapOut->value(value);
}

void LoopsApp::SnapChanged(bool on)
{
    for (auto &item : m_Loops)
        item.second->m_GUI->SetSnap(on);
}

bool LoopsApp::StartPlugin(const char *path)
{
    // The engine runs the plug-in every block: it waits while one replaces it.
    HandOverHold hold(m_Engine.m_Whole);
    if (!m_Plugin.Start(path)) return false;
    for (auto &item : m_Loops)
        item.second->m_Loop->m_Input = RecordSource();
    return true;
}

std::ostream &operator<<(std::ostream &out, LoopsApp &app)
{
    out << app.m_Delay << ' ' << app.m_Reverb << ' ';
    out << app.m_MasterLength << ' ' << app.m_MasterSpeed << ' ' << app.m_MasterPeriod << ' '
        << app.m_MasterID << ' ';
    out << static_cast<unsigned long>(app.m_Loops.size()) << ' ';
    for (auto &item : app.m_Loops) {
        // The engine keeps off the loop while its record is taken (it
        // catches the loop's time up after).
        HandOverHold held(item.second->m_Loop->m_HandOver);
        out << item.first << ' ' << *item.second->m_Loop << ' ' << *item.second->m_GUI << ' ';
    }
    const std::string &plugin = app.m_Plugin.m_Path;
    if (app.m_Plugin.m_Loaded && !plugin.empty() && plugin.size() <= WorkspaceReader::MostPathBytes)
        out << "Plugin " << plugin.size() << ' ' << plugin << ' ';
    if (!app.m_TimeGUI.m_Settings.IsDefault()) out << app.m_TimeGUI.m_Settings;
    std::vector<std::pair<int, int>> quantized;
    for (auto &item : app.m_Loops)
        if (item.second->m_GUI->m_QuantizeStep != TempoMap::Off)
            quantized.emplace_back(item.first, item.second->m_GUI->m_QuantizeStep);
    if (!quantized.empty()) {
        out << "Quantize " << quantized.size() << ' ';
        for (const auto &loop : quantized)
            out << loop.first << ' ' << loop.second << ' ';
    }
    return out;
}

namespace {

void RestoreDelay(Delay &delay, const WorkspaceReader::DelayRecord &record)
{
    // The panel always sets both times together; a stereo master delay
    // would otherwise keep an old right time.
    delay.m_DelayL = record.m_Time;
    delay.m_DelayR = record.m_Time;
    delay.m_Feedback = record.m_Feedback;
    delay.m_Bypass = record.m_Bypass;
}

void RestoreReverb(Reverb &reverb, const WorkspaceReader::ReverbRecord &record)
{
    reverb.m_Random = record.m_Random;
    reverb.m_Bypass = record.m_Bypass;
    // The stages keep their own times and feedback: tune them as the
    // panel's knobs would, so the reverb sounds as it was saved.
    reverb.SetFeedback(record.m_Feedback);
    reverb.SetTime(record.m_Time);
}

void RestoreLoop(Loop &loop, const WorkspaceReader::LoopRecord &record)
{
    loop.m_ID = record.m_ID;
    loop.m_Pos = record.m_Pos;
    loop.m_DisplayPos = record.m_DisplayPos;
    loop.m_HoldPos = record.m_HoldPos;
    loop.m_Playing = record.m_Playing;
    loop.m_Master = record.m_Master;
    loop.m_LoopLength = record.m_Length;
    loop.m_Speed = record.m_Speed;
    loop.m_Volume = record.m_Volume;
    loop.m_Pan = record.m_Pan;
    loop.m_LeftVol = record.m_LeftVol;
    loop.m_RightVol = record.m_RightVol;
    loop.m_EffectsOn = record.m_EffectsOn;
    Filter &filter = loop.m_Filter;
    filter.m_Cutoff = record.m_Filter.m_Cutoff;
    filter.m_Resonance = record.m_Filter.m_Resonance;
    filter.m_CutoffModInvert = record.m_Filter.m_CutoffInvert;
    filter.m_ResonanceModInvert = record.m_Filter.m_ResonanceInvert;
    // Only the slider's zero position gives this cutoff, and there the
    // filter is bypassed.
    filter.m_Bypass = record.m_Filter.m_Cutoff == Filter::BypassCutoff;
    RestoreDelay(loop.m_Delay, record.m_Delay);
    RestoreReverb(loop.m_Reverb, record.m_Reverb);
}

} // namespace

void LoopsApp::Restore(const WorkspaceReader::Records &records)
{
    {
        HandOverHold hold(m_Engine.m_Whole);
        RestoreDelay(m_Delay, records.m_Delay);
        RestoreReverb(m_Reverb, records.m_Reverb);
    }
    std::vector<LoopEntry *> replaced;
    m_MasterLength = records.m_MasterLength;
    m_MasterSpeed = records.m_MasterSpeed;
    m_MasterPeriod = records.m_MasterPeriod;
    m_MasterID = records.m_MasterID;

    for (const WorkspaceReader::EntryRecord &record : records.m_Entries) {
        const int id = record.m_Number;
        LoopEntry *entry = new LoopEntry;
        entry->m_Loop = new Loop(this);
        entry->m_GUI = new LoopGUI(entry->m_Loop, &entry->m_Loop->m_Delay, &entry->m_Loop->m_Reverb);
        entry->m_Loop->m_GUI = entry->m_GUI;
        RestoreLoop(*entry->m_Loop, record.m_Loop);
        // The registry key and the loop's own number are one and the same.
        entry->m_Loop->m_ID = id;
        if (RecordSource()) entry->m_Loop->m_Input = RecordSource();
        char name[64];
        std::snprintf(name, sizeof name, "KorvelLoop %d", id);
        entry->m_GUI->CreateGUI(name);
        entry->m_GUI->Restore(record.m_Panel);
        // A number that comes again replaces the earlier loop, whose window
        // would otherwise stay open and keep playing.
        LoopEntry *&slot = m_Loops[id];
        if (slot) replaced.push_back(slot);
        slot = entry;
        if (id >= m_NextID) m_NextID = id + 1;
    }
    LoopsChanged();
    for (LoopEntry *entry : replaced)
        DestroyEntry(entry);
}

std::istream &operator>>(std::istream &in, LoopsApp &app)
{
    WorkspaceReader::Records records;
    if (WorkspaceReader::ReadRecords(in, records)) app.Restore(records);
    return in;
}
