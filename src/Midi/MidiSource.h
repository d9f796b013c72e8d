#ifndef MIDI_SOURCE_H
#define MIDI_SOURCE_H

#include <string>

// Where MIDI bytes come from: a raw MIDI device, or a JACK MIDI port whose
// events are handed over as their bytes. Read on the main thread only, once
// per audio cycle, and never waits.
class MidiSource
{
public:
    virtual ~MidiSource() = default;
    // Copies up to size bytes that have arrived into bytes: the count, 0 when
    // nothing is there, -1 when the source failed and will give no more.
    virtual int Read(unsigned char *bytes, int size) = 0;
    // After Read gave -1: what failed, for the one line that says so.
    virtual std::string Failure() const = 0;
};

#endif
