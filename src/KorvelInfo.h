#ifndef KORVEL_INFO_H
#define KORVEL_INFO_H

#include <cstdint>
#include <iosfwd>
#include <string>

// Program-wide settings. They start at built-in defaults, are replaced once at
// start-up from the resource file and are read-only afterwards, so every audio
// and panel class reads them directly as static members.
class KorvelInfo
{
public:
    KorvelInfo();
    virtual ~KorvelInfo();

    virtual std::string ResourceFileName();
    virtual void ReadSettings(std::istream &in);
    virtual void WriteSettings(std::ostream &out);

    // Reads $HOME/<ResourceFileName()>, or creates it from the current values.
    void LoadResourceFile();
    void SaveResourceFile();

    // Full path of the resource file; empty when no home directory is known.
    std::string ResourceFilePath();

    std::string m_HomePath;
    bool m_HasHome;

    static int BufferSize;
    static int Samplerate;
    static bool WantMidi;
    static std::string MidiDevice;
    static int FilterGranularity;
    static std::string OutputDevice;
    static bool WantRealtimeOut;
    static int Polyphony;
    // What the undo histories of all loops may hold together, in MB.
    static int UndoMemoryMB;
    // Takes and overdubs are placed back by the round trip JACK reports, so
    // what is played along with the loops lands in time with them.
    static bool CompensateLatency;
    // Fades at a loop's seam, its starts, stops and jumps, an overdub's ends
    // and the joins of edits, in ms (0 ... MaxFadeMs). 0 plays and edits the
    // sound exactly as recorded, as it was before fades existed, so a file
    // without the line keeps 0; a file this version creates gets DefaultFadeMs.
    static int FadeMs;
    static constexpr int DefaultFadeMs = 3;
    static constexpr int MaxFadeMs = 50;
    // The OSC server's UDP port (0: none) and the address it listens on.
    static int OscPortNumber;
    static std::string OscAddress;
    // What the beat grid follows at start: 0 the program's own tempo, 1 MIDI
    // clock in, 2 the JACK transport; a file without the line keeps 0.
    static int SyncChoice;
    static constexpr int MaxSyncChoice = 4;

    static constexpr int64_t MaxSampleValue = 32767;
    static const float SampleScale;
    static constexpr int PanelColour = 139;
    static constexpr int PanelBackColour = 49;

    // Largest values accepted from the resource file; anything above would
    // allocate absurd buffers or stall the audio cycle.
    static constexpr int MaxBufferSize = 65536;
    static constexpr int MaxSamplerate = 384000;
    // Below the lowest rate sound devices take, every block would take
    // seconds to play and the program could no longer be worked.
    static constexpr int MinSamplerate = 8000;
    static constexpr int MaxFilterGranularity = 65536;
    static constexpr int MaxPolyphony = 256;
    static constexpr int MaxUndoMemoryMB = 65536;
};

#endif
