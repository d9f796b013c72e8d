#include "Remote/OscControls.h"

#include "Engine/AudioEngine.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopsApp.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Valuator.H>

#include <algorithm>
#include <cmath>

namespace {

// What the other looper's "state" reports for each of ours.
float StateCode(LoopStrip::State state)
{
    switch (state) {
    case LoopStrip::Waiting:
        return 1;
    case LoopStrip::Recording:
        return 2;
    case LoopStrip::Playing:
        return 4;
    case LoopStrip::Overdubbing:
        return 5;
    case LoopStrip::Muted:
        return 10;
    case LoopStrip::Stopped:
        return 14;
    case LoopStrip::Empty:
        break;
    }
    return 0;
}

void Valuate(Fl_Valuator *valuator, double value)
{
    if (valuator->value(valuator->clamp(valuator->round(value)))) valuator->do_callback();
}

} // namespace

LoopGUI *OscControls::Panel(int loopID) const
{
    auto found = m_App->m_Loops.find(loopID);
    // A closed loop's window waits to be removed; it takes nothing more.
    if (found == m_App->m_Loops.end() || found->second->m_Loop->m_Delete) return nullptr;
    return found->second->m_GUI;
}

Fl_Widget *OscControls::Control(int loopID, const std::string &name, std::string &why) const
{
    if (loopID >= 0 && !Panel(loopID)) {
        why = "no loop " + std::to_string(loopID);
        return nullptr;
    }
    Fl_Widget *control = m_App->m_Midi.FindControl(loopID, name);
    if (!control) {
        why = "no control \"" + name + "\"";
        return nullptr;
    }
    // These wait for a file chooser on the program's screen: the messages
    // that name the file serve instead.
    const LoopGUI *panel = loopID >= 0 ? Panel(loopID) : nullptr;
    if ((panel && (control == panel->m_LoadBtn || control == panel->m_SaveBtn)) ||
        control == m_App->m_LoadWorkspaceBtn || control == m_App->m_SaveWorkspaceBtn ||
        control == m_App->m_LoadPluginBtn || control == m_App->m_OutputGUI.m_RecordBtn) {
        why = "\"" + name + "\" asks for a file: send the path (see the README)";
        return nullptr;
    }
    return control;
}

bool OscControls::Read(int loopID, const std::string &name, float &value) const
{
    if (LoopGUI *panel = loopID >= 0 ? Panel(loopID) : nullptr) {
        const Loop *loop = panel->m_Loop;
        const double rate = std::max(1, KorvelInfo::Samplerate);
        if (name == "wet") return value = static_cast<float>(1 - panel->m_VolumeSlider->value()), true;
        if (name == "rate") return value = static_cast<float>(panel->m_SpeedKnob->value()), true;
        if (name == "pan_1") return value = static_cast<float>(panel->m_BalanceKnob->value() / 2), true;
        if (name == "state") return value = StateCode(panel->State()), true;
        if (name == "loop_len" || name == "cycle_len")
            return value = static_cast<float>(loop->m_LoopLength / rate), true;
        if (name == "loop_pos")
            return value = static_cast<float>(loop->m_ShownPos.load(std::memory_order_relaxed) / rate), true;
    }
    if (LoopGUI *panel = loopID >= 0 ? Panel(loopID) : nullptr) {
        if (name == "Quantize") return value = static_cast<float>(panel->m_QuantizeStep), true;
    }
    std::string why;
    Fl_Widget *control = Control(loopID, name, why);
    if (Fl_Valuator *valuator = dynamic_cast<Fl_Valuator *>(control))
        return value = static_cast<float>(valuator->value()), true;
    if (Fl_Button *button = dynamic_cast<Fl_Button *>(control)) return value = button->value(), true;
    return false;
}

bool OscControls::Set(int loopID, const std::string &name, float value, std::string &why)
{
    if (!std::isfinite(value)) {
        why = "the value is no number";
        return false;
    }
    LoopGUI *panel = loopID >= 0 ? Panel(loopID) : nullptr;
    if (panel && name == "wet") return Valuate(panel->m_VolumeSlider, 1.0 - value), true;
    if (panel && name == "rate") return Valuate(panel->m_SpeedKnob, value), true;
    if (panel && name == "pan_1") return Valuate(panel->m_BalanceKnob, 2.0 * value), true;
    // 0 off, 1 beat, 2 bar, 3 the master loop's laps.
    if (panel && name == "Quantize") {
        const int step = static_cast<int>(std::lround(std::min(3.0f, std::max(0.0f, value))));
        panel->ShowQuantize(static_cast<TempoMap::Step>(step));
        return true;
    }
    Fl_Widget *control = Control(loopID, name, why);
    if (!control) return false;
    if (Fl_Valuator *valuator = dynamic_cast<Fl_Valuator *>(control)) return Valuate(valuator, value), true;
    Fl_Button *button = static_cast<Fl_Button *>(control);
    const bool on = value >= 0.5f;
    if (button->type() != FL_TOGGLE_BUTTON) {
        if (on) button->do_callback();
        return true;
    }
    if (button->value() != on) {
        button->value(on);
        button->do_callback();
    }
    return true;
}

