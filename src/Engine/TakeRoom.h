#ifndef TAKE_ROOM_H
#define TAKE_ROOM_H

#include "Engine/SpscQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// The memory a fresh take records into while the audio thread runs it, made
// by the GUI before the take starts: blocks that the audio thread fills one
// after another and hands over full, in order, for the GUI to add to the
// loop's sound and hand back empty. The audio thread neither allocates nor
// frees; a GUI that falls behind by every block makes the take lose input,
// counted, never the program.
class TakeRoom
{
public:
    // All blocks are made here, on the GUI thread; the room owns them.
    TakeRoom(int blocks, int blockSize);
    TakeRoom(const TakeRoom &) = delete;
    TakeRoom &operator=(const TakeRoom &) = delete;

    int BlockSize() const { return m_BlockSize; }

    // Audio thread.
    short *NextEmpty();
    void HandFull(short *block);
    void CountLost(int64_t samples) { m_Lost.fetch_add(samples, std::memory_order_relaxed); }

    // GUI thread: full blocks in the order they were filled, null when none.
    short *TakeFull();
    void GiveEmpty(short *block);
    int64_t Lost() const { return m_Lost.load(std::memory_order_relaxed); }

private:
    int m_BlockSize;
    std::vector<std::unique_ptr<short[]>> m_Blocks;
    SpscQueue<short *> m_Empty; // GUI to audio
    SpscQueue<short *> m_Full;  // audio to GUI
    std::atomic<int64_t> m_Lost{0};
};

#endif
