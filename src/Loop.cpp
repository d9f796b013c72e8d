#include "Loop.h"

#include "Engine/AudioEngine.h"
#include "KorvelInfo.h"
#include "KorvelSound/SampleClamp.h"
#include "KorvelSound/WavFile.h"
#include "LoopHost.h"
#include "LoopPanel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <thread>
#include <utility>

Loop::Loop(LoopHost *app)
    : m_ID(0), m_Pos(0.0), m_DisplayPos(0), m_HoldPos(0), m_Playing(true), m_Recording(false),
      m_Master(false), m_Delete(false), m_LoopLength(0), m_Speed(1.0f), m_Volume(1.0f), m_Input(nullptr),
      m_TakeLatency(0), m_BlockFrame(0), m_RecordPos(0), m_Pan(1.0f), m_LeftVol(1.0f), m_RightVol(1.0f),
      m_StartRecord(true), m_Overdub(false), m_EffectsOn(false), m_StepFrom(0.0), m_StepTo(0.0),
      m_Wrapped(false), m_Sounded(false), m_App(app), m_GUI(nullptr),
      m_History(app ? &app->m_HistoryBudget : nullptr), m_TakeBlock(nullptr), m_MissedFrames(0),
      m_TakeShift(0), m_TakeStart(-1), m_TakeSkip(0), m_TakeTail(-1), m_AfterTake(0), m_TakeEnded(false),
      m_ReadyLength(0), m_ReadyHolds(0), m_ReadyOk(false), m_ShownSound(nullptr)
{
    // A third of a second at 44.1 kHz, and never less than a few blocks.
    m_Backlog.assign(std::max(16384, 4 * std::max(1, KorvelInfo::BufferSize)), 0);
    m_Delay.m_Channels = 1;
    m_Reverb.SetChannels(1);
}

Loop::~Loop() = default;

bool Loop::GetOutput(Sample &out)
{
    // A block that plays nothing passes no marker.
    m_StepFrom = m_StepTo = m_Pos;
    m_Wrapped = false;
    m_Sounded = false;
    // The take's last input came while the GUI held the loop.
    if (m_Recording && m_TakeTail == 0) EndTake();
    // A fresh take the engine stopped and the GUI has yet to end is silent:
    // what it holds is not yet a sound (never seen without an audio thread).
    if (!m_Recording && FreshTakeRunning()) {
        m_AfterTake += KorvelInfo::BufferSize;
        return false;
    }
    if (m_MissedFrames > 0) CatchUp();
    if (m_Recording) {
        Record(m_Pos);
        // A take into its prepared room is silent and leaves the sound,
        // which the GUI is adding to, alone.
        if (m_TakeRoom && FreshTakeRunning()) return false;
        if (m_StoreBuffer.GetLength() == 0) return false;
    } else if (!m_Playing || m_StoreBuffer.GetLength() == 0) {
        return false;
    }

    // The effect lines were last touched a whole cycle ago; fetch them while
    // playback and the filter run.
    if (m_EffectsOn) {
        m_Delay.Prefetch();
        m_Reverb.Prefetch();
    }
    m_Wrapped = Play(out);
    m_StepTo = m_Pos;
    m_Filter.Process(0, out);
    // What is heard, speed, volume and filter included, so KeepHold can keep it.
    if (!m_Recording) HoldCopy(out);
    if (m_EffectsOn) {
        m_Delay.Process(out);
        m_Reverb.Process(out);
    }

    m_DisplayPos = static_cast<int>(m_Pos);
    m_ShownPos.store(m_Pos, std::memory_order_relaxed);
    m_Sounded = true;
    return true;
}

void Loop::ShowOnPanel()
{
    if (!m_GUI) return;
    // A take replaced or grew the sound: the display must stop reading the old one.
    if (m_StoreBuffer.GetBuffer() != m_ShownSound) {
        m_ShownSound = m_StoreBuffer.GetBuffer();
        m_GUI->SoundMoved();
    }
    if (m_Sounded) m_GUI->DrawPosMarker();
}

