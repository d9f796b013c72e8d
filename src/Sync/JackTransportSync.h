#ifndef JACK_TRANSPORT_SYNC_H
#define JACK_TRANSPORT_SYNC_H

#include "Sync/SyncSource.h"
#include "Sync/TransportPosition.h"

// The grid from the JACK transport, as a follower: tempo, meter and the bar
// line from the timebase master's bar and beat, running while the transport
// rolls; a locate moves the grid. It never takes the timebase. Told and
// asked on the audio thread only (JACK's process callback).
class JackTransportSync : public SyncSource
{
public:
    // Each period's position.
    void Note(const TransportPosition &position)
    {
        m_Position = position;
        m_Known = true;
    }
    bool Follow(int64_t frame, int frames, TempoMap &map, bool &running) override;

private:
    TransportPosition m_Position;
    bool m_Known = false;
};

#endif
