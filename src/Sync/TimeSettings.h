#ifndef TIME_SETTINGS_H
#define TIME_SETTINGS_H

#include <iosfwd>

// What a performer sets of the musical time, as a workspace keeps it: a
// tempo of 0 is no grid, the program's timing as it was without one.
struct TimeSettings
{
    double m_Bpm = 0;
    int m_BeatsPerBar = 4;
    // The first take is that many bars long and makes the tempo (0: it does not).
    int m_FirstBars = 0;
    bool m_Click = false;
    float m_ClickLevel = 0.5f;
    bool m_ClickInMix = false;
    bool m_ClockOut = false;
    // A quantized take ends by itself after so many bars (0: when asked).
    int m_TakeBars = 0;
    // Match makes whole bars of the grid rather than the master's length.
    bool m_MatchBars = false;
    // What the grid follows (SyncSource::Choice).
    int m_Sync = 0;

    // Nothing set: a workspace then needs no record of it, and stays as
    // older versions wrote it.
    bool IsDefault() const;

    // Its workspace record: "Time" and the values; reading sets the stream's
    // failbit on a record that is not whole or holds a value out of range.
    friend std::ostream &operator<<(std::ostream &out, const TimeSettings &time);
    friend std::istream &operator>>(std::istream &in, TimeSettings &time);
};

#endif
