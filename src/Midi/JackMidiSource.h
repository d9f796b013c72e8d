#ifndef JACK_MIDI_SOURCE_H
#define JACK_MIDI_SOURCE_H

#include "Midi/MidiSource.h"

class JackDevice;

// The JACK client's MIDI input port as a source of MIDI bytes, beside the raw
// device: the process callback keeps whole events in a ring, read here on the
// main thread once per cycle.
class JackMidiSource : public MidiSource
{
public:
    explicit JackMidiSource(JackDevice *device) : m_Device(device) {}
    int Read(unsigned char *bytes, int size) override;
    std::string Failure() const override;

private:
    JackDevice *m_Device;
};

#endif
