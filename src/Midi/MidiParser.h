#ifndef MIDI_PARSER_H
#define MIDI_PARSER_H

#include "Midi/MidiMessage.h"

// Turns a raw MIDI byte stream into messages, a byte at a time: running
// status, real-time bytes between any two bytes, system exclusive and system
// common skipped, and data bytes with no status to belong to dropped until
// the next status byte.
class MidiParser
{
public:
    // True when the byte completes a note, controller or program change,
    // which is then in message; other messages are read and dropped.
    bool Feed(unsigned char byte, MidiMessage &message);
    // Forgets any message in progress and the running status.
    void Reset();

private:
    unsigned char m_Status = 0; // 0: none; data bytes are dropped
    unsigned char m_Data[2] = {0, 0};
    int m_Count = 0;
    bool m_InSysex = false;
};

#endif
