#include "LoopHost.h"

#include "KorvelInfo.h"

LoopHost::LoopHost()
    : m_MasterLength(0.0f), m_MasterSpeed(1.0f), m_MasterPeriod(0.0f), m_MasterID(-1),
      m_HistoryBudget(static_cast<int64_t>(KorvelInfo::UndoMemoryMB) * 1024 * 1024)
{
}

LoopHost::~LoopHost() = default;

// A region too big to copy leaves both the sound and the clipboard as they were.
void LoopHost::Cut(Sample &sample, int start, int end)
{
    if (sample.GetRegion(m_Clipboard, start, end)) sample.Remove(start, end);
}

void LoopHost::Copy(Sample &sample, int start, int end)
{
    sample.GetRegion(m_Clipboard, start, end);
}

bool LoopHost::Paste(Sample &sample, int position)
{
    return sample.Insert(m_Clipboard, position);
}

void LoopHost::PasteMix(Sample &sample, int position)
{
    sample.Mix(m_Clipboard, position);
}

void LoopHost::SetMaster(int id, float length, float speed)
{
    m_MasterID = id;
    m_MasterLength = length;
    m_MasterSpeed = speed;
    m_MasterPeriod = length / speed;
}
