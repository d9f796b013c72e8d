#include "Engine/EngineThread.h"

#include "AudioDevices/BlockRunner.h"
#include "Engine/AudioThread.h"
#include "KorvelInfo.h"

#include <algorithm>
#include <chrono>

EngineThread::EngineThread(BlockRunner &runner) : m_Runner(runner), m_Stop(false)
{
}

EngineThread::~EngineThread()
{
    Stop();
}

void EngineThread::Start()
{
    if (m_Thread.joinable()) return;
    m_Stop.store(false);
    m_Thread = std::thread(&EngineThread::Run, this);
}

void EngineThread::Stop()
{
    if (!m_Thread.joinable()) return;
    m_Stop.store(true);
    m_Thread.join();
}

void EngineThread::Run()
{
    const auto blockTime = std::chrono::microseconds(static_cast<int64_t>(KorvelInfo::BufferSize) * 1000000 /
                                                     std::max(1, KorvelInfo::Samplerate));
    while (!m_Stop.load(std::memory_order_acquire)) {
        bool made;
        {
            AudioThread::Scope scope;
            made = m_Runner.RunBlock();
        }
        if (!made) std::this_thread::sleep_for(blockTime);
    }
}
