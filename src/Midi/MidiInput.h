#ifndef MIDI_INPUT_H
#define MIDI_INPUT_H

#include "KorvelInfo.h"
#include "Midi/MidiMessage.h"
#include "Midi/MidiParser.h"
#include "Midi/RawMidiDevice.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class MidiSource;

// Every source of MIDI the program reads: the raw MIDI device and any other
// source added (a JACK MIDI port), each with a parser of its own. Read once
// per audio cycle without waiting; a source that fails is one line and the
// program plays on.
class MidiInput
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void Received(const MidiMessage &message) = 0;
        // A clock byte (tick, Start, Continue, Stop) as it came, between
        // messages or inside one.
        virtual void Clock(unsigned char) {}
    };

    MidiInput();
    ~MidiInput();
    MidiInput(const MidiInput &) = delete;
    MidiInput &operator=(const MidiInput &) = delete;

    // Opens the raw MIDI device; one line when it cannot be. A device that is
    // missing or failed is tried again every m_RetryEvery, silently, so a
    // controller plugged in again is heard again.
    // Quiet: the line is left out (another source serves, a JACK port).
    void OpenDevice(const std::string &path, bool quiet = false);
    bool DeviceOpen() const { return m_Device.IsOpen(); }
    // Another source, read after the device; removed before it is destroyed.
    void AddSource(MidiSource *source);
    void RemoveSource(MidiSource *source);

    // Reads everything that has arrived (up to MostBytesPerPoll) and hands
    // every complete message to the listener, in order. The listener may poll again (a file chooser that
    // keeps the cycle running): each message still arrives once, in order.
    void Poll(Listener &listener);

    std::chrono::steady_clock::duration m_RetryEvery;

    // What one poll takes from one source at most, so a source that never
    // runs dry cannot hold the cycle. Twice what MIDI's 3125 bytes a second
    // bring in the longest cycle there can be, so a busy stream never falls
    // behind.
    static constexpr int MostBytesPerPoll = 2 * 3125 * KorvelInfo::MaxBufferSize / KorvelInfo::MinSamplerate;

private:
    class Feed
    {
    public:
        explicit Feed(MidiSource *source) : m_Source(source) {}
        MidiSource *m_Source;
        MidiParser m_Parser;
        unsigned char m_Bytes[256];
        int m_Start = 0;
        int m_End = 0;
        bool m_Failed = false;
    };

    void PollFeed(Feed &feed, Listener &listener);
    void FeedFailed(Feed &feed);
    void RetryDevice();

    RawMidiDevice m_Device;
    Feed m_DeviceFeed;
    std::string m_DevicePath;
    std::chrono::steady_clock::time_point m_NextTry;
    std::vector<std::unique_ptr<Feed>> m_Sources;
};

#endif
