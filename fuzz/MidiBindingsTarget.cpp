#include "MidiBindingsTarget.h"

#include "Midi/MidiBindings.h"

#include <sstream>

namespace {

// The lines of text as bindings, skipping blank lines and comments as the
// file is read.
MidiBindings Read(const std::string &text)
{
    MidiBindings bindings;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t first = line.find_first_not_of(" \t\r");
        MidiBinding binding;
        if (first != std::string::npos && line[first] != '#' && MidiBindings::ParseLine(line, binding))
            bindings.Bind(binding);
    }
    return bindings;
}

std::string Problem(const MidiBinding &b)
{
    const std::string &control = b.m_Control;
    if ((b.m_Kind != MidiMessage::NoteOn && b.m_Kind != MidiMessage::Controller &&
         b.m_Kind != MidiMessage::ProgramChange) ||
        b.m_Channel < 0 || b.m_Channel > 15 || b.m_Number < 0 || b.m_Number > 127 ||
        b.m_Mode < MidiBinding::Press || b.m_Mode > MidiBinding::Set || b.m_LoopID < -1 || control.empty() ||
        control.find('\n') != std::string::npos || control.find_first_of(" \t\r") == 0 ||
        control.find_last_of(" \t\r") == control.size() - 1 || b.m_Down)
        return "binding read as \"" + MidiBindings::LineOf(b) + "\"";
    return "";
}

bool Same(const MidiBinding &a, const MidiBinding &b)
{
    return a.m_Kind == b.m_Kind && a.m_Channel == b.m_Channel && a.m_Number == b.m_Number &&
           a.m_Mode == b.m_Mode && a.m_LoopID == b.m_LoopID && a.m_Control == b.m_Control;
}

} // namespace

std::string MidiBindingsTarget::Run(const uint8_t *data, size_t size)
{
    const MidiBindings read = Read(std::string(reinterpret_cast<const char *>(data), size));
    std::string written;
    for (size_t i = 0; i < read.m_Bindings.size(); i++) {
        const MidiBinding &binding = read.m_Bindings[i];
        std::string problem = Problem(binding);
        if (!problem.empty()) return problem;
        for (size_t j = 0; j < i; j++)
            if (read.m_Bindings[j].m_Kind == binding.m_Kind &&
                read.m_Bindings[j].m_Channel == binding.m_Channel &&
                read.m_Bindings[j].m_Number == binding.m_Number)
                return "one message bound twice: \"" + MidiBindings::LineOf(binding) + "\"";
        written += MidiBindings::LineOf(binding) + "\n";
    }
    const MidiBindings again = Read(written);
    if (again.m_Bindings.size() != read.m_Bindings.size())
        return "bindings lost or gained on being written and read again:\n" + written;
    for (size_t i = 0; i < read.m_Bindings.size(); i++)
        if (!Same(read.m_Bindings[i], again.m_Bindings[i]))
            return "a binding changed on being written and read again: \"" +
                   MidiBindings::LineOf(read.m_Bindings[i]) + "\"";
    return "";
}
