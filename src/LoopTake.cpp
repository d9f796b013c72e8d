#include "Loop.h"

#include "Engine/AudioEngine.h"
#include "KorvelInfo.h"
#include "KorvelSound/Fade.h"
#include "KorvelSound/SampleClamp.h"
#include "LoopHost.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <thread>

// A loop's takes: fresh ones and overdubs, on the engine's side (the record
// step of each block) and the window's (the take's room, its end, the state
// kept ready for a pedal).

void Loop::Record(double pos)
{
    if (!m_Input) return;
    if (m_StartRecord) {
        if (m_StoreBuffer.GetLength() != 0) {
            m_Overdub = true;
        } else {
            m_Overdub = false;
            // A prepared room was made by the GUI; without one (no audio
            // thread) the take makes its own.
            if (!m_TakeRoom) {
                m_RecordBuffer.Allocate(RecordBlockSize);
                m_StoreBuffer.Clear();
            }
            m_RecordPos = 0;
        }
        m_StartRecord = false;
        m_TakeShift = std::max(0, m_TakeLatency);
        // A click is taken to be heard at the block it lands in, its input
        // a round trip later; a pedal's event came in with that input.
        m_TakeSkip = m_TakeStart >= 0 ? static_cast<int>(std::max<int64_t>(
                                            0, std::min<int64_t>(m_TakeStart - m_BlockFrame, 1 << 30)))
                                      : m_TakeShift;
        m_TakeTail = -1;
        // A take of so many bars knows its end from the start.
        if (m_TakeEndAt >= 0) {
            const int64_t tail =
                std::max<int64_t>(0, m_TakeEndAt - m_BlockFrame) + (m_Overdub ? FadeFrames() : 0);
            m_TakeTail = static_cast<int>(std::min<int64_t>(tail, 1 << 30));
            m_TakeEndAt = -1;
        }
        m_TakeFrames = 0;
        m_AfterTake = 0;
        m_TakeEnded.store(false, std::memory_order_relaxed);
    }
    int from = 0, to = 0;
    TakeSpan(from, to);
    if (m_Overdub)
        Overdub(pos, m_Input, from, to);
    else if (m_TakeRoom)
        RecordFreshInto(*m_TakeRoom, from, to);
    else
        RecordFresh(from, to);
    if (m_TakeTail == 0) {
        EndTake();
        m_AfterTake = KorvelInfo::BufferSize - to;
    }
}

void Loop::TakeSpan(int &from, int &to)
{
    const int B = KorvelInfo::BufferSize;
    from = std::min(m_TakeSkip, B);
    m_TakeSkip -= from;
    to = B;
    m_SpanTail = m_TakeTail;
    if (m_TakeTail >= 0) {
        to = std::min(m_TakeTail, B);
        m_TakeTail -= to;
    }
}

void Loop::StartTake(int64_t frame, bool byPedal)
{
    m_Recording = true;
    m_TakeStart = frame;
    m_TakeEnded.store(false, std::memory_order_relaxed);
    if (!byPedal) return;
    m_ReadyOk.store(false, std::memory_order_relaxed);
    m_PedalTake.store(true, std::memory_order_release);
}

void Loop::RequestStop(int64_t frame)
{
    int64_t tail = frame >= 0 ? std::max<int64_t>(0, frame - m_BlockFrame) : m_TakeShift;
    // An overdub's layer fades out after where it was asked to end. (A
    // fresh take ends at the seam, which playback fades.)
    if (m_Overdub && !m_StartRecord) tail += FadeFrames();
    if (m_Recording && !m_StartRecord && tail > 0 && m_Input) {
        if (m_TakeTail < 0) m_TakeTail = static_cast<int>(std::min<int64_t>(tail, 1 << 30));
        return;
    }
    EndTake();
}

void Loop::PrepareForPedal()
{
    if (m_ReadyOk.load() && m_ReadyHolds.load() == m_HandOver.Holds()) return;
    m_ReadyOk.store(false);
    {
        HandOverHold held(m_HandOver);
        // A take already under way, or ended and not yet followed, is left alone.
        if (!m_StartRecord || m_Recording || m_PedalTake.load()) return;
        if (m_StoreBuffer.GetLength() == 0) PrepareTake();
        std::unique_ptr<Sample> copy(new (std::nothrow) Sample);
        const int length = m_StoreBuffer.GetLength();
        if (!copy || (length > 0 && !copy->Allocate(length))) return;
        if (length > 0) std::memcpy(copy->GetBuffer(), m_StoreBuffer.GetBuffer(), length * sizeof(short));
        m_Ready = std::move(copy);
        m_ReadyLength = m_LoopLength;
    }
    m_ReadyHolds.store(m_HandOver.Holds());
    m_ReadyOk.store(true, std::memory_order_release);
}

