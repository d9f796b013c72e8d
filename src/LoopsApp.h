#ifndef LOOPS_APP_H
#define LOOPS_APP_H

#include "Engine/AudioEngine.h"
#include "Engine/EngineThread.h"
#include "GUI/DelayGUI.h"
#include "GUI/MidiControl.h"
#include "GUI/OutputGUI.h"
#include "GUI/TimeGUI.h"
#include "GUI/ReverbGUI.h"
#include "GUI/ScopeGUI.h"
#include "KorvelSound/Delay.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Reverb.h"
#include "KorvelSound/Sample.h"
#include "LoopEntry.h"
#include "LoopHost.h"
#include "PluginHost.h"
#include "System/MessageLog.h"
#include "WorkspaceReader.h"

#include <chrono>
#include <iosfwd>
#include <map>
#include <memory>
#include <vector>

class DynamicLoader;
class JackMidiSource;
class Fl_Button;
class LevelMeter;
class LoopStrip;
class OscRemote;
class StatusLine;
class Fl_Group;
class Fl_Knob;
class Fl_Value_Output;
class Fl_Window;
class SoundDevice;

// The one application object: the master audio path, the loop registry, the
// main window's controls and the plug-in host (m_Plugin). One Run() is one block.
class LoopsApp : public LoopHost
{
public:
    // Stand-ins for the sound device and the dynamic loader are for tests;
    // by default the real ones are used.
    explicit LoopsApp(SoundDevice *device = nullptr, DynamicLoader *loader = nullptr);
    ~LoopsApp() override;
    LoopsApp(const LoopsApp &) = delete;
    LoopsApp &operator=(const LoopsApp &) = delete;

    Fl_Window *CreateWindow();
    // One cycle: MIDI, closed loops and loads on this side, one block of
    // the engine (unless the engine runs on an audio thread of its own),
    // then the windows follow what the engine did.
    void Run();
    // Hands the blocks to the audio thread: JACK's process callback, or the
    // program's own thread writing to the OSS device. Without a device the
    // cycle keeps making them (paced by the clock).
    void GoLive();
    // Takes the blocks back (before the program ends, or when JACK went away).
    void StopLive();
    // One pass of the program's event loop; false once no window is left.
    bool Pass();
    void NewLoop();
    void ClearLoops();
    // A closed loop's window goes, and its loop leaves the mix, but the loop
    // is kept for the session with its sound and history: the last one
    // closed comes back (under a new number if a workspace took its own).
    void ReopenLoop();
    // Whether any loop holds sound not saved with a workspace since.
    bool Unsaved() const;
    // After a workspace was saved or loaded.
    void MarkSaved();
    // The main window's close (not Escape): asks first when sound is not
    // saved, then closes every window, which ends the program.
    void CloseMain();
    // Takes a workspace's master settings and adds its loops, each number
    // that comes again replacing the loop before.
    void Restore(const WorkspaceReader::Records &records);
    void SetMaster(int id, float length, float speed) override;

    // Starts a plug-in (PluginHost::Start) and has every loop record from its block.
    bool StartPlugin(const char *path);
    Fl_Window *PluginWindow() const override { return m_Plugin.m_Window; }
    AudioEngine *Engine() override { return &m_Engine; }
    void TakeEnded(Loop &loop, bool fresh) override { m_TimeGUI.TakeEnded(loop, fresh); }
    int TakeBars() const override { return m_TimeGUI.m_Settings.m_TakeBars; }
    double MatchBarFrames() const override;

    // Main-window controls, also called by tests.
    void SnapPointsChanged(double value);
    void SnapChanged(bool on);
    // Every line written to standard error, for the status line; first, so
    // that it hears the other members' lines to the end.
    MessageLog m_Log;
    // Lines about a loop, waiting for its window's next look.
    std::vector<std::string> m_LoopLines;
    int64_t m_LevelLooks = 0;

    // Owns the main window; declared first so that it goes last, after the
    // panels have taken their own groups out of it.
    std::unique_ptr<Fl_Window> m_WindowOwner;
    Fl_Window *m_Window;
    PluginHost m_Plugin;
    Delay m_Delay;
    DelayGUI m_DelayGUI;
    Reverb m_Reverb;
    ReverbGUI m_ReverbGUI;
    ScopeGUI m_ScopeGUI;
    Output m_Output;
    OutputGUI m_OutputGUI;
    TimeGUI m_TimeGUI;
    // Runs the blocks; declared after the master path it runs.
    AudioEngine m_Engine;
    EngineThread m_EngineThread;
    std::map<int, LoopEntry *> m_Loops;
    // Closed loops, the last closed at the back; no more than MostClosed.
    std::vector<LoopEntry *> m_Closed;
    static constexpr size_t MostClosed = 3;
    int m_NextID;

    Fl_Group *m_MainGroup;
    Fl_Button *m_LoadWorkspaceBtn;
    Fl_Button *m_SaveWorkspaceBtn;
    Fl_Button *m_NewLoopBtn;
    Fl_Button *m_LoadPluginBtn;
    Fl_Button *m_PausePluginBtn;
    Fl_Button *m_ReopenBtn;
    // The last message, under the main panel.
    StatusLine *m_Status;
    // The input's and the output's levels, and every loop's state.
    LevelMeter *m_InMeter;
    LevelMeter *m_OutMeter;
    LoopStrip *m_Strip;
    Fl_Knob *m_SnapPointsKnob;
    Fl_Button *m_SnapBtn;
    Fl_Value_Output *m_SnapOut;
    // MIDI input, its bindings and the "MIDI Learn" button.
    MidiControl m_Midi;
    // The JACK client's MIDI port, a source of m_Midi beside the raw device.
    std::unique_ptr<JackMidiSource> m_JackMidi;
    // OSC messages, read every pass (not owned; none in tests).
    OscRemote *m_Remote = nullptr;
    // Under a session manager, the workspace buttons save and load this one.
    std::string m_SessionWorkspace;

private:
    std::chrono::steady_clock::time_point m_LastFollow;
    // Reading a workspace replaces a loop whose number comes again.
    void DestroyEntry(LoopEntry *entry);
    // The engine mixes the registry's loops, in its order.
    void LoopsChanged();
    // Gives the sound files being loaded a slice of time after the block is
    // written; a loop that took its new sound shows it.
    void StepLoads();
    // Takes are placed back by the round trip JACK reports now (and the
    // block the recording path adds), while the setting asks for it.
    void FollowLatency();
    // The meters and the strip of loops follow the engine.
    void ShowLevels();
    const short *m_MeteredSource = nullptr;
    std::chrono::steady_clock::time_point m_LastLevels;
    // What the loops record: the plug-in's block while one is loaded, else
    // the JACK input port's block.
    const short *RecordSource();
};

// Workspace top-level record: master delay and reverb, master-loop timing,
// then every loop entry (number, loop record, panel record) in ascending
// number. Reading adds the entries to the registry, building each loop's
// window, and raises m_NextID past every number read.
std::ostream &operator<<(std::ostream &out, LoopsApp &app);
std::istream &operator>>(std::istream &in, LoopsApp &app);

#endif
