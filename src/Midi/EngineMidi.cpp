#include "Midi/EngineMidi.h"

#include "Engine/AudioEngine.h"

#include "Loop.h"
#include "Midi/MidiParser.h"

namespace {

Loop *LoopOf(const std::vector<Loop *> &loops, int id)
{
    for (Loop *loop : loops)
        if (loop->m_ID == id && !loop->m_Delete) return loop;
    return nullptr;
}

} // namespace

bool EngineMidi::Take(const unsigned char *bytes, size_t size, int64_t frame, int recordDelay,
                      const std::vector<Loop *> &loops)
{
    MidiParser parser;
    MidiMessage message;
    bool complete = false;
    for (size_t i = 0; i < size && !complete; i++)
        complete = parser.Feed(bytes[i], message);
    if (!complete || m_Count == MostPending) return false;
    const MidiMessage::Kind kind =
        message.m_Kind == MidiMessage::NoteOff ? MidiMessage::NoteOn : message.m_Kind;
    for (EnginePedal &pedal : m_Pedals) {
        if (pedal.m_Kind != kind || pedal.m_Channel != message.m_Channel ||
            pedal.m_Number != message.m_Number)
            continue;
        Loop *loop = LoopOf(loops, pedal.m_LoopID);
        if (!loop) return false;
        const bool down = message.m_Kind == MidiMessage::NoteOn ||
                          message.m_Kind == MidiMessage::ProgramChange ||
                          (message.m_Kind == MidiMessage::Controller && message.m_Value >= 64);
        // A take the engine cannot start (no sound ready for undo, no room
        // for a fresh one) is pressed by the GUI, as a click would be.
        const bool starts = pedal.m_Mode == MidiBinding::Held ? down : down && !loop->m_Recording;
        if (pedal.m_Action == EnginePedal::Record && starts && !loop->m_Recording &&
            !loop->EngineMayStartTake())
            return false;
        // A pedal may send a stream of values: only crossing 64 counts.
        if (message.m_Kind == MidiMessage::Controller) {
            if (down == pedal.m_Down) return true;
            pedal.m_Down = down;
        }
        if (pedal.m_Mode == MidiBinding::Press && !down) return true;
        const int64_t at = pedal.m_Action == EnginePedal::Record ? frame + recordDelay : frame;
        m_Pending[m_Count++] = {pedal.m_LoopID, pedal.m_Action, pedal.m_Mode == MidiBinding::Press, down, at};
        return true;
    }
    return false;
}

void EngineMidi::Apply(Loop &loop, int64_t blockEnd, const AudioEngine *engine)
{
    const bool quantized = engine && AudioEngine::Quantized(loop, engine->m_Transport.Map());
    const int latency = engine ? engine->TakeLatency() : 0;
    int kept = 0;
    for (int i = 0; i < m_Count; i++) {
        const Pending p = m_Pending[i];
        if (p.m_LoopID != loop.m_ID || p.m_Frame >= blockEnd) {
            m_Pending[kept++] = p;
            continue;
        }
        if (p.m_Action == EnginePedal::Play) {
            const bool on = p.m_Toggle ? !loop.m_Playing : p.m_Down;
            const int64_t line = quantized ? engine->NextLine(loop, p.m_Frame) : p.m_Frame;
            if (loop.m_PlayAt.load(std::memory_order_relaxed) >= 0) {
                // Pressed again while it waits: called off.
                loop.m_PlayAt.store(-1, std::memory_order_relaxed);
            } else if (line <= p.m_Frame || !quantized) {
                loop.m_Playing = on;
            } else if (on != loop.m_Playing) {
                loop.m_PlayTarget = on;
                loop.m_PlayAt.store(line, std::memory_order_relaxed);
            }
            continue;
        }
        const bool start = p.m_Toggle ? !loop.m_Recording : p.m_Down;
        // A quantized take starts and ends on the line the performer hears,
        // its input a round trip after it.
        const int64_t line = quantized ? engine->NextLine(loop, p.m_Frame) : -1;
        if (start && !loop.m_Recording) {
            if (!loop.EngineMayStartTake()) {
                loop.m_GuiPresses.fetch_add(1, std::memory_order_release);
            } else {
                loop.StartTake(line >= 0 ? line + latency : p.m_Frame, true);
                if (line >= 0) loop.m_TakeAt.store(line, std::memory_order_relaxed);
            }
        } else if (!start && loop.m_Recording) {
            if (line >= 0) loop.m_TakeAt.store(line, std::memory_order_relaxed);
            loop.RequestStop(line >= 0 ? line + latency : p.m_Frame);
        }
    }
    m_Count = kept;
}

void EngineMidi::Forget(const std::vector<Loop *> &loops)
{
    int kept = 0;
    for (int i = 0; i < m_Count; i++)
        if (LoopOf(loops, m_Pending[i].m_LoopID)) m_Pending[kept++] = m_Pending[i];
    m_Count = kept;
}
