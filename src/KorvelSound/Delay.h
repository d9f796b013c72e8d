#ifndef DELAY_H
#define DELAY_H

#include "KorvelSound/Sample.h"

#include <cstdint>
#include <iosfwd>

// Samples in every delay line: the built-in sample rate, copied before the
// resource file is read, so a line is one second at 44100 Hz.
extern const int MaxDelay;

// Feedback comb filter with a left and a right line, serving mono blocks (a
// loop) and interleaved stereo blocks (the master output) alike.
class Delay
{
public:
    Delay();
    ~Delay();
    Delay(const Delay &) = delete;
    Delay &operator=(const Delay &) = delete;

    // Processes the first m_Channels x BufferSize values of data in place.
    void Process(Sample &data);
    // Passes data through several delays in series, exactly as each one's
    // Process in turn would (a reverb's stages).
    static void ProcessSeries(Delay *const *stages, int count, Sample &data);
    // Asks the processor to fetch the line contents the next block will
    // meet, so that other work can overlap the wait for memory.
    void Prefetch() const;

    Sample m_LeftLine;
    Sample m_RightLine;
    int64_t m_LeftPos;
    int64_t m_RightPos;
    float m_DelayL;   // 0 ... 1, fraction of MaxDelay
    float m_DelayR;   // 0 ... 1, fraction of MaxDelay
    float m_Feedback; // 0 ... 1
    int m_Channels;   // 1 mono, 2 interleaved stereo
    bool m_Bypass;

private:
    int64_t LineLength(float time) const;
    bool LinesHold(int64_t lengthL, int64_t lengthR) const;
    // The value-by-value walk, for lines a time above 1 would run off.
    void ProcessEachValue(Sample &data, int64_t lengthL, int64_t lengthR);
};

// Workspace record: time, feedback, bypass. Writing makes the right time equal
// to the left one, which is the only one stored.
std::ostream &operator<<(std::ostream &out, Delay &delay);

#endif
