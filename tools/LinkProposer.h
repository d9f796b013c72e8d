#ifndef LINK_PROPOSER_H
#define LINK_PROPOSER_H

#include <ableton/Link.hpp>

// The test peers' way into a session: the tempo is proposed, and the
// session's transport started at beat 0, once another peer is there, so
// they are the session's and not only this peer's before joining.
class LinkProposer
{
public:
    LinkProposer(double bpm, double quantum) : m_Bpm(bpm), m_Quantum(quantum), m_Done(bpm <= 0) {}

    // Called now and then; does its work once.
    void Poll(ableton::Link &link)
    {
        if (m_Done || link.numPeers() == 0) return;
        auto state = link.captureAppSessionState();
        const auto now = link.clock().micros();
        state.setTempo(m_Bpm, now);
        state.setIsPlayingAndRequestBeatAtTime(true, now, 0, m_Quantum);
        link.commitAppSessionState(state);
        m_Done = true;
    }

private:
    double m_Bpm, m_Quantum;
    bool m_Done;
};

#endif
