#include "Loop.h"

#include "KorvelInfo.h"
#include "KorvelSound/Fade.h"
#include "KorvelSound/SampleClamp.h"
#include "KorvelSound/WavFile.h"
#include "LoopHost.h"
#include "LoopPanel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
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
    const bool heard = m_Heard;
    m_Heard = false;
    // The take's last input came while the GUI held the loop.
    if (m_Recording && m_TakeTail == 0) EndTake();
    // A fresh take the engine stopped and the GUI has yet to end is silent:
    // what it holds is not yet a sound (never seen without an audio thread).
    if (!m_Recording && FreshTakeRunning()) {
        m_AfterTake += KorvelInfo::BufferSize;
        return false;
    }
    if (m_MissedFrames > 0) CatchUp();
    bool playing = true;
    if (m_Recording) {
        Record(m_Pos);
        // A take into its prepared room is silent and leaves the sound,
        // which the GUI is adding to, alone.
        // So is a fresh take that ended in this block: the GUI has yet to end it.
        if ((m_TakeRoom || !m_Recording) && FreshTakeRunning()) return false;
        if (m_StoreBuffer.GetLength() == 0) return false;
    } else if (m_StoreBuffer.GetLength() == 0) {
        return false;
    } else if (!m_Playing) {
        // Stopped: what was heard fades out first.
        if (heard && FadeFrames() > 0) StartTail();
        if (m_TailLeft <= 0) return false;
        playing = false;
    }
    // A quantized start or stop falls inside this block.
    const int playFrom = m_Recording ? 0 : std::max(0, m_PlayFrom);
    const int playTo = m_Recording ? -1 : m_PlayTo;
    const int jumpAt = m_Recording || playFrom > 0 || playTo >= 0 ? -1 : m_JumpAt;
    m_PlayFrom = 0;
    m_PlayTo = -1;
    m_JumpAt = -1;

    // The effect lines were last touched a whole cycle ago; fetch them while
    // playback and the filter run.
    if (m_EffectsOn) {
        m_Delay.Prefetch();
        m_Reverb.Prefetch();
    }
    if (playing && jumpAt > 0) {
        m_Wrapped = PlayWithJump(out, heard, jumpAt);
        m_StepTo = m_Pos;
        m_Heard = true;
        m_HeardEnd = m_Pos;
    } else if (playing) {
        m_Wrapped = Play(out, playFrom, playTo);
        m_StepTo = m_Pos;
        FadePlayed(out, heard, playFrom);
        m_Heard = true;
        m_HeardEnd = m_Pos;
        if (playTo >= 0) {
            // Stopped at that frame: what was heard fades out from there.
            m_Playing = false;
            m_Heard = false;
            if (FadeFrames() > 0) {
                StartTail();
                AddTail(out, playTo);
            }
        }
    } else {
        out.Zero();
        AddTail(out);
    }
    m_Filter.Process(0, out);
    // What is heard, speed, volume and filter included, so KeepHold can keep it.
    if (!m_Recording && playing) HoldCopy(out);
    if (m_EffectsOn) {
        m_Delay.Process(out);
        m_Reverb.Process(out);
    }

    if (playing) {
        m_DisplayPos = static_cast<int>(m_Pos);
        m_ShownPos.store(m_Pos, std::memory_order_relaxed);
    }
    m_Level.Note(out.GetBuffer(), KorvelInfo::BufferSize);
    m_Sounded = playing;
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

