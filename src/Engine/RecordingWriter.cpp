#include "Engine/RecordingWriter.h"

#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <system_error>
#include <time.h>

RecordingWriter::RecordingWriter() : m_Open(false), m_BlockValues(0), m_Stop(false), m_Dropped(0)
{
    sem_init(&m_Wake, 0, 0);
}

RecordingWriter::~RecordingWriter()
{
    Close();
    sem_destroy(&m_Wake);
}

bool RecordingWriter::Open(const std::string &path, WavFile::Channels channels, int blockValues)
{
    if (m_Open) {
        std::cerr << "WavFile: File already open [" << path << "]" << std::endl;
        return false;
    }
    if (!m_File.Open(path, WavFile::WRITE, channels)) return false;
    const int frames = std::max(1, blockValues / (channels == WavFile::STEREO ? 2 : 1));
    const size_t wanted = static_cast<size_t>(
        std::max<int64_t>(2, int64_t{RingSeconds} * std::max(1, KorvelInfo::Samplerate) / frames));
    m_Free.reset(new SpscQueue<uint32_t>(wanted));
    m_Full.reset(new SpscQueue<uint32_t>(wanted));
    const size_t slots = m_Free->Capacity();
    // Each slot is a block's room, so the cycle only ever copies into it.
    m_Slots.reset(new Sample[slots]);
    for (size_t i = 0; i < slots; i++) {
        m_Slots[i].Allocate(blockValues);
        m_Free->TryPush(static_cast<uint32_t>(i));
    }
    m_BlockValues = blockValues;
    m_Path = path;
    m_Dropped = 0;
    m_Stop = false;
    try {
        m_Thread = std::thread(&RecordingWriter::Run, this);
    } catch (const std::system_error &error) {
        std::cerr << "Recording: no thread to write it (" << error.what() << ") [" << path << "]"
                  << std::endl;
        m_File.Close();
        return false;
    }
    m_Open = true;
    m_Taking.store(true, std::memory_order_release);
    return true;
}

int RecordingWriter::Close()
{
    if (!m_Open) return 0;
    m_Open = false;
    StopTaking();
    m_Stop.store(true, std::memory_order_release);
    sem_post(&m_Wake);
    m_Thread.join();
    const int64_t dropped = Dropped();
    if (dropped > 0)
        std::cerr << "Recording: " << dropped << " blocks were dropped, the disk did not keep up [" << m_Path
                  << "]" << std::endl;
    const int closed = m_File.Close();
    m_Slots.reset();
    m_Free.reset();
    m_Full.reset();
    return closed;
}

bool RecordingWriter::Push(const Sample &block)
{
    if (!Taking()) return false;
    if (TakeBlock(block)) return true;
    m_Dropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void RecordingWriter::PushWaiting(const Sample &block)
{
    while (Taking() && !TakeBlock(block))
        std::this_thread::yield();
}

bool RecordingWriter::TakeBlock(const Sample &block)
{
    uint32_t slot;
    if (!m_Free->TryPop(slot)) return false;
    const int values = std::min(block.GetLength(), m_BlockValues);
    std::memcpy(m_Slots[slot].GetBuffer(), block.GetBuffer(), values * sizeof(short));
    m_Full->TryPush(slot); // never full: it has a place for every slot
    return true;
}

void RecordingWriter::Run()
{
    while (true) {
        // Woken only by Close: the cycle makes no system call for it, and
        // a look every few blocks keeps the ring far from full.
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += LookMillis * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec++;
            until.tv_nsec -= 1000000000L;
        }
        while (sem_timedwait(&m_Wake, &until) != 0 && errno == EINTR) {
        }
        // The stop flag is read before the last look at the ring, so what
        // was pushed before Close is saved.
        const bool stop = m_Stop.load(std::memory_order_acquire);
        SaveQueued();
        if (stop) return;
    }
}

void RecordingWriter::SaveQueued()
{
    uint32_t slot;
    while (m_Full->TryPop(slot)) {
        // After a failed write WavFile says so once and takes no more: the
        // blocks are then only handed back.
        if (m_File.IsOpen()) m_File.Save(m_Slots[slot]);
        m_Free->TryPush(slot);
    }
}
