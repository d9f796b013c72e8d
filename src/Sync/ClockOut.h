#ifndef CLOCK_OUT_H
#define CLOCK_OUT_H

#include "Sync/TempoMap.h"

#include <cstdint>

// Where the 24-a-beat MIDI clock's ticks fall in a block: each at the frame
// the grid puts it, rounded from the grid's origin, so the ticks keep no
// error but the rounding to a whole frame.
class ClockOut
{
public:
    static constexpr int TicksPerBeat = 24;
    // The offsets within [start, start + frames) of the ticks there, up to
    // room of them; returns how many.
    static int TicksIn(const TempoMap &map, int64_t start, int frames, int *offsets, int room);
    // The frame of the tick of that number (0 at the origin).
    static int64_t FrameOf(const TempoMap &map, int64_t tick);
};

#endif
