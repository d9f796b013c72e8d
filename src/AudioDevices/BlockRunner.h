#ifndef BLOCK_RUNNER_H
#define BLOCK_RUNNER_H

#include <cstddef>
#include <cstdint>

struct TransportPosition;

// What a sound device calls on its own thread when it needs the next block
// (JACK's process callback, the OSS device thread). The block goes to the
// device through the program's Output as ever.
class BlockRunner
{
public:
    virtual ~BlockRunner() = default;
    virtual bool RunBlock() = 0;
    // A MIDI event that came in `ahead` frames of input after what the
    // blocks took so far; true when the runner acted on it itself.
    virtual bool MidiEvent(const unsigned char *, size_t, int64_t) { return false; }
    // The server's transport at the start of the period whose input comes
    // `ahead` frames after what the blocks took so far.
    virtual void TransportAt(const TransportPosition &, int64_t) {}
};

#endif
