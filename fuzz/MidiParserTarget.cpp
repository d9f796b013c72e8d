#include "MidiParserTarget.h"

#include "Midi/MidiParser.h"

#include <sstream>
#include <vector>

namespace {

std::string Problem(const MidiMessage &m)
{
    std::ostringstream problem;
    if (m.m_Kind < MidiMessage::NoteOff || m.m_Kind > MidiMessage::ProgramChange || m.m_Channel < 0 ||
        m.m_Channel > 15 || m.m_Number < 0 || m.m_Number > 127 || m.m_Value < 0 || m.m_Value > 127 ||
        (m.m_Kind == MidiMessage::NoteOn && m.m_Value == 0) ||
        (m.m_Kind == MidiMessage::ProgramChange && m.m_Value != 0))
        problem << "message kind " << m.m_Kind << " channel " << m.m_Channel << " number " << m.m_Number
                << " value " << m.m_Value;
    return problem.str();
}

bool Same(const MidiMessage &a, const MidiMessage &b)
{
    return a.m_Kind == b.m_Kind && a.m_Channel == b.m_Channel && a.m_Number == b.m_Number &&
           a.m_Value == b.m_Value;
}

// Every message the bytes give, with a clock byte after each one when asked.
std::vector<MidiMessage> Parse(MidiParser &parser, const uint8_t *data, size_t size, bool clocked)
{
    std::vector<MidiMessage> messages;
    for (size_t i = 0; i < size; i++) {
        MidiMessage message;
        if (parser.Feed(data[i], message)) messages.push_back(message);
        if (clocked && parser.Feed(0xF8, message)) messages.push_back(message);
    }
    return messages;
}

} // namespace

std::string MidiParserTarget::Run(const uint8_t *data, size_t size)
{
    MidiParser plain, clocked;
    const std::vector<MidiMessage> messages = Parse(plain, data, size, false);
    for (const MidiMessage &message : messages) {
        std::string problem = Problem(message);
        if (!problem.empty()) return problem;
    }
    const std::vector<MidiMessage> withClock = Parse(clocked, data, size, true);
    if (withClock.size() != messages.size()) return "clock bytes changed the number of messages";
    for (size_t i = 0; i < messages.size(); i++)
        if (!Same(messages[i], withClock[i])) return "clock bytes changed a message";

    // Whatever came before (a system exclusive left open, half a message), a
    // controller change is heard as sent.
    const uint8_t change[] = {0xB3, 64, 127};
    const std::vector<MidiMessage> after = Parse(plain, change, sizeof change, false);
    if (after.size() != 1 || after[0].m_Kind != MidiMessage::Controller || after[0].m_Channel != 3 ||
        after[0].m_Number != 64 || after[0].m_Value != 127)
        return "a controller change after the input was not heard as sent";
    return "";
}
