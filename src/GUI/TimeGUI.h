#ifndef TIME_GUI_H
#define TIME_GUI_H

#include "GUI/GUIBase.h"
#include "Sync/TimeSettings.h"

#include <chrono>
#include <deque>

class AudioEngine;
class Fl_Box;
class Fl_Button;
class Fl_Choice;
class Fl_Light_Button;
class Fl_Slider;
class Fl_Value_Input;
class JackDevice;
class Loop;

// The musical time in a row of the main window: tempo (typed or tapped; 0 is
// no grid), beats to the bar, how many bars the first take makes, the
// metronome and its level, the MIDI clock sent out, and what the grid
// follows (its own tempo, MIDI clock in, the JACK transport); the grid's bar
// and beat as it plays. Every change goes to the engine's transport by command.
class TimeGUI : public GUIBase
{
public:
    void CreateGUI(int x, int y, const char *name) override;
    // The widgets from m_Settings, and the settings to the engine.
    void UpdateValues() override;
    // At display rate: where the grid stands.
    void ShowBeat();
    // A take ended; the first of a session without a tempo may make it.
    void TakeEnded(Loop &loop, bool fresh);
    // A loop became the master: with "First loop" bars set, it makes the tempo.
    void MasterChosen(Loop &loop);
    // A tap: two or more in time make the tempo, a bar starting at the last.
    void Tap(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
    // The settings to the engine; barNow starts a bar at once.
    void Apply(bool barNow = false, const Loop *startOf = nullptr);

    TimeSettings m_Settings;
    AudioEngine *m_Engine = nullptr;
    JackDevice *m_Jack = nullptr; // the transport's timebase, with JACK only
    int m_Rate = 44100;
    Fl_Value_Input *m_BpmIn = nullptr;
    Fl_Value_Input *m_BeatsIn = nullptr;
    Fl_Value_Input *m_BarsIn = nullptr;
    Fl_Button *m_TapBtn = nullptr;
    Fl_Light_Button *m_ClickBtn = nullptr;
    Fl_Slider *m_ClickLevel = nullptr;
    Fl_Light_Button *m_InMixBtn = nullptr;
    Fl_Light_Button *m_ClockOutBtn = nullptr;
    Fl_Value_Input *m_TakeBarsIn = nullptr;
    Fl_Light_Button *m_MatchBarsBtn = nullptr;
    Fl_Choice *m_SyncIn = nullptr;
    Fl_Box *m_BeatOut = nullptr;

private:
    // The loop is "First loop" bars long: the tempo, bars starting at its start.
    void TempoFrom(Loop &loop);

    std::deque<std::chrono::steady_clock::time_point> m_Taps;
    char m_BeatText[64] = "";
    bool m_TimebaseRefused = false; // said once
};

#endif
