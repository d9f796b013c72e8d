#ifndef ENGINE_THREAD_H
#define ENGINE_THREAD_H

#include <atomic>
#include <thread>

class BlockRunner;

// The program's own audio thread for a device that is written to (OSS, or
// none): it makes one block after another, the device's blocking write
// pacing it. A block the GUI held back costs a block's time of sleep, so
// the thread never spins.
class EngineThread
{
public:
    explicit EngineThread(BlockRunner &runner);
    ~EngineThread();
    EngineThread(const EngineThread &) = delete;
    EngineThread &operator=(const EngineThread &) = delete;

    void Start();
    // Returns once no block is being made.
    void Stop();
    bool Running() const { return m_Thread.joinable(); }

private:
    void Run();

    BlockRunner &m_Runner;
    std::atomic<bool> m_Stop;
    std::thread m_Thread;
};

#endif
