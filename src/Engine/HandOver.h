#ifndef HAND_OVER_H
#define HAND_OVER_H

#include <atomic>

// Something the audio thread works on every block (a loop, or the whole
// engine) that the GUI thread sometimes needs to itself, for a change too
// big for a command (an edit of the sound, a new set of loops). The audio
// thread never waits for it: while the GUI holds it, the audio thread leaves
// it alone for that block. The GUI waits only for the block that is using
// it right now to finish with it.
class HandOver
{
public:
    // Audio thread: true when it may work on it now; then Leave after.
    bool Enter()
    {
        m_Busy.store(true, std::memory_order_seq_cst);
        if (m_Wanted.load(std::memory_order_seq_cst)) {
            m_Busy.store(false, std::memory_order_release);
            return false;
        }
        return true;
    }
    void Leave() { m_Busy.store(false, std::memory_order_release); }

    // GUI thread: from Take until Give, the audio thread keeps off. Takes
    // nest, so a change made of smaller changes holds it throughout.
    void Take();
    void Give();
    bool Held() const { return m_Depth > 0; }
    // How often the GUI has taken it: unchanged, so is what the GUI last
    // saw of it (read by the audio thread after Enter).
    unsigned Holds() const { return m_Holds.load(std::memory_order_relaxed); }

private:
    // Each side announces itself before it looks at the other (both in one
    // total order), so they can never both go ahead.
    std::atomic<bool> m_Wanted{false};
    std::atomic<bool> m_Busy{false};
    std::atomic<unsigned> m_Holds{0};
    int m_Depth = 0; // the GUI's own count
};

// Holds a HandOver for a scope on the GUI thread.
class HandOverHold
{
public:
    explicit HandOverHold(HandOver &handOver) : m_HandOver(handOver) { m_HandOver.Take(); }
    ~HandOverHold() { m_HandOver.Give(); }
    HandOverHold(const HandOverHold &) = delete;
    HandOverHold &operator=(const HandOverHold &) = delete;

private:
    HandOver &m_HandOver;
};

#endif