bool Loop::EngineMayStartTake() const
{
    return m_ReadyOk.load(std::memory_order_acquire) && m_ReadyHolds.load() == m_HandOver.Holds() &&
           m_StartRecord && !m_Recording && m_Input && (m_StoreBuffer.GetLength() != 0 || m_TakeRoom);
}

void Loop::BeginPedalTake()
{
    if (!m_PedalTake.exchange(false, std::memory_order_acquire)) return;
    if (m_History.Changing()) m_History.End(m_StoreBuffer, m_LoopLength);
    m_History.BeginWith(std::move(m_Ready), m_ReadyLength);
}

void Loop::EndTake()
{
    m_Recording = false;
    m_TakeTail = -1;
    m_TakeSkip = 0;
    m_TakeEnded.store(true, std::memory_order_release);
}

void Loop::RecordFreshInto(TakeRoom &room, int from, int to)
{
    for (int i = from; i < to; i++) {
        if (m_RecordPos >= RecordBlockSize || !m_TakeBlock) {
            short *next = room.NextEmpty();
            if (!next) {
                room.CountLost(to - i);
                return;
            }
            if (m_TakeBlock) room.HandFull(m_TakeBlock);
            m_TakeBlock = next;
            m_RecordPos = 0;
        }
        m_TakeBlock[m_RecordPos] = ClampSample(static_cast<int64_t>(m_Input[i]));
        m_RecordPos += 1;
    }
}

void Loop::PrepareTake()
{
    // Only a take into an empty loop grows the sound; an overdub writes into it.
    if (m_StoreBuffer.GetLength() != 0 || m_TakeRoom) return;
    // Half a minute ahead at 44.1 kHz: the GUI may be held up for that long.
    const int blocks = std::max(8, 30 * KorvelInfo::Samplerate / RecordBlockSize + 1);
    m_TakeRoom.reset(new TakeRoom(blocks, RecordBlockSize));
    m_TakeBlock = nullptr;
}

void Loop::BeginTake(bool quantized, int bars)
{
    // The window follows the engine's word on the take from now on.
    m_TakeEnded.store(false);
    AudioEngine *engine = m_App ? m_App->Engine() : nullptr;
    if (quantized && engine) {
        m_TakeAt.store(-1);
        engine->QueueTakeStart(this, bars);
        return;
    }
    AudioEngine::Post(engine, [this] { StartTake(); });
}

void Loop::CollectTake()
{
    // No hold: while a take fills its room the engine leaves the sound alone.
    if (m_TakeRoom) AppendFullBlocks();
}

