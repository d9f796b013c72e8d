#ifndef METRONOME_H
#define METRONOME_H

#include "Sync/TempoMap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The click on every beat of the grid, higher and louder on a bar's first:
// a short decaying tone, made ahead (Prepare) so a block only copies.
class Metronome
{
public:
    // Off the audio thread: the clicks at the rate.
    void Prepare(int rate);
    // Adds the clicks of [start, start + frames) to the mono block at the
    // level (0 ... 1); a click begun in the block before goes on.
    void Render(const TempoMap &map, int64_t start, short *block, int frames, float level);

private:
    std::vector<float> m_Beat, m_Accent;
    const std::vector<float> *m_Playing = nullptr;
    size_t m_At = 0;
    int64_t m_NextFrame = -1; // the frame after the last one rendered
};

#endif