bool OscControls::Press(int loopID, const std::string &name, std::string &why)
{
    LoopGUI *panel = loopID >= 0 ? Panel(loopID) : nullptr;
    if (panel && (name == "Undo" || name == "Redo")) {
        name == "Undo" ? panel->Undo() : panel->Redo();
        return true;
    }
    Fl_Widget *control = Control(loopID, name, why);
    if (!control) return false;
    Fl_Button *button = dynamic_cast<Fl_Button *>(control);
    if (!button) {
        why = "\"" + name + "\" is no button: set it";
        return false;
    }
    if (button->type() == FL_TOGGLE_BUTTON) button->value(!button->value());
    button->do_callback();
    return true;
}

bool OscControls::Command(int loopID, const std::string &command, std::string &why)
{
    LoopGUI *panel = Panel(loopID);
    if (!panel) {
        why = "no loop " + std::to_string(loopID);
        return false;
    }
    Loop *loop = panel->m_Loop;
    // Record on a loop that has sound overdubs it.
    if (command == "record" || command == "overdub") return Press(loopID, "Record", why);
    if (command == "undo") return panel->Undo(), true;
    if (command == "redo") return panel->Redo(), true;
    if (command == "pause") return Press(loopID, "Play", why);
    if (command == "mute") return Mute(panel), true;
    if (command == "trigger") return Trigger(panel), true;
    // The whole sound, as Ctrl+A then Ctrl+R; an edit needs the take ended.
    if (command == "reverse" && !panel->m_RecordBtn->value()) {
        loop->Reverse(0, loop->GetTotalLength());
        panel->Refresh();
        return true;
    }
    why = command == "reverse" ? "not while recording" : "no command \"" + command + "\"";
    return false;
}

bool OscControls::Edit(int loopID, const std::string &edit, int from, int to, std::string &why)
{
    LoopGUI *panel = Panel(loopID);
    if (!panel || panel->m_RecordBtn->value()) {
        why = panel ? "not while recording" : "no loop " + std::to_string(loopID);
        return false;
    }
    Loop *loop = panel->m_Loop;
    const int length = loop->m_StoreBuffer.GetLength();
    const int start = std::clamp(std::min(from, to), 0, length);
    const int end = std::clamp(std::max(from, to), 0, length);
    const int at = std::clamp(from, 0, length);
    if (edit == "cut")
        loop->Cut(start, end);
    else if (edit == "copy")
        loop->Copy(start, end);
    else if (edit == "paste")
        loop->Paste(at);
    else if (edit == "mix")
        loop->PasteMix(at);
    else if (edit == "silence")
        loop->Silence(start, end);
    else if (edit == "reverse")
        loop->Reverse(start, end);
    else if (edit == "halve")
        loop->Halve();
    else if (edit == "keep")
        loop->KeepHold();
    else if (edit == "rotate")
        loop->Rotate(from);
    else {
        why = "no edit \"" + edit + "\"";
        return false;
    }
    panel->Refresh();
    return true;
}

void OscControls::Mute(LoopGUI *panel)
{
    Fl_Slider *volume = panel->m_VolumeSlider;
    const int id = panel->m_Loop->m_ID;
    // The slider's bottom (its maximum) is silence.
    if (volume->value() < volume->maximum()) {
        m_Unmuted[id] = volume->value();
        Valuate(volume, volume->maximum());
        return;
    }
    auto before = m_Unmuted.find(id);
    Valuate(volume, before == m_Unmuted.end() ? volume->minimum() : before->second);
    if (before != m_Unmuted.end()) m_Unmuted.erase(before);
}

void OscControls::Trigger(LoopGUI *panel)
{
    // From the start, playing: as a trigger marker starts a loop.
    Loop *loop = panel->m_Loop;
    AudioEngine::Post(&m_App->m_Engine, [loop] {
        loop->m_Pos = 0;
        loop->m_ShownPos.store(0, std::memory_order_relaxed);
    });
    if (!panel->m_PlayBtn->value()) {
        panel->m_PlayBtn->value(1);
        panel->m_PlayBtn->do_callback();
    }
}
