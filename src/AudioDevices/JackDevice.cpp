#include "AudioDevices/JackDevice.h"

#include "AudioDevices/BlockRunner.h"
#include "Engine/AudioThread.h"
#include "Engine/HandOver.h"
#include "KorvelInfo.h"
#include "Sync/TransportPosition.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// Frames moved per step between a ring and a port, through a buffer on the stack.
const int Chunk = 256;
// A frame in the output ring: left, right, the metronome's click and the
// MIDI bytes (up to two) to send at that frame, so each click and clock byte
// leaves at the very frame of the sound it belongs to.
const size_t RingFloats = 4;
// How long the main thread waits for room before it gives up on a block: a
// server that stops calling must not hang the program.
const long MaxWaitNanos = 500000000L;
// MIDI bytes the main thread may fall behind by: seconds of a busy controller.
const size_t MidiRingBytes = 16384;
// The longest period JACK allows. The rings are made for it at the start, so
// a period that grows while playing needs nothing allocated.
const int MaxPeriod = 8192;
// A server that exists but does not answer (stopped) would hang start-up.
const int OpenTimeoutSeconds = 5;

// One period and one block in the ring, and as much again as the larger of
// the two for the time a busy machine may keep the cycle from running.
size_t TargetFor(int period, int block)
{
    return static_cast<size_t>(period + block + std::max(period, block));
}

// JACK's own words for why it refused, from the status bits it set.
std::string StatusWords(jack_status_t status)
{
    static const struct
    {
        int bit;
        const char *word;
    } words[] = {{JackServerFailed, "server not running or failed"},
                 {JackServerError, "server error"},
                 {JackNameNotUnique, "name not unique"},
                 {JackVersionError, "version mismatch"},
                 {JackInitFailure, "init failure"},
                 {JackShmFailure, "shm failure"},
                 {JackInvalidOption, "invalid option"},
                 {JackNoSuchClient, "no such client"},
                 {JackLoadFailure, "load failure"},
                 {JackBackendError, "backend error"},
                 {JackClientZombie, "client zombie"},
                 {JackFailure, "failure"}};
    std::string said;
    for (const auto &word : words)
        if (status & word.bit) said += (said.empty() ? "" : ", ") + std::string(word.word);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(status));
    return (said.empty() ? "no reason given" : said) + " (status " + hex + ")";
}

// jack_client_open on a thread of its own, so that a server that does not
// answer costs a few seconds, not the program. An open that comes back after
// the wait closes its client itself.
struct PendingOpen
{
    std::mutex m_Mutex;
    std::condition_variable m_Done;
    bool m_Finished = false;
    bool m_Abandoned = false;
    jack_client_t *m_Client = nullptr;
    jack_status_t m_Status = JackFailure;
};

jack_client_t *OpenWithin(const std::string &name, const std::string &server, jack_status_t &status,
                          bool &timedOut)
{
    const int options = JackNoStartServer | (server.empty() ? 0 : JackServerName);
    auto pending = std::make_shared<PendingOpen>();
    try {
        std::thread([pending, name, server, options] {
            jack_status_t got = JackFailure;
            jack_client_t *client =
                jack_client_open(name.c_str(), static_cast<jack_options_t>(options), &got, server.c_str());
            std::lock_guard<std::mutex> lock(pending->m_Mutex);
            if (pending->m_Abandoned) {
                if (client) jack_client_close(client);
                return;
            }
            pending->m_Client = client;
            pending->m_Status = got;
            pending->m_Finished = true;
            pending->m_Done.notify_one();
        }).detach();
    } catch (const std::system_error &) {
        status = JackFailure;
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(pending->m_Mutex);
    timedOut = !pending->m_Done.wait_for(lock, std::chrono::seconds(OpenTimeoutSeconds),
                                         [&] { return pending->m_Finished; });
    pending->m_Abandoned = timedOut;
    status = pending->m_Status;
    return pending->m_Client;
}

void Quiet(const char *)
{
}

} // namespace

