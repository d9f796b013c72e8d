#include "Engine/TakeRoom.h"

TakeRoom::TakeRoom(int blocks, int blockSize)
    : m_BlockSize(blockSize), m_Empty(static_cast<size_t>(blocks)), m_Full(static_cast<size_t>(blocks))
{
    for (int i = 0; i < blocks; i++) {
        m_Blocks.emplace_back(new short[static_cast<size_t>(blockSize)]);
        m_Empty.TryPush(m_Blocks.back().get());
    }
}

short *TakeRoom::NextEmpty()
{
    short *block = nullptr;
    return m_Empty.TryPop(block) ? block : nullptr;
}

void TakeRoom::HandFull(short *block)
{
    // There are never more full blocks than blocks.
    m_Full.TryPush(block);
}

short *TakeRoom::TakeFull()
{
    short *block = nullptr;
    return m_Full.TryPop(block) ? block : nullptr;
}

void TakeRoom::GiveEmpty(short *block)
{
    m_Empty.TryPush(block);
}
