#ifndef MIDI_BINDINGS_TARGET_H
#define MIDI_BINDINGS_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>

// One fuzz input as the text of a MIDI bindings file, read line by line as
// the program reads it. Every binding read must be one the program can act
// on, and the bindings written as the program writes them must read back the
// same.
class MidiBindingsTarget
{
public:
    // Returns an empty string when every promise held, else what broke.
    static std::string Run(const uint8_t *data, size_t size);
};

#endif
