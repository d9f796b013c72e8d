#include "Midi/JackMidiSource.h"

#include "AudioDevices/JackDevice.h"

int JackMidiSource::Read(unsigned char *bytes, int size)
{
    return m_Device->ReadMidi(bytes, size);
}

std::string JackMidiSource::Failure() const
{
    return "the JACK server is gone";
}
