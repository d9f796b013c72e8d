#ifndef OSC_CONTROLS_H
#define OSC_CONTROLS_H

#include <map>
#include <string>

class Fl_Widget;
class LoopGUI;
class LoopsApp;

// The controls a performer has, by the names MIDI Learn gives them ("Record",
// "Volume", "Delay/Feedback", "Snap Points"; loop -1 is the main window), and
// the looper names other OSC tools use ("wet", "rate", "pan_1", "state",
// ...). Every change goes through the control's own callback, as a click
// would, so undo, takes and the engine see no difference.
class OscControls
{
public:
    explicit OscControls(LoopsApp *app) : m_App(app) {}

    // The loop's panel, or null when there is no such open loop.
    LoopGUI *Panel(int loopID) const;
    // A value as a tool reads it back; false for a name that has none.
    bool Read(int loopID, const std::string &name, float &value) const;
    // Sets a knob or slider (its own scale, clamped), a toggle (0 or 1) or
    // presses a button (1); false with the reason why not.
    bool Set(int loopID, const std::string &name, float value, std::string &why);
    // A click: a toggle toggles, a button is pressed.
    bool Press(int loopID, const std::string &name, std::string &why);
    // The looper commands (record, overdub, mute, trigger, ...).
    bool Command(int loopID, const std::string &command, std::string &why);
    // An edit of the ring (cut, copy, paste, mix, silence, reverse, halve,
    // keep, rotate) between sample positions from and to (paste and mix at
    // from; rotate by from), kept within the sound.
    bool Edit(int loopID, const std::string &edit, int from, int to, std::string &why);

private:
    Fl_Widget *Control(int loopID, const std::string &name, std::string &why) const;
    void Mute(LoopGUI *panel);
    void Trigger(LoopGUI *panel);

    LoopsApp *m_App;
    // The volume slider's place before a mute, for the unmute.
    std::map<int, double> m_Unmuted;
};

#endif