class JackState
{
public:
    jack_client_t *m_Client = nullptr;
    jack_port_t *m_Left = nullptr;
    jack_port_t *m_Right = nullptr;
    jack_port_t *m_Input = nullptr;
    jack_port_t *m_ClickLeft = nullptr;
    jack_port_t *m_ClickRight = nullptr;
    jack_port_t *m_MidiOut = nullptr;
    jack_port_t *m_MidiIn = nullptr;         // only when MIDI is wanted
    jack_ringbuffer_t *m_MidiRing = nullptr; // the bytes of whole events
    jack_ringbuffer_t *m_OutRing = nullptr;  // frames of RingFloats floats
    jack_ringbuffer_t *m_InRing = nullptr;   // mono floats
    sem_t m_Room;                            // posted by every process call
    bool m_HasSemaphore = false;
    // Frames the output ring is kept filled to; the first block starts it
    // with as much silence, so the input ring holds what the output lacks.
    // The period and the target follow the server's changes of period.
    std::atomic<size_t> m_Target{0};
    std::atomic<int> m_Period{0};
    std::atomic<int> m_Rate{0};
    int m_Block = 0;
    // Of this client's own ports, as JACK works them out from the graph.
    std::atomic<int> m_CaptureLatency{0}, m_PlaybackLatency{0};
    std::atomic<bool> m_Started{false};
    std::atomic<bool> m_Lost{false};
    std::atomic<int64_t> m_Dropouts{0};
    std::atomic<int64_t> m_LostBlocks{0};
    std::atomic<int64_t> m_Xruns{0};
    // Blocks made in the callback, and the gate that lets the main thread
    // stop that safely.
    std::atomic<BlockRunner *> m_Runner{nullptr};
    std::atomic<bool> m_RunnerFresh{false}; // the rings still hold the old way's frames
    HandOver m_RunnerGate;
    // As the transport's timebase master: the tempo and meter its bar and
    // beat are counted in (set by the main thread, read by JACK's).
    std::atomic<double> m_LeadBpm{0};
    std::atomic<int> m_LeadBeats{4};
    bool m_Leading = false;

    int PortLatency() const { return m_CaptureLatency.load() + m_PlaybackLatency.load(); }
    size_t QueuedFrames() const
    {
        return jack_ringbuffer_read_space(m_OutRing) / (RingFloats * sizeof(float));
    }
};

