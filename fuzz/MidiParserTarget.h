#ifndef MIDI_PARSER_TARGET_H
#define MIDI_PARSER_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>

// One fuzz input as the bytes a MIDI device sends. Every message the parser
// gives must be one a binding could hold; clock bytes between any two bytes
// must change nothing; and after any input a status byte starts afresh.
class MidiParserTarget
{
public:
    // Returns an empty string when every promise held, else what broke.
    static std::string Run(const uint8_t *data, size_t size);
};

#endif
