#include "KorvelInfo.h"

#include "System/HomeDirectory.h"

#include <fstream>
#include <iostream>

int KorvelInfo::BufferSize = 512;
int KorvelInfo::Samplerate = 44100;
bool KorvelInfo::WantMidi = false;
bool KorvelInfo::CompensateLatency = true;
int KorvelInfo::FadeMs = 0;
std::string KorvelInfo::MidiDevice = "/dev/midi";
int KorvelInfo::FilterGranularity = 50;
std::string KorvelInfo::OutputDevice = "/dev/dsp";
bool KorvelInfo::WantRealtimeOut = true;
int KorvelInfo::Polyphony = 1;
int KorvelInfo::UndoMemoryMB = 128;
int KorvelInfo::OscPortNumber = 9951;
std::string KorvelInfo::OscAddress = "127.0.0.1";
int KorvelInfo::SyncChoice = 0;

const float KorvelInfo::SampleScale = 1.0f / KorvelInfo::MaxSampleValue;

namespace {

// The file is read by position only; key and "=" words are skipped whatever
// they say, and may be of any length.
void SkipWord(std::istream &in)
{
    std::string word;
    in >> word;
}

// A number outside min ... max would later divide by zero, allocate absurd
// buffers or stall the device, so it keeps the built-in value and says so.
void ReadCount(std::istream &in, const char *name, int min, int max, int &setting, bool withKey = true)
{
    if (withKey) SkipWord(in);
    SkipWord(in);
    int value = 0;
    if (!(in >> value)) return;
    if (value < min || value > max) {
        std::cerr << "Resource file: " << name << " = " << value << " is outside " << min << " to " << max
                  << ", keeping " << setting << std::endl;
        return;
    }
    setting = value;
}

// Like formatted bool extraction: any integer other than 0 or 1 reads as true
// and fails the stream, so every later setting keeps its built-in value.
void ReadFlag(std::istream &in, bool &setting)
{
    SkipWord(in);
    SkipWord(in);
    long value = 0;
    if (!(in >> value)) return;
    setting = value != 0;
    if (value != 0 && value != 1) in.setstate(std::ios::failbit);
}

void ReadWord(std::istream &in, std::string &setting)
{
    SkipWord(in);
    SkipWord(in);
    std::string value;
    if (in >> value) setting = value;
}

} // namespace

KorvelInfo::KorvelInfo() : m_HasHome(HomeDirectory::Current()->Find(m_HomePath))
{
}

KorvelInfo::~KorvelInfo() = default;

std::string KorvelInfo::ResourceFileName()
{
    return ".KorvelSoundrc";
}

std::string KorvelInfo::ResourceFilePath()
{
    if (!m_HasHome) return "";
    return m_HomePath + "/" + ResourceFileName();
}

void KorvelInfo::LoadResourceFile()
{
    if (!m_HasHome) {
        std::cerr << "No home directory known: running with the built-in settings" << std::endl;
        return;
    }
    std::string path = ResourceFilePath();
    std::ifstream in(path.c_str());
    if (in.fail() || in.bad()) {
        std::cerr << "Creating " << path << std::endl;
        FadeMs = DefaultFadeMs;
        SaveResourceFile();
        return;
    }
    ReadSettings(in);
}

void KorvelInfo::SaveResourceFile()
{
    if (!m_HasHome) return;
    std::ofstream out(ResourceFilePath().c_str());
    WriteSettings(out);
}

void KorvelInfo::ReadSettings(std::istream &in)
{
    // Only a file with the OSC lines plays from the network: one written
    // before the server came (or cut short before them) never asked for it.
    const int oscPort = OscPortNumber;
    OscPortNumber = 0;
    SkipWord(in);
    SkipWord(in);
    SkipWord(in);
    ReadCount(in, "BufferSize", 1, MaxBufferSize, BufferSize);
    ReadCount(in, "Samplerate", MinSamplerate, MaxSamplerate, Samplerate);
    ReadFlag(in, WantMidi);
    ReadCount(in, "FilterGranularity", 1, MaxFilterGranularity, FilterGranularity);
    ReadWord(in, OutputDevice);
    ReadWord(in, MidiDevice);
    ReadFlag(in, WantRealtimeOut);
    ReadCount(in, "Polyphony", 1, MaxPolyphony, Polyphony);
    // Added later: files written before it end here and keep the built-in value.
    ReadCount(in, "UndoMemoryMB", 1, MaxUndoMemoryMB, UndoMemoryMB);
    ReadFlag(in, CompensateLatency);
    // Older files end here: their loops sound as they were recorded.
    FadeMs = 0;
    SyncChoice = 0;
    ReadCount(in, "FadeMs", 0, MaxFadeMs, FadeMs);
    std::string key;
    if (!(in >> key)) return;
    OscPortNumber = oscPort;
    ReadCount(in, "OscPort", 0, 65535, OscPortNumber, false);
    ReadWord(in, OscAddress);
    ReadCount(in, "SyncSource", 0, MaxSyncChoice, SyncChoice);
}

void KorvelInfo::WriteSettings(std::ostream &out)
{
    out << "KorvelSound resource file" << std::endl;
    out << std::endl;
    out << "BufferSize        = " << BufferSize << std::endl;
    out << "Samplerate        = " << Samplerate << std::endl;
    out << "WantMidi          = " << (WantMidi ? 1 : 0) << std::endl;
    out << "FilterGranularity = " << FilterGranularity << std::endl;
    out << "Output            = " << OutputDevice << std::endl;
    out << "Midi              = " << MidiDevice << std::endl;
    out << "WantRealtimeOut   = " << (WantRealtimeOut ? 1 : 0) << std::endl;
    out << "Polyphony         = " << Polyphony << std::endl;
    out << "UndoMemoryMB      = " << UndoMemoryMB << std::endl;
    out << "CompensateLatency = " << (CompensateLatency ? 1 : 0) << std::endl;
    out << "FadeMs            = " << FadeMs << std::endl;
    out << "OscPort           = " << OscPortNumber << std::endl;
    out << "OscAddress        = " << OscAddress << std::endl;
    out << "SyncSource        = " << SyncChoice << std::endl;
}
