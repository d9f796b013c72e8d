#include "ResourceFileTarget.h"

#include "ErrorCapture.h"
#include "KorvelInfo.h"

#include <sstream>

namespace {

// Every setting, to compare and to put back.
struct Settings
{
    Settings()
        : BufferSize(KorvelInfo::BufferSize), Samplerate(KorvelInfo::Samplerate), WantMidi(KorvelInfo::WantMidi),
          MidiDevice(KorvelInfo::MidiDevice), FilterGranularity(KorvelInfo::FilterGranularity),
          OutputDevice(KorvelInfo::OutputDevice), WantRealtimeOut(KorvelInfo::WantRealtimeOut),
          Polyphony(KorvelInfo::Polyphony)
    {
    }
    void Restore() const
    {
        KorvelInfo::BufferSize = BufferSize;
        KorvelInfo::Samplerate = Samplerate;
        KorvelInfo::WantMidi = WantMidi;
        KorvelInfo::MidiDevice = MidiDevice;
        KorvelInfo::FilterGranularity = FilterGranularity;
        KorvelInfo::OutputDevice = OutputDevice;
        KorvelInfo::WantRealtimeOut = WantRealtimeOut;
        KorvelInfo::Polyphony = Polyphony;
    }
    bool operator==(const Settings &o) const
    {
        return BufferSize == o.BufferSize && Samplerate == o.Samplerate && WantMidi == o.WantMidi &&
               MidiDevice == o.MidiDevice && FilterGranularity == o.FilterGranularity &&
               OutputDevice == o.OutputDevice && WantRealtimeOut == o.WantRealtimeOut && Polyphony == o.Polyphony;
    }
    int BufferSize;
    int Samplerate;
    bool WantMidi;
    std::string MidiDevice;
    int FilterGranularity;
    std::string OutputDevice;
    bool WantRealtimeOut;
    int Polyphony;
};

std::string Usable()
{
    std::ostringstream problem;
    if (KorvelInfo::BufferSize < 1 || KorvelInfo::BufferSize > KorvelInfo::MaxBufferSize)
        problem << "BufferSize " << KorvelInfo::BufferSize;
    else if (KorvelInfo::Samplerate < 1 || KorvelInfo::Samplerate > KorvelInfo::MaxSamplerate)
        problem << "Samplerate " << KorvelInfo::Samplerate;
    else if (KorvelInfo::FilterGranularity < 1 || KorvelInfo::FilterGranularity > KorvelInfo::MaxFilterGranularity)
        problem << "FilterGranularity " << KorvelInfo::FilterGranularity;
    else if (KorvelInfo::Polyphony < 1 || KorvelInfo::Polyphony > KorvelInfo::MaxPolyphony)
        problem << "Polyphony " << KorvelInfo::Polyphony;
    else if (KorvelInfo::OutputDevice.empty() || KorvelInfo::MidiDevice.empty())
        problem << "an empty device path";
    return problem.str();
}

} // namespace

std::string ResourceFileTarget::Run(const uint8_t *data, size_t size)
{
    const Settings before;
    std::string problem;
    {
        ErrorCapture quiet;
        KorvelInfo info;
        std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
        info.ReadSettings(in);
        problem = Usable();
        if (problem.empty()) {
            // What was read must come back unchanged from the file the
            // program would write.
            const Settings read;
            std::stringstream file;
            info.WriteSettings(file);
            info.ReadSettings(file);
            if (!(Settings() == read)) problem = "the settings changed on being written and read again:\n" + file.str();
        }
    }
    before.Restore();
    return problem;
}
