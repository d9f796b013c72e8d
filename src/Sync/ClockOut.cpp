#include "Sync/ClockOut.h"

#include <cmath>

int64_t ClockOut::FrameOf(const TempoMap &map, int64_t tick)
{
    return map.m_Origin + std::llround(tick * (map.FramesPerBeat() / TicksPerBeat));
}

int ClockOut::TicksIn(const TempoMap &map, int64_t start, int frames, int *offsets, int room)
{
    const double perTick = map.FramesPerBeat() / TicksPerBeat;
    if (perTick < 1 || frames <= 0) return 0;
    int64_t tick = static_cast<int64_t>(std::ceil((start - map.m_Origin) / perTick)) - 1;
    while (FrameOf(map, tick) < start)
        tick++;
    int count = 0;
    for (int64_t at = FrameOf(map, tick); at < start + frames && count < room; at = FrameOf(map, ++tick))
        offsets[count++] = static_cast<int>(at - start);
    return count;
}