bool Loop::Play(Sample &out, int from, int to, bool silenceRest)
{
    const int B = KorvelInfo::BufferSize;
    if (B < 1) return false;
    // Part of the block (a quantized start or stop): the rest is silent, and
    // the position moves only over the part played.
    to = to < 0 ? B : std::min(to, B);
    from = std::min(std::max(0, from), to);
    if (silenceRest && (from > 0 || to < B)) out.Zero();
    const int64_t length = m_LoopLength;
    const float speed = m_Speed;
    const float volume = m_Volume;
    double pos = m_Pos;
    bool wrapped = false;

    if (length > m_StoreBuffer.m_Length) {
        // Only a play length beyond the sound can get here: stop at the first
        // position that is past the end, as element access does.
        for (int i = from; i < to; i++) {
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
    // The last samples of the lap fade out and the first fade in, so the
    // end never jumps to the start; a lap shorter than two fades has room
    // for neither.
    const int fade = FadeFrames();
    int seam = length >= 2 * static_cast<int64_t>(fade) ? fade : 0;
    // Most blocks play nowhere near the seam: they skip looking for it.
    if (seam > 0 && speed >= 0.0f && pos >= seam &&
        pos + (B + 1.0) * speed < static_cast<double>(length - seam))
        seam = 0;
    for (int i = from; i < to; i++) {
        int p = static_cast<int>(pos);
        short value = 0;
        float gain = volume;
        if (seam > 0 && (p < seam || p >= length - seam))
            gain *= p < seam ? Fade::Rise(p, seam) : Fade::Rise(length - 1 - p, seam);
        if (p >= 0 && p < length)
            value = static_cast<short>(static_cast<int>(static_cast<float>(sound[p]) * gain));
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

bool Loop::PlayWithJump(Sample &out, bool heard, int at)
{
    const int B = KorvelInfo::BufferSize;
    bool wrapped = Play(out, 0, at);
    FadePlayed(out, heard, 0);
    // From the jump on: the start, fading in, over what was playing fading out.
    const int fade = FadeFrames();
    m_HeardEnd = m_Pos;
    if (fade > 0) StartTail();
    m_Pos = 0.0;
    wrapped = Play(out, at, B, false) || wrapped;
    if (fade > 0) {
        short *values = out.GetBuffer();
        m_RiseDone = 0;
        for (int i = at; i < B && m_RiseDone < fade; i++, m_RiseDone++)
            values[i] = ClampSample(values[i] * Fade::Rise(m_RiseDone, fade));
        AddTail(out, at);
    }
    return wrapped;
}

int Loop::FadeFrames() const
{
    return static_cast<int>(static_cast<int64_t>(KorvelInfo::FadeMs) * KorvelInfo::Samplerate / 1000);
}

void Loop::FadePlayed(Sample &out, bool heard, int from)
{
    const int fade = FadeFrames();
    if (fade <= 0) return;
    if (!heard) {
        m_RiseDone = 0;
    } else if (m_StepFrom != m_HeardEnd) {
        StartTail();
        m_RiseDone = 0;
    }
    const int B = KorvelInfo::BufferSize;
    short *values = out.GetBuffer();
    for (int i = from; i < B && m_RiseDone < fade; i++, m_RiseDone++)
        values[i] = ClampSample(values[i] * Fade::Rise(m_RiseDone, fade));
    if (m_TailLeft > 0) AddTail(out);
}

void Loop::StartTail()
{
    const int fade = FadeFrames();
    // Goes down from the level the sound had got to.
    m_TailGain = Fade::Rise(m_RiseDone, fade);
    m_TailPos = m_HeardEnd;
    m_TailLeft = fade;
}

void Loop::AddTail(Sample &out, int from)
{
    const int fade = FadeFrames();
    const int64_t length = std::min<int64_t>(m_LoopLength, m_StoreBuffer.GetLength());
    const int seam = length >= 2 * static_cast<int64_t>(fade) ? fade : 0;
    const int B = KorvelInfo::BufferSize;
    const short *sound = m_StoreBuffer.GetBuffer();
    short *values = out.GetBuffer();
    for (int i = from; i < B && m_TailLeft > 0; i++) {
        m_TailLeft--;
        const int p = static_cast<int>(m_TailPos);
        if (p < 0 || p >= length) {
            m_TailLeft = 0;
            break;
        }
        float gain = m_Volume * m_TailGain * Fade::Rise(m_TailLeft, fade);
        if (seam > 0 && (p < seam || p >= length - seam))
            gain *= p < seam ? Fade::Rise(p, seam) : Fade::Rise(length - 1 - p, seam);
        values[i] = ClampSample(values[i] + sound[p] * gain);
        const double next = m_Speed + m_TailPos;
        m_TailPos = static_cast<int64_t>(next) >= length ? 0.0 : next;
    }
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

void Loop::MissedBlock()
{
    // The loop is silent this block: it fades in again after.
    m_Heard = false;
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
    m_Changes++;
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
