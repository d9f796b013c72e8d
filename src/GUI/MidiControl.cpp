#include "GUI/MidiControl.h"

#include "Engine/AudioEngine.h"

#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopsApp.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Valuator.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Window.H>

namespace {

const char *const LearnLabel = "MIDI Learn";
const char *const UndoControl = "Undo";
const char *const RedoControl = "Redo";

void LearnToggled(Fl_Widget *widget, void *data)
{
    static_cast<MidiControl *>(data)->SetLearning(static_cast<Fl_Button *>(widget)->value() != 0);
}

bool Contains(const Fl_Widget *widget, int x, int y)
{
    return x >= widget->x() && y >= widget->y() && x < widget->x() + widget->w() &&
           y < widget->y() + widget->h();
}

bool IsToggle(const Fl_Widget *widget)
{
    const Fl_Button *button = dynamic_cast<const Fl_Button *>(widget);
    return button && button->type() == FL_TOGGLE_BUTTON;
}

std::string MessageText(const MidiMessage &message)
{
    const char *kind = message.m_Kind == MidiMessage::Controller      ? "cc "
                       : message.m_Kind == MidiMessage::ProgramChange ? "pc "
                                                                      : "note ";
    return kind + std::to_string(message.m_Number);
}

} // namespace

MidiControl *MidiControl::s_Learning = nullptr;

MidiControl::MidiControl(LoopsApp *app)
    : m_LearnBtn(nullptr), m_Learning(false), m_Chosen(false), m_App(app), m_Swallowing(false)
{
}

MidiControl::~MidiControl()
{
    if (s_Learning == this) {
        s_Learning = nullptr;
        Fl::event_dispatch(nullptr);
    }
}

Fl_Button *MidiControl::CreateButton(int x, int y)
{
    m_LearnBtn = new Fl_Button(x, y, 90, 20, LearnLabel);
    m_LearnBtn->labelsize(10);
    m_LearnBtn->type(FL_TOGGLE_BUTTON);
    m_LearnBtn->callback(LearnToggled, this);
    m_LearnBtn->tooltip("Set WantMidi to 1 in the resource file to play from MIDI");
    m_LearnBtn->deactivate();
    return m_LearnBtn;
}

void MidiControl::Start(const std::string &device, const std::string &bindingsPath, bool quiet)
{
    m_Bindings.Load(bindingsPath);
    PushPedals();
    if (!device.empty()) m_Input.OpenDevice(device, quiet);
    if (m_LearnBtn) {
        m_LearnBtn->tooltip("Press, touch a control, then the pedal; Delete unbinds the control touched");
        m_LearnBtn->activate();
    }
}

void MidiControl::Poll()
{
    m_Input.Poll(*this);
}

void MidiControl::Clock(unsigned char byte)
{
    if (AudioEngine *engine = m_App ? m_App->Engine() : nullptr) engine->ClockByte(byte);
}

void MidiControl::Received(const MidiMessage &message)
{
    if (!m_Learning) {
        if (MidiBinding *binding = m_Bindings.Find(message)) Act(*binding, message);
        return;
    }
    // Learning acts on nothing; a release ends no binding.
    if (!m_Chosen || message.m_Kind == MidiMessage::NoteOff) return;
    MidiBinding binding = m_Choice;
    binding.m_Kind = message.m_Kind;
    binding.m_Channel = message.m_Channel;
    binding.m_Number = message.m_Number;
    m_Bindings.Bind(binding);
    m_Bindings.Save();
    PushPedals();
    m_Chosen = false;
    ShowLearning(MessageText(message) + " bound");
}

void MidiControl::SetLearning(bool on)
{
    m_Learning = on;
    // While learning every message comes here, the pedals' too.
    m_App->m_Engine.SetMidiLearning(on);
    m_Chosen = false;
    m_Swallowing = false;
    // Clicks reach the controls through this only while learning.
    if (on) {
        s_Learning = this;
        Fl::event_dispatch(Dispatch);
    } else if (s_Learning == this) {
        s_Learning = nullptr;
        Fl::event_dispatch(nullptr);
    }
    if (m_LearnBtn) m_LearnBtn->value(on);
    ShowLearning(LearnLabel);
}

bool MidiControl::IsPedal(const MidiBinding &binding)
{
    return binding.m_LoopID >= 0 && binding.m_Mode != MidiBinding::Set &&
           (binding.m_Control == "Play" || binding.m_Control == "Record");
}

