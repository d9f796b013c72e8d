#ifndef JACK_DEVICE_H
#define JACK_DEVICE_H

#include <cstdint>
#include <memory>
#include <string>

class BlockRunner;
class JackState;

// The program as a JACK client: two output ports (left, right), the
// metronome's pair (click_left, click_right), the clock's MIDI output
// (midi_out) and one input port, fed and drained through lock-free rings.
// JACK's thread runs only the process callback, which moves one period from
// the output ring to the ports and from the input port to the input ring;
// everything else runs on the main thread, but for the wait for the server at
// start. The only code that sees jack.h; tests may stand in for it.
class JackDevice
{
public:
    JackDevice();
    virtual ~JackDevice();
    JackDevice(const JackDevice &) = delete;
    JackDevice &operator=(const JackDevice &) = delete;

    // Connects as ClientName() to the server (empty: JACK's default), and the
    // ports to the first physical playback and capture ports. On failure
    // Error() says why, with JACK's status; a server that does not answer
    // within seconds is given up.
    virtual bool Open(const std::string &server, int blockFrames);
    virtual void Close();
    // The server's rate; it follows the server if that changes it.
    virtual int SampleRate() const;
    // Hands one block to the output ring, waiting while the ring is full:
    // that wait paces the program. A server that takes nothing for half a
    // second costs the block (counted). False once the server is gone.
    // click (mono, to click_left and click_right) and midi (per frame, up to
    // two bytes for midi_out, the first in the low byte) may be null.
    virtual bool Write(const short *data, int frames, int channels, const short *click = nullptr,
                       const uint16_t *midi = nullptr);
    // The next block of the input port, in order; silence if it is missing.
    virtual void Read(short *mono, int frames);
    // With WantMidi the client also has a MIDI input port ("midi_in",
    // connected to the first physical MIDI source): the bytes of the events
    // that arrived since the last call, up to size; -1 without the port or
    // once the server is gone.
    virtual int ReadMidi(unsigned char *bytes, int size);
    // Periods JACK asked for that were not ready (played as silence), and
    // blocks that were never played, the server taking nothing.
    virtual int64_t Dropouts() const;
    virtual int64_t LostBlocks() const;
    // Cycles the server reported as gone wrong (xruns), whoever was late.
    virtual int64_t Xruns() const;
    // Capture and playback latency of the connected ports plus what the
    // rings hold: from the input port's sound to the output's, in frames.
    virtual int RoundTripFrames() const;
    // The same once the blocks are made in the callback (RunInCallback).
    virtual int CallbackRoundTripFrames() const;
    // With blocks made in the callback: from a block's making to its first
    // frame's sound at the output, in frames.
    virtual int CallbackOutputFrames() const;
    // The server's period, following its changes.
    virtual int PeriodFrames() const;
    // From now on the process callback makes the blocks it plays by calling
    // the runner (null: stop; returns once no block is being made), and
    // Write, called from inside it, never waits.
    virtual void RunInCallback(BlockRunner *runner);
    bool RunsInCallback() const;
    // Takes the transport's timebase, unless another client holds it
    // (false then), and gives bar and beat at this tempo and meter from the
    // transport's frame 0; a tempo of 0 lets it go.
    virtual bool LeadTransport(double bpm, int beatsPerBar);
    // The server went away.
    virtual bool Gone() const;
    virtual const std::string &Error() const { return m_Error; }

    // "KorvelLoops", or KORVEL_JACK_CLIENT when set.
    static std::string ClientName();

private:
    bool Fail(const std::string &why);

    std::unique_ptr<JackState> m_State;
    std::string m_Error;
};

#endif
