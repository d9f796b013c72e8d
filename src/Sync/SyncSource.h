#ifndef SYNC_SOURCE_H
#define SYNC_SOURCE_H

#include "Sync/TempoMap.h"

#include <cstdint>

// Another instrument's clock the beat grid follows (MIDI clock, JACK
// transport, Ableton Link). Asked on the audio thread at every block's start;
// it must not wait, allocate or print there.
class SyncSource
{
public:
    // Which source leads, as the resource file and a workspace keep it.
    enum Choice
    {
        Internal,
        MidiClock,
        JackTransport,
        Link,
        // The JACK transport again, its timebase counted at the program's tempo.
        JackMaster,
        Choices
    };

    virtual ~SyncSource() = default;
    // The grid for the block starting at the engine frame (frames long):
    // true with map set to the grid to follow (its origin in engine frames)
    // and running to whether the source's transport runs; false to keep the
    // grid as it is (no word from the source yet).
    virtual bool Follow(int64_t frame, int frames, TempoMap &map, bool &running) = 0;
};

#endif
