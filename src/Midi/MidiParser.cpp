#include "Midi/MidiParser.h"

namespace {

int DataBytes(unsigned char status)
{
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    case 0xF0:
        // Song position takes two; time code and song select one; the rest none.
        return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
    default:
        return 2;
    }
}

} // namespace

void MidiParser::Reset()
{
    m_Status = 0;
    m_Count = 0;
    m_InSysex = false;
}

bool MidiParser::Feed(unsigned char byte, MidiMessage &message)
{
    // Clock, start, stop and the like may come between any two bytes and
    // belong to no message.
    if (byte >= 0xF8) return false;
    if (byte & 0x80) {
        // Any status byte ends a message in progress, complete or not.
        m_Count = 0;
        m_InSysex = byte == 0xF0;
        m_Status = (byte == 0xF0 || byte == 0xF7) ? 0 : byte;
        // System common messages without data end here; none of them leaves
        // a running status.
        if (m_Status >= 0xF0 && DataBytes(m_Status) == 0) m_Status = 0;
        return false;
    }
    if (m_InSysex || m_Status == 0) return false;
    m_Data[m_Count++] = byte;
    if (m_Count < DataBytes(m_Status)) return false;
    m_Count = 0;
    const unsigned char status = m_Status;
    if (status >= 0xF0) {
        m_Status = 0;
        return false;
    }

    message.m_Channel = status & 0x0F;
    message.m_Number = m_Data[0];
    message.m_Value = m_Data[1];
    switch (status & 0xF0) {
    case 0x80:
        message.m_Kind = MidiMessage::NoteOff;
        return true;
    case 0x90:
        message.m_Kind = message.m_Value == 0 ? MidiMessage::NoteOff : MidiMessage::NoteOn;
        return true;
    case 0xB0:
        message.m_Kind = MidiMessage::Controller;
        return true;
    case 0xC0:
        message.m_Kind = MidiMessage::ProgramChange;
        message.m_Value = 0;
        return true;
    default:
        return false;
    }
}