bool Loop::Play(Sample &out)
{
    const int B = KorvelInfo::BufferSize;
    if (B < 1) return false;
    const int64_t length = m_LoopLength;
    const float speed = m_Speed;
    const float volume = m_Volume;
    double pos = m_Pos;
    bool wrapped = false;

    if (length > m_StoreBuffer.m_Length) {
        // Only a play length beyond the sound can get here: stop at the first
        // position that is past the end, as element access does.
        for (int i = 0; i < B; i++) {
            int p = static_cast<int>(pos);
            short value = 0;
            if (p >= 0 && p < length) value = static_cast<short>(static_cast<int>(m_StoreBuffer[p] * volume));
            out[i] = value;
            const double next = speed + pos;
            if (static_cast<int64_t>(next) >= length) {
                pos = 0.0;
                wrapped = true;
            } else {
                pos = next;
            }
        }
        m_Pos = pos;
        return wrapped;
    }

    // A short block ends the program with the message element access gives.
    (void)out[B - 1];
    const short *sound = m_StoreBuffer.GetBuffer();
    short *values = out.GetBuffer();
    for (int i = 0; i < B; i++) {
        int p = static_cast<int>(pos);
        short value = 0;
        if (p >= 0 && p < length)
            value = static_cast<short>(static_cast<int>(static_cast<float>(sound[p]) * volume));
        values[i] = value;
        const double next = speed + pos;
        // The overshoot past the end is dropped: every lap starts at 0.
        if (static_cast<int64_t>(next) >= length) {
            pos = 0.0;
            wrapped = true;
        } else {
            pos = next;
        }
    }
    m_Pos = pos;
    // With no play length the position rests at 0: no lap goes round.
    return wrapped && length > 0;
}

void Loop::HoldCopy(const Sample &out)
{
    const int B = KorvelInfo::BufferSize;
    if (B < 1) return;
    const int64_t length = m_LoopLength;
    if (length < 1 || length > m_HoldBuffer.m_Length || m_HoldPos < 0) {
        for (int i = 0; i < B; i++) {
            if (m_HoldPos >= length) m_HoldPos = 0;
            m_HoldBuffer[m_HoldPos] = out[i];
            m_HoldPos += 1;
        }
        return;
    }

    (void)out[B - 1];
    const short *values = out.GetBuffer();
    short *hold = m_HoldBuffer.GetBuffer();
    int done = 0;
    while (done < B) {
        if (m_HoldPos >= length) m_HoldPos = 0;
        int count = static_cast<int>(std::min<int64_t>(length - m_HoldPos, B - done));
        std::memcpy(hold + m_HoldPos, values + done, count * sizeof(short));
        m_HoldPos += count;
        done += count;
    }
}

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
    const int64_t tail = frame >= 0 ? std::max<int64_t>(0, frame - m_BlockFrame) : m_TakeShift;
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

