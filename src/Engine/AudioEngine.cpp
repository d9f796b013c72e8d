#include "Engine/AudioEngine.h"

#include "Engine/BlockSource.h"
#include "Engine/TriggerRule.h"
#include "KorvelInfo.h"
#include "KorvelSound/Delay.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Reverb.h"
#include "Loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <thread>
#include <utility>

namespace {

// Changes a performer makes in one block's time never fill it.
const size_t CommandRoom = 4096;

} // namespace

AudioEngine::AudioEngine(Output &output, Delay &delay, Reverb &reverb)
    : m_Output(output), m_Delay(delay), m_Reverb(reverb), m_Plugin(nullptr), m_Live(false), m_HeldBlocks(0),
      m_Applied(0), m_Posted(0), m_Commands(CommandRoom)
{
    m_MixBuffer.Allocate(KorvelInfo::BufferSize);
    m_MixBuffer.Zero();
    m_Transport.Prepare(KorvelInfo::Samplerate, KorvelInfo::BufferSize);
}

void AudioEngine::SetLoops(std::vector<Loop *> loops)
{
    // Swapped in by a command (a swap allocates nothing); the old list comes
    // back to be freed here.
    std::vector<Loop *> *incoming = &loops;
    Post(this, [this, incoming] { m_Loops.swap(*incoming); });
    WaitForCommands();
    MarkersChanged();
}

void AudioEngine::MarkersChanged()
{
    size_t markers = 0;
    for (const Loop *loop : m_Loops)
        markers += loop->m_Markers.size();
    if (markers <= m_TargetRoom) return;
    m_TargetRoom = markers * 2;
    std::vector<int> roomier;
    roomier.reserve(m_TargetRoom);
    std::vector<int> *incoming = &roomier;
    Post(this, [this, incoming] { m_Targets.swap(*incoming); });
    WaitForCommands();
}