namespace {

// A block size that does not divide the period needs a block of silence
// ahead, so that the input a block needs has always arrived.
size_t CallbackPrefill(size_t period, size_t block)
{
    return (period % block != 0 || block > period) ? block : 0;
}

// The callback makes the blocks itself: the input of this period first, then
// blocks until the period can be played. A block size that does not divide
// the period starts with a block of silence, so the input a block needs has
// always arrived.
void RunBlocks(JackState *state, BlockRunner *runner, const float *input, jack_nframes_t frames)
{
    const size_t block = static_cast<size_t>(state->m_Block);
    if (state->m_RunnerFresh.exchange(false)) {
        // Only this thread uses the rings from now on.
        jack_ringbuffer_reset(state->m_OutRing);
        jack_ringbuffer_reset(state->m_InRing);
        state->m_Started.store(false);
    }
    if (!state->m_Started.load(std::memory_order_relaxed)) {
        const size_t prefill = CallbackPrefill(frames, block);
        const float silence[RingFloats * Chunk] = {};
        for (size_t left = prefill; left > 0;) {
            const size_t step = std::min<size_t>(Chunk, left);
            jack_ringbuffer_write(state->m_OutRing, reinterpret_cast<const char *>(silence),
                                  step * RingFloats * sizeof(float));
            left -= step;
        }
        state->m_Target.store(prefill);
        state->m_Started.store(true, std::memory_order_release);
    }
    if (jack_ringbuffer_write_space(state->m_InRing) >= frames * sizeof(float))
        jack_ringbuffer_write(state->m_InRing, reinterpret_cast<const char *>(input), frames * sizeof(float));
    while (state->QueuedFrames() < frames &&
           jack_ringbuffer_read_space(state->m_InRing) >= block * sizeof(float))
        if (!runner->RunBlock()) break;
}

// A period whose blocks were not all made (the GUI held the whole engine)
// played silence but left its input behind: dropped, or the input would come
// a period later from then on. Kept is what a block needs beside the blocks
// already made: the prefill less what waits to be played.
void DropStaleInput(JackState *state)
{
    if (!state->m_Started.load(std::memory_order_relaxed) || state->m_RunnerFresh.load()) return;
    const size_t queuedIn = jack_ringbuffer_read_space(state->m_InRing) / sizeof(float);
    const size_t queuedOut = state->QueuedFrames();
    const size_t prefill = state->m_Target.load();
    const size_t wanted = prefill > queuedOut ? prefill - queuedOut : 0;
    if (queuedIn > wanted) jack_ringbuffer_read_advance(state->m_InRing, (queuedIn - wanted) * sizeof(float));
}

// Up to two MIDI bytes packed in a frame's last value, the first in the low byte.
void SendBytes(void *port, jack_nframes_t at, unsigned packed)
{
    for (; packed != 0; packed >>= 8) {
        const unsigned char byte = static_cast<unsigned char>(packed & 0xff);
        jack_midi_event_write(port, at, &byte, 1);
    }
}

// The transport at the period's start, bar and beat only from a timebase
// master (the engine's frame is the caller's to add).
TransportPosition QueryTransport(jack_client_t *client)
{
    jack_position_t position;
    TransportPosition at;
    at.m_Rolling = jack_transport_query(client, &position) == JackTransportRolling;
    if (position.valid & JackPositionBBT) {
        at.m_HasBar = true;
        at.m_Bpm = position.beats_per_minute;
        at.m_BeatsPerBar = static_cast<int>(std::lround(position.beats_per_bar));
        at.m_Bar = position.bar;
        at.m_Beat = position.beat;
        at.m_Tick = position.tick;
        at.m_TicksPerBeat = position.ticks_per_beat;
    }
    return at;
}

// Bar, beat and tick of the transport's frame, counted from its frame 0 at
// one tempo, so a locate anywhere gives the same bar as playing there.
void Timebase(jack_transport_state_t, jack_nframes_t, jack_position_t *position, int, void *arg)
{
    const JackState *state = static_cast<const JackState *>(arg);
    const double bpm = state->m_LeadBpm.load(std::memory_order_relaxed);
    const int beatsPerBar = std::max(1, state->m_LeadBeats.load(std::memory_order_relaxed));
    if (bpm <= 0 || position->frame_rate == 0) return;
    const double beats = position->frame * bpm / (60.0 * position->frame_rate);
    const int64_t beat = static_cast<int64_t>(std::floor(beats));
    position->valid = static_cast<jack_position_bits_t>(position->valid | JackPositionBBT);
    position->beats_per_minute = bpm;
    position->beats_per_bar = static_cast<float>(beatsPerBar);
    position->beat_type = 4;
    position->ticks_per_beat = 1920;
    position->bar = static_cast<int32_t>(beat / beatsPerBar + 1);
    position->beat = static_cast<int32_t>(beat % beatsPerBar + 1);
    position->tick = static_cast<int32_t>((beats - beat) * position->ticks_per_beat);
    position->bar_start_tick = (position->bar - 1) * beatsPerBar * position->ticks_per_beat;
}

int Process(jack_nframes_t frames, void *arg)
{
    JackState *state = static_cast<JackState *>(arg);
    float *left = static_cast<float *>(jack_port_get_buffer(state->m_Left, frames));
    float *right = static_cast<float *>(jack_port_get_buffer(state->m_Right, frames));
    const float *input = static_cast<const float *>(jack_port_get_buffer(state->m_Input, frames));
    const size_t wanted = frames * RingFloats * sizeof(float);
    float *clickLeft = static_cast<float *>(jack_port_get_buffer(state->m_ClickLeft, frames));
    float *clickRight = static_cast<float *>(jack_port_get_buffer(state->m_ClickRight, frames));
    void *midiOut = jack_port_get_buffer(state->m_MidiOut, frames);
    jack_midi_clear_buffer(midiOut);

    BlockRunner *runner = state->m_Runner.load(std::memory_order_acquire);
    const bool running = runner && state->m_RunnerGate.Enter();
    if (running) DropStaleInput(state);

    // This period's input comes after what the ring holds.
    const int64_t queued = static_cast<int64_t>(
        state->m_InRing ? jack_ringbuffer_read_space(state->m_InRing) / sizeof(float) : 0);
    if (running) runner->TransportAt(QueryTransport(state->m_Client), queued);

    // MIDI as it came, whole events only; what the ring cannot take is lost
    // rather than split. A pedal the engine acts on itself is not passed on.
    if (state->m_MidiIn) {
        void *events = jack_port_get_buffer(state->m_MidiIn, frames);
        const uint32_t count = jack_midi_get_event_count(events);
        for (uint32_t i = 0; i < count; i++) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, events, i) != 0) continue;
            if (running && runner->MidiEvent(event.buffer, event.size, queued + event.time)) continue;
            if (jack_ringbuffer_write_space(state->m_MidiRing) >= event.size)
                jack_ringbuffer_write(state->m_MidiRing, reinterpret_cast<const char *>(event.buffer),
                                      event.size);
        }
    }

    if (running) {
        AudioThread::Scope scope;
        RunBlocks(state, runner, input, frames);
        state->m_RunnerGate.Leave();
    }

    // Not ready: silence, and the input of this period goes too, so that the
    // two rings stay in step (what arrives while nothing plays is not kept).
    if (!state->m_Started.load(std::memory_order_acquire) ||
        jack_ringbuffer_read_space(state->m_OutRing) < wanted) {
        for (float *port : {left, right, clickLeft, clickRight})
            std::fill(port, port + frames, 0.0f);
        if (state->m_Started.load(std::memory_order_relaxed)) state->m_Dropouts++;
    } else {
        float chunk[RingFloats * Chunk];
        for (jack_nframes_t done = 0; done < frames;) {
            jack_nframes_t step = std::min<jack_nframes_t>(Chunk, frames - done);
            jack_ringbuffer_read(state->m_OutRing, reinterpret_cast<char *>(chunk),
                                 step * RingFloats * sizeof(float));
            for (jack_nframes_t i = 0; i < step; i++) {
                const float *frame = chunk + RingFloats * i;
                left[done + i] = frame[0];
                right[done + i] = frame[1];
                clickLeft[done + i] = clickRight[done + i] = frame[2];
                if (frame[3] != 0) SendBytes(midiOut, done + i, static_cast<unsigned>(frame[3]));
            }
            done += step;
        }
        if (!running && jack_ringbuffer_write_space(state->m_InRing) >= frames * sizeof(float))
            jack_ringbuffer_write(state->m_InRing, reinterpret_cast<const char *>(input),
                                  frames * sizeof(float));
    }
    sem_post(&state->m_Room);
    return 0;
}