void Loop::StopTake()
{
    AudioEngine *engine = m_App ? m_App->Engine() : nullptr;
    // A pedal's take the window has not followed yet ends as a step too.
    BeginPedalTake();
    m_TakeEnded.store(false);
    AudioEngine::Post(engine, [this] { RequestStop(); });
    if (engine && engine->Live()) {
        engine->WaitForCommands();
        // The input still due comes within the round trip and a period or two.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200) +
                              std::chrono::microseconds(3000000LL * engine->TakeLatency() /
                                                        std::max(1, KorvelInfo::Samplerate));
        while (!TakeEnded() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (TakeEnded()) return;
    // An engine that makes no blocks: what was still due is not waited for.
    HandOverHold held(m_HandOver);
    EndTake();
}

void Loop::AppendFullBlocks()
{
    while (short *block = m_TakeRoom->TakeFull()) {
        Sample full(block, RecordBlockSize);
        if (!m_StoreBuffer.Add(full)) m_TakeRoom->CountLost(RecordBlockSize);
        m_TakeRoom->GiveEmpty(block);
    }
}

void Loop::Overdub(double pos, const short *input, int from, int to)
{
    // Only what is heard is overdubbed: the take goes round with playback at
    // the play length, never into a tail beyond it. With nothing heard (no
    // play length, or everything cut away) there is nothing to add to.
    const int n = static_cast<int>(std::min<int64_t>(m_LoopLength, m_StoreBuffer.GetLength()));
    if (n <= 0) return;
    double position = pos < static_cast<double>(n) ? pos : 0.0;
    // What comes in now was played along with the sound heard m_TakeShift
    // frames ago.
    if (m_TakeShift > 0) {
        position = std::fmod(position - m_TakeShift * static_cast<double>(m_Speed), static_cast<double>(n));
        if (position < 0.0) position += n;
        if (position >= n) position = 0.0;
    }
    // Each index gets exactly one input value: the one that arrived when the
    // position reached it. Gaps left at speeds above 1 take the same value.
    int lastWritten = -1;
    // The layer fades in over its first samples and out over its last, once
    // its end is known; what was under it stays.
    const int fade = FadeFrames();
    for (int i = 0; i < to; i++) {
        const int index = static_cast<int>(position);
        (void)m_StoreBuffer[index];
        const int first = lastWritten < 0 ? index : lastWritten + 1;
        short value = input[i];
        if (fade > 0 && i >= from) {
            const int left = m_SpanTail >= 0 ? m_SpanTail - i - 1 : fade;
            value = static_cast<short>(value * Fade::Rise(m_TakeFrames++, fade) * Fade::Rise(left, fade));
        }
        // Adding silence changes nothing, not even a -32768 from a loaded file.
        if (value != 0 && i >= from) {
            for (int j = first; j <= index; j++)
                m_StoreBuffer.Set(j, ClampSample(static_cast<int64_t>(m_StoreBuffer[j]) + value));
        }
        if (first <= index) lastWritten = index;
        const double next = m_Speed + position;
        if (next >= static_cast<double>(n)) {
            position = 0.0;
            lastWritten = -1;
        } else {
            position = next;
        }
    }
}

void Loop::RecordFresh(int from, int to)
{
    for (int i = from; i < to; i++) {
        if (m_RecordPos >= RecordBlockSize) {
            m_StoreBuffer.Add(m_RecordBuffer);
            m_RecordPos = 0;
        }
        m_RecordBuffer.Set(m_RecordPos, ClampSample(static_cast<int64_t>(m_Input[i])));
        m_RecordPos += 1;
    }
}

void Loop::EndRecord()
{
    // Every change of the sound below holds the loop: the engine keeps off
    // it meanwhile (and catches its position up after).
    HandOverHold held(m_HandOver);
    const bool takeRan = !m_StartRecord;
    m_StartRecord = true;
    if (m_TakeRoom) {
        if (takeRan && !m_Overdub) {
            AppendFullBlocks();
            if (m_TakeBlock && m_RecordPos > 0) {
                Sample rest(m_TakeBlock, m_RecordPos);
                m_StoreBuffer.Add(rest);
            }
            if (m_TakeRoom->Lost() > 0)
                std::cerr << "The take lost " << m_TakeRoom->Lost() << " samples: the program was held up"
                          << std::endl;
        }
        m_TakeRoom.reset();
        m_TakeBlock = nullptr;
        m_RecordPos = 0;
    } else if (takeRan && !m_Overdub && m_RecordPos > 0) {
        // The last, partly filled block of a fresh take is part of the take too.
        Sample rest(m_RecordBuffer.GetBuffer(), m_RecordPos);
        m_StoreBuffer.Add(rest);
        m_RecordPos = 0;
    }
    if (m_OverdubLost > 0)
        std::cerr << "The overdub lost " << m_OverdubLost << " samples: the program was held up" << std::endl;
    m_OverdubLost = 0;
    // An overdub keeps the play length; only a fresh take sets it.
    if (!m_Overdub) {
        m_LoopLength = m_StoreBuffer.GetLength();
        if (!m_HoldBuffer.Allocate(m_StoreBuffer.GetLength())) {
            // Without its hold buffer the take could not be played or edited.
            std::cerr << "Not enough memory to keep the take: the loop is empty" << std::endl;
            m_StoreBuffer.Clear();
            m_HoldBuffer.Clear();
            m_LoopLength = 0;
            m_Pos = 0.0;
        }
        m_HoldBuffer.Zero();
        // Placed back, the take's first sample was heard when Record went
        // down: the sound goes on from where that moment has got to.
        // The same for a take the engine ended blocks before this: those
        // blocks count.
        if (takeRan && (m_TakeShift > 0 || m_AfterTake > 0) && m_LoopLength > 0)
            m_Pos = std::fmod((m_TakeShift + m_AfterTake) * static_cast<double>(m_Speed),
                              static_cast<double>(m_LoopLength));
    }
    EndChange();
}
