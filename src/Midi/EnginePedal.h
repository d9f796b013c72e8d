#ifndef ENGINE_PEDAL_H
#define ENGINE_PEDAL_H

#include "Midi/MidiBinding.h"
#include "Midi/MidiMessage.h"

// A binding the engine acts on itself, on the audio thread: a loop's Play or
// Record. Plain values, so the GUI can build a set of them and hand it over.
struct EnginePedal
{
    enum Action
    {
        Play,
        Record
    };
    MidiMessage::Kind m_Kind = MidiMessage::NoteOn; // NoteOn stands for notes
    int m_Channel = 0;
    int m_Number = 0;
    MidiBinding::Mode m_Mode = MidiBinding::Press;
    int m_LoopID = 0;
    Action m_Action = Play;
    bool m_Down = false; // a controller's last side of 64
};

#endif