void MidiControl::PushPedals()
{
    std::vector<EnginePedal> pedals;
    for (const MidiBinding &binding : m_Bindings.m_Bindings) {
        if (!IsPedal(binding)) continue;
        EnginePedal pedal;
        pedal.m_Kind = binding.m_Kind;
        pedal.m_Channel = binding.m_Channel;
        pedal.m_Number = binding.m_Number;
        pedal.m_Mode = binding.m_Mode;
        pedal.m_LoopID = binding.m_LoopID;
        pedal.m_Action = binding.m_Control == "Record" ? EnginePedal::Record : EnginePedal::Play;
        pedals.push_back(pedal);
    }
    m_App->m_Engine.SetPedals(std::move(pedals));
}

bool MidiControl::RecordPedal(int loopID) const
{
    for (const MidiBinding &binding : m_Bindings.m_Bindings)
        if (IsPedal(binding) && binding.m_LoopID == loopID && binding.m_Control == "Record") return true;
    return false;
}

void MidiControl::Choose(int loopID, const std::string &control, MidiBinding::Mode mode)
{
    m_Choice = MidiBinding();
    m_Choice.m_LoopID = loopID;
    m_Choice.m_Control = control;
    m_Choice.m_Mode = mode;
    m_Chosen = true;
    const size_t slash = control.rfind('/');
    std::string text = slash == std::string::npos ? control : control.substr(slash + 1);
    if (loopID >= 0) text = std::to_string(loopID) + " " + text;
    ShowLearning(text + (mode == MidiBinding::Held ? " held?" : "?"));
}

void MidiControl::UnbindChosen()
{
    if (!m_Chosen) return;
    m_Chosen = false;
    if (m_Bindings.Unbind(m_Choice.m_LoopID, m_Choice.m_Control)) m_Bindings.Save();
    PushPedals();
    ShowLearning("Unbound");
}

void MidiControl::ShowLearning(const std::string &text)
{
    if (!m_LearnBtn) return;
    m_LearnLabel = text;
    m_LearnBtn->label(m_LearnLabel.c_str());
    m_LearnBtn->redraw();
}

void MidiControl::Act(MidiBinding &binding, const MidiMessage &message)
{
    LoopGUI *panel = nullptr;
    if (binding.m_LoopID >= 0) {
        auto found = m_App->m_Loops.find(binding.m_LoopID);
        // A closed loop's window waits to be destroyed; it takes nothing more.
        if (found == m_App->m_Loops.end() || found->second->m_Loop->m_Delete) return;
        panel = found->second->m_GUI;
    }
    const bool down = message.m_Kind == MidiMessage::NoteOn || message.m_Kind == MidiMessage::ProgramChange ||
                      (message.m_Kind == MidiMessage::Controller && message.m_Value >= 64);
    // A pedal may send a stream of values: only crossing 64 presses or lets go.
    if (message.m_Kind == MidiMessage::Controller && binding.m_Mode != MidiBinding::Set) {
        if (down == binding.m_Down) return;
        binding.m_Down = down;
    }

    if (panel && (binding.m_Control == UndoControl || binding.m_Control == RedoControl)) {
        if (!down) return;
        if (binding.m_Control == UndoControl)
            panel->Undo();
        else
            panel->Redo();
        return;
    }

    Fl_Widget *control = FindControl(binding.m_LoopID, binding.m_Control);
    if (!control) return;
    if (Fl_Valuator *valuator = dynamic_cast<Fl_Valuator *>(control)) {
        if (message.m_Kind != MidiMessage::Controller && message.m_Kind != MidiMessage::NoteOn) return;
        double fraction = message.m_Value / 127.0;
        // A vertical slider's minimum is at its top, where the pedal's top belongs.
        const Fl_Slider *slider = dynamic_cast<const Fl_Slider *>(control);
        if (slider && !(slider->type() & FL_HORIZONTAL)) fraction = 1 - fraction;
        double value = valuator->minimum() + (valuator->maximum() - valuator->minimum()) * fraction;
        if (valuator->value(valuator->clamp(valuator->round(value)))) valuator->do_callback();
        return;
    }

    Fl_Button *button = static_cast<Fl_Button *>(control);
    if (!IsToggle(button)) {
        if (down) button->do_callback();
        return;
    }
    const int wanted =
        binding.m_Mode == MidiBinding::Held ? down : (down ? !button->value() : button->value());
    if (button->value() == wanted) return;
    button->value(wanted);
    button->do_callback();
}

