#ifndef REVERB_H
#define REVERB_H

#include "KorvelSound/Delay.h"

#include <vector>
#include <iosfwd>

// Five jittered delays in series; their echoes multiply into a dense tail.
class Reverb
{
public:
    Reverb();
    ~Reverb();
    Reverb(const Reverb &) = delete;
    Reverb &operator=(const Reverb &) = delete;

    void SetTime(float t);
    void SetFeedback(float f);
    void SetChannels(int n);
    void Process(Sample &data);
    void Prefetch() const;

    // One rand() draw: a value in [min, max) in steps of 1/10000 of the range.
    static float RandRange(float min, float max);

    float m_Time;     // 0 ... 0.25, fraction of MaxDelay; 0 silences the reverb
    float m_Feedback; // 0 ... 1
    float m_Random;   // 0 ... 0.01, jitter of each stage's time
    bool m_Bypass;
    std::vector<Delay *> m_Delays;
};

// Workspace record: time, feedback, random spread, bypass.
std::ostream &operator<<(std::ostream &out, const Reverb &reverb);

#endif
