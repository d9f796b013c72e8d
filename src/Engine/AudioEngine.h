#ifndef AUDIO_ENGINE_H
#define AUDIO_ENGINE_H

#include "AudioDevices/BlockRunner.h"
#include "Engine/EngineCommand.h"
#include "Engine/HandOver.h"
#include "Engine/LevelPeak.h"
#include "Engine/SpscQueue.h"
#include "KorvelSound/Sample.h"
#include "Midi/EngineMidi.h"
#include "Sync/JackTransportSync.h"
#include "Sync/LinkSync.h"
#include "Sync/MidiClockSync.h"
#include "Sync/Transport.h"

#include <atomic>
#include <vector>

class BlockSource;
class Delay;
class Loop;
class Output;
class Reverb;

// One block of the whole program's sound, in its fixed order: the trigger
// markers' rule, every loop through its own filter and effects into the
// stereo mix, the plug-in's block, the master delay and reverb, then the
// output (device and recording). Knows no window: what the windows show of
// a block they read after it.
class AudioEngine : public BlockRunner
{
public:
    // The master path is the application's; the engine only runs it.
    AudioEngine(Output &output, Delay &delay, Reverb &reverb);
    AudioEngine(const AudioEngine &) = delete;
    AudioEngine &operator=(const AudioEngine &) = delete;

    // The loops in ascending number, the order they are mixed in; the
    // engine does not own them. Called on the GUI thread; a loop taken out
    // is no longer touched once this returns.
    void SetLoops(std::vector<Loop *> loops);
    const std::vector<Loop *> &Loops() const { return m_Loops; }
    // Makes room for every marker's restart, so a block never allocates for
    // one; called when markers are added.
    void MarkersChanged();
    void SetPlugin(BlockSource *plugin) { m_Plugin = plugin; }

    // The one door for a change to what the engine plays: made at the start
    // of the next block while an audio thread runs the blocks, at once while
    // none does (tests, the program with no sound device) or with no engine.
    template <typename F> static void Post(AudioEngine *engine, const F &change)
    {
        if (engine && engine->m_Live.load(std::memory_order_acquire))
            engine->Queue(EngineCommand::Make(change));
        else
            change();
    }
    // Returns once every change posted before was made (at once while no
    // audio thread runs or while the GUI holds the whole engine).
    void WaitForCommands();
    // Set by whoever starts and stops the audio thread.
    void SetLive(bool live) { m_Live.store(live, std::memory_order_release); }
    bool Live() const { return m_Live.load(std::memory_order_acquire); }

    // How late what is played along with the output reaches the loops'
    // input, in frames: takes from now on are placed back by it.
    // recordDelay: how much later than the input port's the loops' input
    // comes (a plug-in's block is the block before's), for a pedal's take.
    void SetTakeLatency(int frames, int recordDelay = 0)
    {
        m_TakeLatency.store(frames < 0 ? 0 : frames, std::memory_order_relaxed);
        m_RecordDelay.store(recordDelay < 0 ? 0 : recordDelay, std::memory_order_relaxed);
    }
    int TakeLatency() const { return m_TakeLatency.load(std::memory_order_relaxed); }
    int RecordDelay() const { return m_RecordDelay.load(std::memory_order_relaxed); }

    // One block. False when the GUI held the whole engine: nothing was
    // mixed or written (the caller keeps time).
    bool Block();
    bool RunBlock() override { return Block(); }
    bool MidiEvent(const unsigned char *bytes, size_t size, int64_t ahead) override;
    void TransportAt(const TransportPosition &position, int64_t ahead) override;
    // The pedals the engine acts on itself (GUI thread); none while learning.
    void SetPedals(std::vector<EnginePedal> pedals);
    void SetMidiLearning(bool on) { m_MidiLearning.store(on, std::memory_order_relaxed); }
    // Blocks the GUI held the whole engine through.
    int64_t HeldBlocks() const { return m_HeldBlocks.load(std::memory_order_relaxed); }