void AudioEngine::Queue(const EngineCommand &command)
{
    // A second is far beyond any block; an engine that took nothing for that
    // long has stopped, and the change is said and dropped rather than hang.
    for (int waited = 0; !m_Commands.TryPush(command); waited++) {
        if (waited == 1000) {
            std::cerr << "The sound engine takes no changes: one change dropped" << std::endl;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void AudioEngine::WaitForCommands()
{
    // Holding the whole engine, the GUI is the only one that could run them.
    if (!Live() || m_Whole.Held()) {
        RunCommands();
        return;
    }
    const int64_t ticket = ++m_Posted;
    Post(this, [this, ticket] { m_Applied.store(ticket, std::memory_order_release); });
    // A few blocks' time at least; an engine that makes none meanwhile has
    // stopped (its server stands still or went away): held whole, it keeps
    // off, and the changes are made here, so none is left for it to make
    // later on things the windows have moved on from.
    const int64_t blockMillis =
        static_cast<int64_t>(KorvelInfo::BufferSize) * 1000 / std::max(1, KorvelInfo::Samplerate);
    const int64_t patience = std::max<int64_t>(100, 3 * blockMillis);
    for (int64_t waited = 0; m_Applied.load(std::memory_order_acquire) < ticket && waited < patience;
         waited++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (m_Applied.load(std::memory_order_acquire) >= ticket) return;
    HandOverHold hold(m_Whole);
    RunCommands();
}

void AudioEngine::RunCommands()
{
    EngineCommand command;
    while (m_Commands.TryPop(command))
        command.Run();
}

bool AudioEngine::Block()
{
    if (!m_Whole.Enter()) {
        m_HeldBlocks.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    RunCommands();
    m_Transport.Follow(m_Frame);
    const bool locking = LockingBlock();
    m_Output.TakeInput();
    m_Output.ClearBuffer();
    TriggerRule::Apply(m_Loops, m_Targets, this);

    const int takeLatency = m_TakeLatency.load(std::memory_order_relaxed);
    for (Loop *loop : m_Loops) {
        // A closed loop is silent until the application takes it away.
        if (loop->m_Delete) continue;
        if (!loop->m_HandOver.Enter()) {
            loop->MissedBlock();
            continue;
        }
        loop->m_TakeLatency = takeLatency;
        loop->m_BlockFrame = m_Frame;
        m_Midi.Apply(*loop, m_Frame + KorvelInfo::BufferSize, this);
        if (locking) Lock(*loop);
        // After the pedals: a line a pedal's event is waiting for may fall in this block.
        ApplyPlayAt(*loop);
        const bool sounded = loop->GetOutput(m_MixBuffer);
        loop->m_HandOver.Leave();
        if (sounded) m_Output.Send(m_MixBuffer, loop->m_LeftVol, loop->m_RightVol);
    }

    if (m_Plugin) {
        if (const Sample *block = m_Plugin->Block()) m_Output.Send(*block, 1.0f, 1.0f);
    }

    m_Delay.Process(m_Output.m_Buffer);
    m_Reverb.Process(m_Output.m_Buffer);
    m_Transport.Block(m_Frame, m_Output);
    m_Output.Write();
    m_OutputLevel.Note(m_Output.m_Buffer.GetBuffer(), m_Output.m_Buffer.GetLength());
    if (m_MeteredInput) m_InputLevel.Note(m_MeteredInput, KorvelInfo::BufferSize);
    m_Midi.Forget(m_Loops);
    m_Frame += KorvelInfo::BufferSize;
    m_PublishedFrame.store(m_Frame, std::memory_order_relaxed);
    m_PublishedMicros.store(NowMicros(), std::memory_order_relaxed);
    m_Whole.Leave();
    return true;
}

void AudioEngine::SetTempo(double bpm, int beatsPerBar, bool barNow, const Loop *startOf)
{
    Post(this, [this, bpm, beatsPerBar, barNow, startOf] {
        if (bpm <= 0) {
            m_Transport.ClearTempo(beatsPerBar);
            return;
        }
        int64_t origin = m_Frame;
        if (startOf && startOf->m_Speed > 0) origin -= std::llround(startOf->m_Pos / startOf->m_Speed);
        m_Transport.SetTempo(bpm, beatsPerBar, origin, barNow || startOf);
    });
}

bool AudioEngine::Quantized(const Loop &loop, const TempoMap &map)
{
    return loop.m_Quantize == TempoMap::MasterLoop || (loop.m_Quantize != TempoMap::Off && map.Valid());
}

int64_t AudioEngine::NextLine(const Loop &loop, int64_t from) const
{
    if (from < m_Frame) from = m_Frame;
    const TempoMap &map = m_Transport.Map();
    if (loop.m_Quantize != TempoMap::MasterLoop) return map.NextLine(from, loop.m_Quantize);
    for (const Loop *master : m_Loops) {
        if (!master->m_Master || !master->m_Playing || master->m_Speed <= 0 || master->m_LoopLength <= 0)
            continue;
        // Where its position next comes round to the start, lap by lap.
        const double lap = master->m_LoopLength / master->m_Speed;
        const double left = (static_cast<double>(master->m_LoopLength) - master->m_Pos) / master->m_Speed;
        double line = master->m_Pos <= 0 ? 0 : std::ceil(left);
        while (m_Frame + static_cast<int64_t>(line) < from)
            line = std::ceil(line + lap);
        return m_Frame + static_cast<int64_t>(line);
    }
    return from;
}

void AudioEngine::ApplyPlayAt(Loop &loop)
{
    // A marker's restart on its line: a stopped loop starts there from its
    // start, a playing one goes back to its start there.
    if (loop.m_RestartAt >= 0 && loop.m_RestartAt < m_Frame + KorvelInfo::BufferSize) {
        const int offset = static_cast<int>(std::max<int64_t>(0, loop.m_RestartAt - m_Frame));
        loop.m_RestartAt = -1;
        if (!loop.m_Playing || offset == 0) {
            loop.m_Pos = 0.0;
            loop.m_PlayFrom = loop.m_Playing ? 0 : offset;
            loop.m_Playing = true;
        } else {
            loop.m_JumpAt = offset;
        }
    }
    const int64_t at = loop.m_PlayAt.load(std::memory_order_relaxed);
    if (at < 0 || at >= m_Frame + KorvelInfo::BufferSize) return;
    loop.m_PlayAt.store(-1, std::memory_order_relaxed);
    const int offset = static_cast<int>(std::max<int64_t>(0, at - m_Frame));
    if (loop.m_PlayTarget == loop.m_Playing) return;
    if (loop.m_PlayTarget) {
        loop.m_Playing = true;
        loop.m_PlayFrom = offset;
    } else if (offset == 0) {
        loop.m_Playing = false;
    } else {
        loop.m_PlayTo = offset;
    }
}

void AudioEngine::QueuePlay(Loop *loop, bool on)
{
    Post(this, [this, loop, on] {
        if (loop->m_PlayAt.load(std::memory_order_relaxed) >= 0) {
            loop->m_PlayAt.store(-1, std::memory_order_relaxed);
            return;
        }
        if (on == loop->m_Playing) return;
        const int64_t line = Quantized(*loop, m_Transport.Map()) ? NextLine(*loop) : m_Frame;
        if (line <= m_Frame) {
            loop->m_Playing = on;
            return;
        }
        loop->m_PlayTarget = on;
        loop->m_PlayAt.store(line, std::memory_order_relaxed);
    });
}

void AudioEngine::QueueTakeStart(Loop *loop, int bars)
{
    Post(this, [this, loop, bars] {
        const TempoMap &map = m_Transport.Map();
        if (!Quantized(*loop, map)) {
            loop->StartTake();
            return;
        }
        // The input for the line comes a round trip after it is heard.
        const int64_t line = NextLine(*loop);
        const int64_t latency = m_TakeLatency.load(std::memory_order_relaxed);
        loop->m_BlockFrame = m_Frame;
        loop->StartTake(line + latency);
        loop->m_TakeAt.store(line, std::memory_order_relaxed);
        if (bars > 0 && map.Valid())
            loop->EndTakeAt(line + std::llround(bars * map.FramesPerBar()) + latency);
    });
}

void AudioEngine::QueueTakeEnd(Loop *loop)
{
    Post(this, [this, loop] {
        const int64_t line = Quantized(*loop, m_Transport.Map()) ? NextLine(*loop) : m_Frame;
        loop->m_TakeAt.store(line, std::memory_order_relaxed);
        loop->m_BlockFrame = m_Frame;
        loop->RequestStop(line + m_TakeLatency.load(std::memory_order_relaxed));
    });
}

int64_t AudioEngine::NowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void AudioEngine::ClockByte(unsigned char byte)
{
    const int64_t since =
        std::max<int64_t>(0, NowMicros() - m_PublishedMicros.load(std::memory_order_relaxed));
    const int64_t frame = Frame() + since * KorvelInfo::Samplerate / 1000000;
    Post(this, [this, byte, frame] { m_MidiClock.Take(&byte, 1, frame); });
}

void AudioEngine::SetSync(int choice)
{
    SyncSource *source = nullptr;
    if (choice == SyncSource::MidiClock) source = &m_MidiClock;
    // As timebase master the program follows its own bar and beat as JACK
    // hands them round, so it starts, stops and locates with the transport.
    if (choice == SyncSource::JackTransport || choice == SyncSource::JackMaster) source = &m_JackTransport;
    if (choice == SyncSource::Link) source = &m_Link;
    // Link joins its session before it leads, and leaves once it no longer does.
    if (source == &m_Link && !m_Link.Enabled()) m_Link.Enable(true);
    Post(this, [this, source] {
        if (source == m_Transport.Leader()) return;
        m_Transport.Lead(source);
        for (Loop *loop : m_Loops)
            loop->m_LockBeat = -1;
    });
    if (source != &m_Link && m_Link.Enabled()) {
        WaitForCommands();
        m_Link.Enable(false);
    }
}

bool AudioEngine::LockingBlock() const
{
    const TempoMap &map = m_Transport.Map();
    // Once a bar: a loop in step is touched about never, and one a little
    // off is set right at most once a bar.
    return m_Transport.Leading() && m_Transport.Running() && map.Valid() &&
           map.NextLine(m_Frame, TempoMap::Bar) < m_Frame + KorvelInfo::BufferSize;
}

void AudioEngine::Lock(Loop &loop)
{
    const TempoMap &map = m_Transport.Map();
    const double beat = map.BeatAt(m_Frame);
    const int64_t length = loop.m_LoopLength;
    const double lap = length / static_cast<double>(loop.m_Speed);
    const int64_t beats = loop.m_Speed > 0 ? std::llround(lap / map.FramesPerBeat()) : 0;
    if (!loop.m_Playing || loop.m_Recording || length <= 0) {
        loop.m_LockBeat = -1;
        return;
    }
    // Out of step with the tempo (another tempo, or a fit starting again
    // after a lost period) it plays freely but keeps its beat for after.
    if (beats < 1 || std::fabs(lap - beats * map.FramesPerBeat()) > lap * LockSlack) return;
    if (loop.m_LockBeat < 0 || loop.m_LockLength != length) {
        // Its start goes to the grid beat nearest to where it falls now.
        const int64_t start = std::llround(beat - loop.m_Pos / length * beats);
        loop.m_LockBeat = (start % beats + beats) % beats;
        loop.m_LockLength = length;
    }
    double into = std::fmod(beat - loop.m_LockBeat, static_cast<double>(beats));
    if (into < 0) into += beats;
    const double want = into / beats * length;
    double off = want - loop.m_Pos;
    off -= std::round(off / length) * length;
    if (std::fabs(off) >= loop.m_Speed) loop.m_Pos = want;
}

void AudioEngine::TransportAt(const TransportPosition &position, int64_t ahead)
{
    TransportPosition at = position;
    at.m_Frame = m_Frame + ahead;
    m_JackTransport.Note(at);
}

bool AudioEngine::MidiEvent(const unsigned char *bytes, size_t size, int64_t ahead)
{
    // The clock's bytes go to the clock whatever leads, and nowhere else.
    if (m_MidiClock.Take(bytes, size, m_Frame + ahead)) return true;
    if (m_MidiLearning.load(std::memory_order_relaxed) || !m_Whole.Enter()) return false;
    const bool taken = m_Midi.Take(bytes, size, m_Frame + ahead, RecordDelay(), m_Loops);
    m_Whole.Leave();
    return taken;
}

void AudioEngine::SetPedals(std::vector<EnginePedal> pedals)
{
    std::vector<EnginePedal> *incoming = &pedals;
    Post(this, [this, incoming] { m_Midi.Swap(*incoming); });
    WaitForCommands();
}
