#ifndef TRANSPORT_POSITION_H
#define TRANSPORT_POSITION_H

#include <cstdint>

// Where a sound server's transport stood at the start of a period, as its
// timebase master tells it: plain values, so the sync code needs no server's
// headers.
struct TransportPosition
{
    bool m_Rolling = false;
    // Bar, beat and tempo given (there is a timebase master).
    bool m_HasBar = false;
    double m_Bpm = 0;
    int m_BeatsPerBar = 4;
    int m_Bar = 1;  // from 1
    int m_Beat = 1; // from 1
    double m_Tick = 0;
    double m_TicksPerBeat = 1920;
    // The engine frame of that moment.
    int64_t m_Frame = 0;
};

#endif