// The server's word that a cycle went wrong somewhere (a client, this one
// too, ran late, or the driver did): heard as a repeated or missing period.
int Xrun(void *arg)
{
    static_cast<JackState *>(arg)->m_Xruns++;
    return 0;
}

// Not called from the process callback. The rings were made for the longest
// period, so only the counts change, which the main thread reads as they are.
int BufferSizeChanged(jack_nframes_t frames, void *arg)
{
    JackState *state = static_cast<JackState *>(arg);
    const int period = std::min(static_cast<int>(frames), MaxPeriod);
    state->m_Period.store(period);
    state->m_Target.store(TargetFor(period, state->m_Block));
    sem_post(&state->m_Room);
    return 0;
}

int SampleRateChanged(jack_nframes_t rate, void *arg)
{
    static_cast<JackState *>(arg)->m_Rate.store(static_cast<int>(rate));
    return 0;
}

void ServerGone(jack_status_t, const char *, void *arg)
{
    JackState *state = static_cast<JackState *>(arg);
    state->m_Lost.store(true);
    sem_post(&state->m_Room);
}

// Called (not in the process callback) whenever the graph's latencies
// change. The program adds none of its own that JACK should know of: what
// comes in at the input is as late at the outputs, and the other way round.
void LatencyChanged(jack_latency_callback_mode_t mode, void *arg)
{
    JackState *state = static_cast<JackState *>(arg);
    jack_latency_range_t range = {0, 0};
    if (mode == JackCaptureLatency) {
        jack_port_get_latency_range(state->m_Input, JackCaptureLatency, &range);
        jack_port_set_latency_range(state->m_Left, JackCaptureLatency, &range);
        jack_port_set_latency_range(state->m_Right, JackCaptureLatency, &range);
        state->m_CaptureLatency.store(static_cast<int>(range.max));
        return;
    }
    jack_latency_range_t right = {0, 0};
    jack_port_get_latency_range(state->m_Left, JackPlaybackLatency, &range);
    jack_port_get_latency_range(state->m_Right, JackPlaybackLatency, &right);
    range.min = std::min(range.min, right.min);
    range.max = std::max(range.max, right.max);
    jack_port_set_latency_range(state->m_Input, JackPlaybackLatency, &range);
    state->m_PlaybackLatency.store(static_cast<int>(range.max));
}

