#ifndef MIDI_BINDING_H
#define MIDI_BINDING_H

#include "Midi/MidiMessage.h"

#include <string>

// A note, controller or program change bound to one control of the main
// window or of a loop window. Controls are named by their labels, inside
// the labels of the panels that hold them ("Record", "Delay/Feedback",
// "Main/New Loop"); "Undo" and "Redo" name a loop's history.
class MidiBinding
{
public:
    enum Mode
    {
        Press, // a note or controller at 64 or more presses the button once
        Held,  // a toggle button stays down while the note or controller is
        Set    // a controller's 0 ... 127 spans a knob's or slider's range
    };

    // Whether the message is this binding's note (on or off), controller
    // or program change.
    bool Matches(const MidiMessage &message) const
    {
        const MidiMessage::Kind kind =
            message.m_Kind == MidiMessage::NoteOff ? MidiMessage::NoteOn : message.m_Kind;
        return kind == m_Kind && message.m_Channel == m_Channel && message.m_Number == m_Number;
    }

    MidiMessage::Kind m_Kind = MidiMessage::NoteOn; // NoteOn stands for notes
    int m_Channel = 0;
    int m_Number = 0;
    Mode m_Mode = Press;
    int m_LoopID = -1; // the loop's number; -1 for the main window
    std::string m_Control;
    // Whether a controller last said "down", so that a pedal that sends a
    // stream of values presses once.
    bool m_Down = false;
};

#endif
