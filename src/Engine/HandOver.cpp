#include "Engine/HandOver.h"

#include <thread>

void HandOver::Take()
{
    if (m_Depth++ > 0) return;
    m_Holds.fetch_add(1, std::memory_order_relaxed);
    m_Wanted.store(true, std::memory_order_seq_cst);
    // A block's work on one thing takes microseconds: no sleep, only yield.
    while (m_Busy.load(std::memory_order_seq_cst))
        std::this_thread::yield();
}

void HandOver::Give()
{
    if (m_Depth == 0 || --m_Depth > 0) return;
    m_Wanted.store(false, std::memory_order_release);
}
