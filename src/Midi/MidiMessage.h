#ifndef MIDI_MESSAGE_H
#define MIDI_MESSAGE_H

// One complete MIDI message of the kinds a control can be bound to. A
// note-on with velocity 0 arrives as a note-off, as the MIDI standard means it.
class MidiMessage
{
public:
    enum Kind
    {
        NoteOff,
        NoteOn,
        Controller,
        ProgramChange
    };

    Kind m_Kind = NoteOn;
    int m_Channel = 0; // 0 ... 15
    int m_Number = 0;  // note, controller or program, 0 ... 127
    int m_Value = 0;   // velocity or controller value, 0 ... 127; 0 for a program change
};

#endif
