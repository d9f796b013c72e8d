#ifndef FADE_H
#define FADE_H

#include "KorvelSound/Sample.h"

#include <cstdint>

// Short linear fades that keep a sound from jumping where two parts of it
// meet. Linear: a fade-out and a fade-in over the same samples add up to one,
// so a crossfade between two alike parts keeps its level, at one multiply a
// sample. A fade of n samples takes the midpoints of n equal steps, so it
// never quite reaches 0 or 1 and a fade-out mirrors its fade-in.
class Fade
{
public:
    // The gain of the k-th sample of a fade-in n samples long; 1 beyond it.
    static float Rise(int64_t k, int n) { return k >= n ? 1.0f : (static_cast<float>(k) + 0.5f) / n; }

    // The n samples from `at`, going by `step` (1 or -1) and round the end of
    // the sound, cross from before[0 ... n) to what they hold: the first is
    // almost all `before`, the last almost all its own value.
    static void Cross(Sample &sound, int at, int step, const short *before, int n);
    // Fades out the n samples before `join` and in the n from it, round the
    // end of the sound (n at most half its length): for joins where the
    // sound that should follow either side is not there to cross with.
    static void Dip(Sample &sound, int join, int n);
    // Fades in the first n values of a layer and out its last n.
    static void Edges(Sample &layer, int n);
};

#endif
