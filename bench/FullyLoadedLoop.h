#ifndef FULLY_LOADED_LOOP_H
#define FULLY_LOADED_LOOP_H

// The loop both benchmarks measure: one second of sound through an active
// filter and its own delay and reverb, with the settings the panel gives.

#include "Loop.h"

#include <cmath>

namespace FullyLoaded {

const double CutoffSlider = 50.0;
const double Emphasis = 5.0;
const float DelayTime = 0.5f;
const float DelayFeedback = 0.5f;
const float ReverbTime = 0.25f;
const float Balance = 0.7f;
const int SoundLength = 44100;

// A second of sound that is neither silent nor periodic within a block: two
// detuned partials, a slow swell and a little deterministic noise.
inline void LoadSecondOfSound(Loop &loop)
{
    loop.AllocateMem(SoundLength);
    unsigned noise = 12345;
    for (int i = 0; i < SoundLength; i++) {
        noise = noise * 1103515245u + 12345u;
        double t = static_cast<double>(i) / 44100.0;
        double swell = 0.5 + 0.5 * std::sin(2.0 * M_PI * 0.7 * t);
        double value = 12000.0 * swell * std::sin(2.0 * M_PI * 220.0 * t) +
                       6000.0 * std::sin(2.0 * M_PI * 331.0 * t) +
                       static_cast<double>(static_cast<int>(noise >> 16) % 2001 - 1000);
        loop.m_StoreBuffer[i] = static_cast<short>(value);
    }
    loop.m_LoopLength = SoundLength;
}

// Everything switched on, set on the loop as the panel's handlers set it.
inline void Load(Loop &loop)
{
    LoadSecondOfSound(loop);
    const int cutoff = static_cast<int>(100 - CutoffSlider);
    loop.m_Filter.m_Cutoff = static_cast<double>(cutoff * cutoff + 10);
    loop.m_Filter.m_Bypass = false;
    loop.m_Filter.m_Resonance = static_cast<double>(static_cast<int>(Emphasis + 1.0));
    loop.m_EffectsOn = true;
    loop.m_Delay.m_DelayL = DelayTime;
    loop.m_Delay.m_DelayR = DelayTime;
    loop.m_Delay.m_Feedback = DelayFeedback;
    loop.m_Delay.m_Bypass = false;
    loop.m_Reverb.SetTime(ReverbTime);
    loop.m_Reverb.m_Bypass = false;
    loop.SetPan(Balance);
}

} // namespace FullyLoaded

#endif