int LatencyOf(jack_client_t *client, const char *port, jack_latency_callback_mode_t mode)
{
    jack_latency_range_t range = {0, 0};
    jack_port_t *found = jack_port_by_name(client, port);
    if (found) jack_port_get_latency_range(found, mode, &range);
    return static_cast<int>(range.max);
}

} // namespace

JackDevice::JackDevice() : m_State(new JackState)
{
}

JackDevice::~JackDevice()
{
    Close();
}

bool JackDevice::Fail(const std::string &why)
{
    m_Error = why;
    Close();
    return false;
}

std::string JackDevice::ClientName()
{
    // Tests on servers side by side give each client a name of its own.
    const char *name = std::getenv("KORVEL_JACK_CLIENT");
    return name && *name ? name : "KorvelLoops";
}

bool JackDevice::Open(const std::string &server, int blockFrames)
{
    Close();
    JackState &state = *m_State;
    // The library's own messages would be many lines for one failure; the
    // program says what went wrong itself.
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    const char *fallback = std::getenv("JACK_DEFAULT_SERVER");
    const std::string serverName = !server.empty() ? server : fallback && *fallback ? fallback : "default";
    jack_status_t status = JackFailure;
    bool timedOut = false;
    state.m_Client = OpenWithin(ClientName(), server, status, timedOut);
    if (timedOut)
        return Fail("JACK server \"" + serverName + "\" does not answer (waited " +
                    std::to_string(OpenTimeoutSeconds) + " s)");
    if (!state.m_Client)
        return Fail(((status & JackServerFailed) ? std::string("no JACK server answers")
                                                 : "JACK refused the client \"" + ClientName() + "\"") +
                    " as \"" + serverName + "\": " + StatusWords(status));

    const int period = static_cast<int>(jack_get_buffer_size(state.m_Client));
    state.m_Block = blockFrames;
    state.m_Period = period;
    state.m_Rate = static_cast<int>(jack_get_sample_rate(state.m_Client));
    state.m_Target = TargetFor(period, blockFrames);
    const int longest = std::max(period, MaxPeriod);
    const size_t frames = TargetFor(longest, blockFrames) + static_cast<size_t>(longest + blockFrames);
    state.m_OutRing = jack_ringbuffer_create(frames * RingFloats * sizeof(float));
    state.m_InRing = jack_ringbuffer_create(frames * sizeof(float));
    if (sem_init(&state.m_Room, 0, 0) == 0) state.m_HasSemaphore = true;
    if (!state.m_OutRing || !state.m_InRing || !state.m_HasSemaphore) return Fail("out of memory");

    state.m_Left = jack_port_register(state.m_Client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    state.m_Right = jack_port_register(state.m_Client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    state.m_Input = jack_port_register(state.m_Client, "input", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    // The metronome's own pair (for headphones) and the clock out are left
    // for the performer to connect.
    state.m_ClickLeft =
        jack_port_register(state.m_Client, "click_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    state.m_ClickRight =
        jack_port_register(state.m_Client, "click_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    state.m_MidiOut =
        jack_port_register(state.m_Client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!state.m_Left || !state.m_Right || !state.m_Input || !state.m_ClickLeft || !state.m_ClickRight ||
        !state.m_MidiOut)
        return Fail("cannot make the ports");
    if (KorvelInfo::WantMidi) {
        state.m_MidiRing = jack_ringbuffer_create(MidiRingBytes);
        if (state.m_MidiRing)
            state.m_MidiIn =
                jack_port_register(state.m_Client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!state.m_MidiIn) return Fail("cannot make the MIDI port");
    }
    jack_set_process_callback(state.m_Client, Process, &state);
    jack_set_xrun_callback(state.m_Client, Xrun, &state);
    jack_set_buffer_size_callback(state.m_Client, BufferSizeChanged, &state);
    jack_set_sample_rate_callback(state.m_Client, SampleRateChanged, &state);
    jack_on_info_shutdown(state.m_Client, ServerGone, &state);
    jack_set_latency_callback(state.m_Client, LatencyChanged, &state);
    if (jack_activate(state.m_Client) != 0) return Fail("cannot start the client");

    int playbackLatency = 0, captureLatency = 0;
    if (const char **playback = jack_get_ports(state.m_Client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                               JackPortIsPhysical | JackPortIsInput)) {
        jack_connect(state.m_Client, jack_port_name(state.m_Left), playback[0]);
        jack_connect(state.m_Client, jack_port_name(state.m_Right), playback[1] ? playback[1] : playback[0]);
        playbackLatency = LatencyOf(state.m_Client, playback[0], JackPlaybackLatency);
        jack_free(playback);
    }
    if (const char **capture = jack_get_ports(state.m_Client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                              JackPortIsPhysical | JackPortIsOutput)) {
        jack_connect(state.m_Client, capture[0], jack_port_name(state.m_Input));
        captureLatency = LatencyOf(state.m_Client, capture[0], JackCaptureLatency);
        jack_free(capture);
    }
    if (state.m_MidiIn) {
        if (const char **controllers = jack_get_ports(state.m_Client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                                      JackPortIsPhysical | JackPortIsOutput)) {
            jack_connect(state.m_Client, controllers[0], jack_port_name(state.m_MidiIn));
            jack_free(controllers);
        }
    }
    // Until JACK works the latencies out from the connections.
    int expected = 0;
    state.m_CaptureLatency.compare_exchange_strong(expected, captureLatency);
    expected = 0;
    state.m_PlaybackLatency.compare_exchange_strong(expected, playbackLatency);
    return true;
}

void JackDevice::Close()
{
    JackState &state = *m_State;
    if (state.m_Client) jack_client_close(state.m_Client);
    if (state.m_OutRing) jack_ringbuffer_free(state.m_OutRing);
    if (state.m_InRing) jack_ringbuffer_free(state.m_InRing);
    if (state.m_MidiRing) jack_ringbuffer_free(state.m_MidiRing);
    if (state.m_HasSemaphore) sem_destroy(&state.m_Room);
    m_State.reset(new JackState);
}

bool JackDevice::LeadTransport(double bpm, int beatsPerBar)
{
    JackState &state = *m_State;
    if (!state.m_Client) return bpm <= 0;
    state.m_LeadBeats.store(beatsPerBar);
    state.m_LeadBpm.store(bpm);
    // Asked again each time: the server says whether this client still is
    // the master (a client may take it without asking).
    if (bpm > 0)
        state.m_Leading = jack_set_timebase_callback(state.m_Client, 1, Timebase, &state) == 0;
    else if (state.m_Leading) {
        jack_release_timebase(state.m_Client);
        state.m_Leading = false;
    }
    return bpm <= 0 || state.m_Leading;
}

int JackDevice::SampleRate() const
{
    return m_State->m_Client ? m_State->m_Rate.load() : 0;
}

namespace {

void PushFrames(JackState &state, const short *data, int frames, int channels, const short *click,
                const uint16_t *midi)
{
    float chunk[RingFloats * Chunk];
    for (int done = 0; done < frames;) {
        int step = std::min(Chunk, frames - done);
        for (int i = 0; i < step; i++) {
            const short *frame = data + static_cast<size_t>(done + i) * channels;
            float *to = chunk + RingFloats * i;
            to[0] = frame[0] / 32768.0f;
            to[1] = frame[channels > 1 ? 1 : 0] / 32768.0f;
            to[2] = click ? click[done + i] / 32768.0f : 0.0f;
            to[3] = midi ? static_cast<float>(midi[done + i]) : 0.0f;
        }
        jack_ringbuffer_write(state.m_OutRing, reinterpret_cast<const char *>(chunk),
                              step * RingFloats * sizeof(float));
        done += step;
    }
}

} // namespace

bool JackDevice::Write(const short *data, int frames, int channels, const short *click, const uint16_t *midi)
{
    JackState &state = *m_State;
    if (!state.m_Client || state.m_Lost.load()) return false;
    // Inside the callback the ring always has room for the block.
    if (state.m_Runner.load(std::memory_order_relaxed)) {
        PushFrames(state, data, frames, channels, click, midi);
        return true;
    }
    if (!state.m_Started.load(std::memory_order_relaxed)) {
        const float silence[RingFloats * Chunk] = {};
        for (size_t left = state.m_Target.load(); left > 0;) {
            size_t step = std::min<size_t>(Chunk, left);
            jack_ringbuffer_write(state.m_OutRing, reinterpret_cast<const char *>(silence),
                                  step * RingFloats * sizeof(float));
            left -= step;
        }
        state.m_Started.store(true, std::memory_order_release);
    }

    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += MaxWaitNanos;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    while (state.QueuedFrames() + static_cast<size_t>(frames) > state.m_Target.load()) {
        if (state.m_Lost.load()) return false;
        // A server that stopped calling costs this block, not the program;
        // the block is lost, and counted.
        if (sem_timedwait(&state.m_Room, &deadline) != 0 && errno == ETIMEDOUT) {
            state.m_LostBlocks++;
            return true;
        }
    }

    PushFrames(state, data, frames, channels, click, midi);
    return true;
}

bool JackDevice::RunsInCallback() const
{
    return m_State->m_Runner.load(std::memory_order_relaxed) != nullptr;
}

bool JackDevice::Gone() const
{
    return m_State->m_Lost.load();
}

void JackDevice::RunInCallback(BlockRunner *runner)
{
    JackState &state = *m_State;
    HandOverHold hold(state.m_RunnerGate);
    if (runner) state.m_RunnerFresh.store(true);
    // Taken back to end the program: the periods until the client closes
    // play silence and are no dropouts.
    if (!runner) state.m_Started.store(false);
    state.m_Runner.store(runner, std::memory_order_release);
}

void JackDevice::Read(short *mono, int frames)
{
    JackState &state = *m_State;
    if (!state.m_InRing || jack_ringbuffer_read_space(state.m_InRing) < frames * sizeof(float)) {
        std::fill(mono, mono + frames, static_cast<short>(0));
        return;
    }
    float chunk[Chunk];
    for (int done = 0; done < frames;) {
        int step = std::min(Chunk, frames - done);
        jack_ringbuffer_read(state.m_InRing, reinterpret_cast<char *>(chunk), step * sizeof(float));
        for (int i = 0; i < step; i++) {
            // The program never holds -32768.
            float value = std::nearbyint(chunk[i] * 32768.0f);
            mono[done + i] = static_cast<short>(std::max(-32767.0f, std::min(32767.0f, value)));
        }
        done += step;
    }
}

int JackDevice::ReadMidi(unsigned char *bytes, int size)
{
    JackState &state = *m_State;
    if (!state.m_MidiRing || !state.m_Client || state.m_Lost.load()) return -1;
    return static_cast<int>(jack_ringbuffer_read(state.m_MidiRing, reinterpret_cast<char *>(bytes),
                                                 static_cast<size_t>(std::max(size, 0))));
}

int64_t JackDevice::Dropouts() const
{
    return m_State->m_Dropouts.load() + m_State->m_LostBlocks.load();
}

int64_t JackDevice::LostBlocks() const
{
    return m_State->m_LostBlocks.load();
}

int64_t JackDevice::Xruns() const
{
    return m_State->m_Xruns.load();
}

int JackDevice::RoundTripFrames() const
{
    // The rings hold the target between them; the plug-in hands a block on a
    // cycle later.
    const JackState &state = *m_State;
    if (!state.m_Client) return 0;
    // Made in the callback, a block takes the input of its own period.
    if (state.m_Runner.load()) return CallbackRoundTripFrames();
    return state.PortLatency() + static_cast<int>(state.m_Target.load()) + state.m_Block;
}

int JackDevice::CallbackRoundTripFrames() const
{
    const JackState &state = *m_State;
    if (!state.m_Client || state.m_Block < 1) return 0;
    return state.PortLatency() + static_cast<int>(CallbackPrefill(state.m_Period.load(), state.m_Block));
}

int JackDevice::CallbackOutputFrames() const
{
    const JackState &state = *m_State;
    if (!state.m_Client || state.m_Block < 1) return 0;
    const int period = state.m_Period.load(), block = state.m_Block;
    // Several blocks of one period are made at once: on average half the
    // period less the block before their time.
    const int together = period > block ? (period - block) / 2 : 0;
    return state.m_PlaybackLatency.load() + static_cast<int>(CallbackPrefill(period, block)) + together;
}

int JackDevice::PeriodFrames() const
{
    return m_State->m_Period;
}
