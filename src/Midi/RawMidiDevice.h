#ifndef RAW_MIDI_DEVICE_H
#define RAW_MIDI_DEVICE_H

#include "Midi/MidiSource.h"

#include <string>

// A raw MIDI node (/dev/midi1, /dev/snd/midiC1D0), opened for reading
// without blocking. The only code that reaches such a device; a named pipe
// or a pseudo-terminal may stand in for one.
class RawMidiDevice : public MidiSource
{
public:
    RawMidiDevice() = default;
    ~RawMidiDevice() override;
    RawMidiDevice(const RawMidiDevice &) = delete;
    RawMidiDevice &operator=(const RawMidiDevice &) = delete;

    // False, with Failure() saying why, when the device cannot be opened.
    bool Open(const std::string &path);
    void Close();
    bool IsOpen() const { return m_Fd >= 0; }

    int Read(unsigned char *bytes, int size) override;
    std::string Failure() const override { return m_Failure; }

private:
    int m_Fd = -1;
    bool m_EndIsGone = false;
    std::string m_Failure;
};

#endif