bool MidiControl::IsControl(const Fl_Widget *widget) const
{
    if (widget == m_LearnBtn || !widget->label() || !*widget->label()) return false;
    if (dynamic_cast<const Fl_Button *>(widget)) return true;
    return dynamic_cast<const Fl_Valuator *>(widget) && !dynamic_cast<const Fl_Value_Output *>(widget);
}

std::string MidiControl::NameOf(const Fl_Widget *control)
{
    std::string name = control->label() ? control->label() : "";
    for (Fl_Group *group = control->parent(); group && !group->as_window(); group = group->parent())
        if (group->label() && *group->label()) name = std::string(group->label()) + "/" + name;
    return name;
}

Fl_Widget *MidiControl::FindControl(int loopID, const std::string &control) const
{
    const Fl_Group *window = m_App->m_Window;
    if (loopID >= 0) {
        auto found = m_App->m_Loops.find(loopID);
        window = found == m_App->m_Loops.end() ? nullptr : found->second->m_GUI->m_Display;
    }
    return window ? Search(window, control) : nullptr;
}

Fl_Widget *MidiControl::Search(const Fl_Group *group, const std::string &control) const
{
    for (int i = 0; i < group->children(); i++) {
        Fl_Widget *child = group->child(i);
        if (IsControl(child) && NameOf(child) == control) return child;
        if (const Fl_Group *inner = child->as_group()) {
            if (Fl_Widget *found = Search(inner, control)) return found;
        }
    }
    return nullptr;
}

Fl_Widget *MidiControl::ControlAt(const Fl_Group *group, int x, int y) const
{
    // The last child lies on top.
    for (int i = group->children(); i-- > 0;) {
        Fl_Widget *child = group->child(i);
        if (!child->visible() || !Contains(child, x, y)) continue;
        if (IsControl(child)) return child;
        if (const Fl_Group *inner = child->as_group()) {
            if (Fl_Widget *found = ControlAt(inner, x, y)) return found;
        }
    }
    return nullptr;
}

bool MidiControl::WindowOf(const Fl_Window *window, int &loopID) const
{
    loopID = -1;
    if (window == m_App->m_Window) return true;
    for (auto &item : m_App->m_Loops) {
        if (item.second->m_GUI->m_Display == window) {
            loopID = item.first;
            return true;
        }
    }
    return false;
}

int MidiControl::Dispatch(int event, Fl_Window *window)
{
    if (s_Learning && window && s_Learning->Intercept(event, window)) return 1;
    return Fl::handle_(event, window);
}

bool MidiControl::Intercept(int event, Fl_Window *window)
{
    int loopID = -1;
    switch (event) {
    case FL_PUSH: {
        if (!WindowOf(window, loopID)) return false;
        Fl_Widget *control = ControlAt(window, Fl::event_x(), Fl::event_y());
        if (!control) return false;
        // The right button (or Shift) binds a toggle "held": down while the pedal is.
        MidiBinding::Mode mode = MidiBinding::Press;
        if (dynamic_cast<Fl_Valuator *>(control))
            mode = MidiBinding::Set;
        else if (IsToggle(control) && (Fl::event_button() == FL_RIGHT_MOUSE || Fl::event_shift()))
            mode = MidiBinding::Held;
        Choose(loopID, NameOf(control), mode);
        // The control is only chosen: its press, drag and release go nowhere.
        m_Swallowing = true;
        return true;
    }
    case FL_DRAG:
        return m_Swallowing;
    case FL_RELEASE: {
        bool swallowed = m_Swallowing;
        m_Swallowing = false;
        return swallowed;
    }
    case FL_KEYDOWN: {
        if (!WindowOf(window, loopID)) return false;
        const int key = Fl::event_key();
        if (loopID >= 0 && Fl::event_ctrl() && (key == 'u' || key == 'y')) {
            Choose(loopID, key == 'u' ? UndoControl : RedoControl, MidiBinding::Press);
            return true;
        }
        if (m_Chosen && (key == FL_Delete || key == FL_BackSpace)) {
            UnbindChosen();
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}