void Loop::BeginTake()
{
    // The window follows the engine's word on the take from now on.
    m_TakeEnded.store(false);
    AudioEngine::Post(m_App ? m_App->Engine() : nullptr, [this] { StartTake(); });
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

void Loop::MissedBlock()
{
    // The GUI leaves a running fresh take's room and input alone: it records
    // on (its end is left to the next block, the GUI may be reading it).
    if (m_Recording && m_TakeRoom && !m_StartRecord && !m_Overdub && m_Input && m_TakeTail != 0) {
        int from = 0, to = 0;
        TakeSpan(from, to);
        RecordFreshInto(*m_TakeRoom, from, to);
        if (m_TakeTail == 0) m_AfterTake = KorvelInfo::BufferSize - to;
        return;
    }
    // An overdub's input is kept for the block that follows the hold.
    const int B = KorvelInfo::BufferSize;
    if (m_Recording && m_Overdub && !m_StartRecord && m_Input && m_TakeTail != 0) {
        if (m_BacklogFrames + B <= static_cast<int>(m_Backlog.size())) {
            std::copy(m_Input, m_Input + B, m_Backlog.begin() + m_BacklogFrames);
            m_BacklogFrames += B;
        } else {
            m_OverdubLost += B;
        }
    }
    m_MissedFrames += B;
}

void Loop::CatchUp()
{
    // An overdub goes on over the blocks the GUI held the loop through, from
    // the input kept of them, each where its block would have written it.
    const int B = KorvelInfo::BufferSize;
    for (int done = 0; done + B <= m_BacklogFrames && m_MissedFrames >= B; done += B) {
        if (m_Recording && m_Overdub && !m_StartRecord && m_TakeTail != 0) {
            int from = 0, to = 0;
            TakeSpan(from, to);
            Overdub(m_Pos, m_Backlog.data() + done, from, to);
            if (m_TakeTail == 0) EndTake();
        }
        StepOver(B);
        m_MissedFrames -= B;
    }
    m_BacklogFrames = 0;
    StepOver(m_MissedFrames);
    m_MissedFrames = 0;
}

void Loop::StepOver(int64_t frames)
{
    const int64_t length = m_LoopLength;
    if ((!m_Playing && !m_Recording) || (m_TakeRoom && FreshTakeRunning()) ||
        m_StoreBuffer.GetLength() == 0 || length <= 0)
        return;
    double pos = m_Pos;
    for (int64_t i = 0; i < frames; i++) {
        const double next = m_Speed + pos;
        pos = static_cast<int64_t>(next) >= length ? 0.0 : next;
    }
    m_Pos = pos;
    if (m_HoldPos >= 0 && length > 0) m_HoldPos = static_cast<int>((m_HoldPos + frames) % length);
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
    for (int i = 0; i < to; i++) {
        const int index = static_cast<int>(position);
        (void)m_StoreBuffer[index];
        const int first = lastWritten < 0 ? index : lastWritten + 1;
        const short value = input[i];
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

bool Loop::AllocateMem(int Length)
{
    HandOverHold held(m_HandOver);
    // Both buffers first: a sound too big for memory leaves the loop playing
    // exactly as it was.
    Sample store, hold;
    if (!store.Allocate(Length) || !hold.Allocate(Length)) {
        std::cerr << "AllocateMem can't allocate any more memory!" << std::endl;
        return false;
    }
    if (m_LoopLength > Length) m_LoopLength = Length;
    if (m_Pos > static_cast<double>(Length)) m_Pos = 0.0;
    if (m_LoopLength == 0) m_LoopLength = Length;
    store.Zero();
    hold.Zero();
    m_StoreBuffer.Swap(store);
    m_HoldBuffer.Swap(hold);
    return true;
}

void Loop::Clear()
{
    HandOverHold held(m_HandOver);
    m_StoreBuffer.Clear();
    m_HoldBuffer.Clear();
}

void Loop::LoadWav(const std::string &path)
{
    if (StartLoad(path)) StepLoad(SoundFileLoad::Clock::time_point::max());
}

bool Loop::StartLoad(const std::string &path)
{
    std::unique_ptr<SoundFileLoad> load(new SoundFileLoad);
    if (!load->Open(path)) return false;
    m_Load = std::move(load);
    return true;
}

bool Loop::StepLoad(SoundFileLoad::Clock::time_point deadline)
{
    if (!m_Load) return false;
    // A take started since the load was asked for is never thrown away for it.
    if (m_Recording) {
        std::cerr << "Loop: load dropped, the loop is recording [" << m_Load->GetPath() << "]" << std::endl;
        m_Load.reset();
        return false;
    }
    if (!m_Load->Step(deadline)) return false;
    // The old sound goes with the finished load.
    std::unique_ptr<SoundFileLoad> load = std::move(m_Load);
    if (!load->Succeeded()) return false;
    HandOverHold held(m_HandOver);
    const int64_t lengthBefore = m_LoopLength;
    TakeSound(load->m_Sound, load->m_Hold);
    // The sound the file replaced is the undo step, handed over, not copied.
    m_History.Add(load->m_Sound, lengthBefore);
    return true;
}

// Swaps the buffers in: no allocation, no copy, so the audio cycle never
// waits on it. A longer sound keeps a fitting play length; a shorter one
// lowers it; an empty loop takes the sound's length.
void Loop::TakeSound(Sample &sound, Sample &hold)
{
    const int length = sound.GetLength();
    if (m_LoopLength > length) m_LoopLength = length;
    if (m_Pos > static_cast<double>(length)) m_Pos = 0.0;
    if (m_LoopLength == 0) m_LoopLength = length;
    std::swap(m_StoreBuffer.m_Data, sound.m_Data);
    std::swap(m_StoreBuffer.m_Length, sound.m_Length);
    std::swap(m_HoldBuffer.m_Data, hold.m_Data);
    std::swap(m_HoldBuffer.m_Length, hold.m_Length);
}

void Loop::SaveWav(const std::string &path)
{
    WavFile file;
    if (file.Open(path, WavFile::WRITE, WavFile::MONO)) file.Save(m_StoreBuffer);
}

int Loop::GetTotalLength()
{
    // While a fresh take grows the sound, the hold buffer waits for EndRecord.
    if (FreshTakeRunning()) return m_StoreBuffer.GetLength();
    // clang-format off
    SAMPLE_ASSERT("GetTotalLength", "GUI/../Loop.h", m_StoreBuffer.GetLength()==m_HoldBuffer.GetLength());
    // clang-format on
    return m_StoreBuffer.GetLength();
}

float Loop::GetMasterRatio()
{
    if (m_Speed == 0.0f) return 1.0f;
    float period = static_cast<float>(m_LoopLength) / m_Speed;
    if (period == 0.0f) return 1.0f;
    if (!m_App) return 0.0f;
    return m_App->m_MasterPeriod / period;
}

void Loop::SetPan(float pan)
{
    m_Pan = pan;
    m_LeftVol = (2.0f - pan) * 0.5f;
    m_RightVol = pan * 0.5f;
}

void Loop::FitToSound()
{
    const int length = m_StoreBuffer.GetLength();
    if (m_LoopLength > length) m_LoopLength = length;
    if (m_Pos > static_cast<double>(m_LoopLength)) m_Pos = 0.0;
    // Shortening never fails; a longer hold buffer was made room for first.
    if (m_HoldBuffer.GetLength() > length)
        m_HoldBuffer.CropTo(length);
    else if (m_HoldBuffer.GetLength() < length)
        m_HoldBuffer.Allocate(length);
    m_HoldBuffer.Zero();
}
