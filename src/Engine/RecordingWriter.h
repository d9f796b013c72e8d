#ifndef RECORDING_WRITER_H
#define RECORDING_WRITER_H

#include "Engine/SpscQueue.h"
#include "KorvelSound/WavFile.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore.h>
#include <string>
#include <thread>

class Sample;

// Records the output to a WAV file without the cycle ever waiting for the
// disk: the cycle copies each block into a slot of a ring made at Open, and a
// thread of the writer's own saves them. A disk that falls behind by more
// than the ring holds loses blocks (counted, said once at Close), never time.
// Open and Close run on the thread that owns the output, never while a Push
// is under way.
class RecordingWriter
{
public:
    // The ring holds this long a stretch of sound: a disk that stalls for
    // less loses nothing.
    static const int RingSeconds = 10;

    RecordingWriter();
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter &) = delete;
    RecordingWriter &operator=(const RecordingWriter &) = delete;

    // Blocks of blockValues values (frames times channels). Says why and
    // returns false when the file cannot be opened.
    bool Open(const std::string &path, WavFile::Channels channels, int blockValues);
    // Saves what was queued, stops the thread and puts the file in place:
    // 1 when every byte got to the disk, as WavFile::Close.
    int Close();
    bool IsOpen() const { return m_Open; }
    // Whether the cycle hands it blocks: from the end of Open until
    // StopTaking. Once a cycle that may have been pushing has ended after
    // StopTaking, Close may run while the cycle plays on.
    bool Taking() const { return m_Taking.load(std::memory_order_acquire); }
    void StopTaking() { m_Taking.store(false, std::memory_order_release); }

    // On the cycle: never waits, never allocates. False when the block was
    // dropped because the ring was full.
    bool Push(const Sample &block);
    // For runs faster than real time (tests, benchmarks), which would outrun
    // any disk: waits for room rather than dropping.
    void PushWaiting(const Sample &block);
    int64_t Dropped() const { return m_Dropped.load(std::memory_order_relaxed); }

private:
    bool TakeBlock(const Sample &block);
    void Run();
    void SaveQueued();

    WavFile m_File;
    std::string m_Path;
    bool m_Open;
    int m_BlockValues;
    // Blocks go round from free to full (cycle to writer) and back.
    std::unique_ptr<Sample[]> m_Slots;
    std::unique_ptr<SpscQueue<uint32_t>> m_Free;
    std::unique_ptr<SpscQueue<uint32_t>> m_Full;
    std::thread m_Thread;
    // How often the thread saves what the ring holds.
    static const int LookMillis = 20;
    // Posted by Close, to stop the thread without waiting for its next look.
    sem_t m_Wake;
    std::atomic<bool> m_Stop;
    std::atomic<bool> m_Taking{false};
    std::atomic<int64_t> m_Dropped;
};

#endif