    // What the loops record from and what is played, for the meters; the
    // input's block is set by the GUI (by command).
    void MeterInput(const short *input) { m_MeteredInput = input; }
    LevelPeak m_InputLevel, m_OutputLevel;

    // The beat grid, metronome and clock out; changed by command only.
    Transport m_Transport;
    // The Link session: it joins only while it leads (SetSync); its output
    // latency and tempo proposals come from the GUI side.
    LinkSync m_Link;
    // From the next block: a tempo and meter (0 BPM: no grid). The grid keeps
    // its place in the bar, or starts a bar at once when asked, or where the
    // loop given passes its start.
    void SetTempo(double bpm, int beatsPerBar, bool barNow = false, const Loop *startOf = nullptr);
    // Play or stop the loop on its next quantize line (at once without one);
    // asked again while it waits, the change is called off.
    void QueuePlay(Loop *loop, bool on);
    // A take starts on the loop's next quantize line (and, given bars, ends
    // that many bars on), or ends on the next line; at once without a line.
    void QueueTakeStart(Loop *loop, int bars);
    void QueueTakeEnd(Loop *loop);
    // From the next block the grid follows that source (SyncSource::Choice).
    void SetSync(int choice);
    // A loop a whole number of beats long (within LockSlack of its lap) keeps
    // its laps on the leading grid's beats: at each bar line a position off
    // by a frame or more is set right, through the loop's jump fade.
    static constexpr double LockSlack = 0.005;
    // Whether the loop's quantize has a line to wait for.
    static bool Quantized(const Loop &loop, const TempoMap &map);
    // The loop's next quantize line at or after the frame (-1: the block's first).
    int64_t NextLine(const Loop &loop, int64_t from = -1) const;
    // The first frame of the next block, for the windows.
    int64_t Frame() const { return m_PublishedFrame.load(std::memory_order_relaxed); }
    // A MIDI clock byte read on the windows' side (the raw device) now: it
    // reaches the clock in the engine with the frame it came at, worked out
    // from when the last block was made.
    void ClockByte(unsigned char byte);

    // The GUI holds the whole engine for changes to what it is made of (the
    // set of loops, a workspace, the plug-in, the output's recording).
    HandOver m_Whole;

private:
    // Whether this block sets the loops right (a bar line of a leading
    // source's running grid falls in it), and one loop's lock.
    bool LockingBlock() const;
    void Lock(Loop &loop);
    // A quantized change of Play that falls in this block.
    void ApplyPlayAt(Loop &loop);
    static int64_t NowMicros();
    // Waits while the queue is full: the windows may wait, the engine never.
    void Queue(const EngineCommand &command);
    void RunCommands();

    Output &m_Output;
    Delay &m_Delay;
    Reverb &m_Reverb;
    BlockSource *m_Plugin;
    std::vector<Loop *> m_Loops;
    Sample m_MixBuffer;
    std::vector<int> m_Targets;
    size_t m_TargetRoom = 0; // what m_Targets was given, the GUI's own count
    std::atomic<bool> m_Live;
    std::atomic<int> m_TakeLatency{0};
    std::atomic<int> m_RecordDelay{0};
    std::atomic<bool> m_MidiLearning{false};
    EngineMidi m_Midi;
    MidiClockSync m_MidiClock;
    JackTransportSync m_JackTransport;
    int64_t m_Frame = 0; // the frames of input the blocks took
    std::atomic<int64_t> m_PublishedFrame{0};
    std::atomic<int64_t> m_PublishedMicros{0}; // when the last block was made
    const short *m_MeteredInput = nullptr;
    std::atomic<int64_t> m_HeldBlocks;
    std::atomic<int64_t> m_Applied;
    int64_t m_Posted; // the GUI's own count
    SpscQueue<EngineCommand> m_Commands;
};

#endif
