#ifndef MIDI_CONTROL_H
#define MIDI_CONTROL_H

#include "Midi/MidiBinding.h"
#include "Midi/MidiBindings.h"
#include "Midi/MidiInput.h"

#include <string>

class Fl_Button;
class Fl_Group;
class Fl_Widget;
class Fl_Window;
class LoopsApp;

// Playing the program from MIDI: the messages read each cycle act on the
// controls they are bound to, through the controls' own callbacks, as a
// mouse would. While "MIDI Learn" is down, a control the performer touches
// (a click; Ctrl+U or Ctrl+Y in a loop window for undo and redo) is chosen
// instead of used, and the next message is bound to it.
class MidiControl : public MidiInput::Listener
{
public:
    explicit MidiControl(LoopsApp *app);
    ~MidiControl() override;
    MidiControl(const MidiControl &) = delete;
    MidiControl &operator=(const MidiControl &) = delete;

    // The "MIDI Learn" toggle, in the current group; inactive until Start.
    Fl_Button *CreateButton(int x, int y);
    // Reads the bindings file and opens the device (none when empty).
    // A device that cannot be opened is not said when quiet (a JACK port serves).
    void Start(const std::string &device, const std::string &bindingsPath, bool quiet = false);
    // Once per audio cycle: what has arrived acts or is learnt.
    void Poll();
    void Received(const MidiMessage &message) override;
    // The raw device's clock goes to the engine, timed as it is read.
    void Clock(unsigned char byte) override;

    void SetLearning(bool on);
    // The control the next message will be bound to.
    void Choose(int loopID, const std::string &control, MidiBinding::Mode mode);
    // Forgets every binding of the chosen control (Delete while learning).
    void UnbindChosen();
    // A loop's Play and Record act on the audio thread, in the period their
    // JACK MIDI event arrives in (EngineMidi); they are handed to the engine
    // whenever the bindings change.
    static bool IsPedal(const MidiBinding &binding);
    void PushPedals();
    // Whether a pedal may start a take on the loop (its sound is kept ready for it).
    bool RecordPedal(int loopID) const;

    // The control of the main window (loop -1) or of a loop's window that
    // the name gives, or null.
    Fl_Widget *FindControl(int loopID, const std::string &control) const;
    // Labels of the panels that hold the control, then its own, "/" between.
    static std::string NameOf(const Fl_Widget *control);

    MidiInput m_Input;
    MidiBindings m_Bindings;
    Fl_Button *m_LearnBtn;
    bool m_Learning;
    bool m_Chosen;
    MidiBinding m_Choice;

private:
    static int Dispatch(int event, Fl_Window *window);
    bool Intercept(int event, Fl_Window *window);
    bool WindowOf(const Fl_Window *window, int &loopID) const;
    bool IsControl(const Fl_Widget *widget) const;
    Fl_Widget *Search(const Fl_Group *group, const std::string &control) const;
    Fl_Widget *ControlAt(const Fl_Group *group, int x, int y) const;
    void Act(MidiBinding &binding, const MidiMessage &message);
    void ShowLearning(const std::string &text);

    LoopsApp *m_App;
    bool m_Swallowing;
    std::string m_LearnLabel;
    static MidiControl *s_Learning;
};

#endif
