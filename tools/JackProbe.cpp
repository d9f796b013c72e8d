// A JACK client that plays a known signal into KorvelLoops' input and records
// what KorvelLoops plays, for the system tests and the latency figures.
//
//     korvel-jack-probe <seconds> <output.raw> tone <frequency> <amplitude>
//     korvel-jack-probe <seconds> <output.raw> click <every frames> <amplitude>
//     korvel-jack-probe <seconds> <output.raw> midi <every frames> <note>
//     korvel-jack-probe <seconds> <output.raw> echo <extra frames> <amplitude>
//                       <threshold> <from s> <to s>
//
// Waits (at most 20 s) for KorvelLoops' ports, connects to them, plays the
// signal (amplitude: fraction of full scale) and writes the program's output
// as raw signed 16-bit stereo, value = round(sample x 32768), for the given
// seconds. "midi" sends a note-on of the note (channel 1) into
// KorvelLoops:midi_in at every multiple of the frames but 0, and its note-off
// half way to the next. Frame n of the file is the output JACK played in the
// same frame as the probe's sample (or MIDI event) n: the probe plays from one
// client and records from another, so the graph runs it before KorvelLoops and
// after it, and no period of a feedback path is counted.
//
// "echo" is a performer who plays along with a known delay: for each click
// it hears at KorvelLoops:left (a rise to the threshold; then deaf for a tenth
// of a second past the answer, so a click or its own monitored answer does
// not count twice) in file frames [from, to), it plays one click of the
// amplitude into KorvelLoops:input E frames later, E = one period (the
// sender's next cycle is the earliest it can play) + the extra frames. It
// tells JACK so, as the capture latency of its output, and says on stderr
// each click it hears: "probe: click at <file frame>[ echoed]".

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

struct Probe
{
    jack_client_t *sender = nullptr, *recorder = nullptr;
    jack_port_t *tone = nullptr, *midi = nullptr, *left = nullptr, *right = nullptr;
    jack_ringbuffer_t *ring = nullptr;
    bool click = false, notes = false, echo = false;
    double frequency = 0, amplitude = 0;
    long every = 1;
    int note = 0;
    long frame = 0;
    std::atomic<bool> connected{false}, recording{false}, sending{false};
    // The cycle (JACK's frame time) each side started in.
    std::atomic<jack_nframes_t> recordStart{0}, sendStart{0};
    std::atomic<long> lost{0};
    // Echo mode; the window and the last click in file frames, the rest in
    // JACK's frames. The recorder hands the answer's frame to the sender.
    float threshold = 1, previous = 0;
    long delay = 0, from = 0, to = 0, deaf = 0, lastClick = -(1L << 40);
    jack_nframes_t nextStart = 0;
    bool hearing = false;
    std::atomic<long> heard{-1};
    std::atomic<bool> answering{false};
    std::atomic<jack_nframes_t> answerAt{0};
};

// The answer, played in the cycle that holds its frame.
void SendEcho(Probe *probe, float *tone, jack_nframes_t frames)
{
    if (!probe->answering.load()) return;
    const int32_t at = static_cast<int32_t>(probe->answerAt.load() - jack_last_frame_time(probe->sender));
    if (at >= static_cast<int32_t>(frames)) return;
    if (at >= 0)
        tone[at] = static_cast<float>(probe->amplitude);
    else
        probe->lost++;
    probe->answering = false;
}

void HearClicks(Probe *probe, const float *left, jack_nframes_t frames)
{
    const jack_nframes_t start = jack_last_frame_time(probe->recorder);
    // A cycle JACK left out (an xrun) is missing from the file too, whose
    // frames then no longer count JACK's.
    if (probe->hearing && start != probe->nextStart) probe->lost++;
    probe->hearing = true;
    probe->nextStart = start + frames;
    for (jack_nframes_t i = 0; i < frames; i++) {
        const long frame = static_cast<int32_t>(start + i - probe->sendStart.load());
        const bool rises = left[i] >= probe->threshold && probe->previous < probe->threshold;
        probe->previous = left[i];
        if (!rises || frame - probe->lastClick < probe->deaf) continue;
        probe->lastClick = frame;
        probe->heard = frame;
        if (frame < probe->from || frame >= probe->to) continue;
        if (probe->answering.load()) probe->lost++; // one answer at a time
        probe->answerAt = start + i + static_cast<jack_nframes_t>(probe->delay);
        probe->answering = true;
    }
}

// KorvelLoops reads the performer's delay from its input port.
void ReportLatency(jack_latency_callback_mode_t mode, void *arg)
{
    Probe *probe = static_cast<Probe *>(arg);
    if (mode != JackCaptureLatency) return;
    jack_latency_range_t range = {static_cast<jack_nframes_t>(probe->delay),
                                  static_cast<jack_nframes_t>(probe->delay)};
    jack_port_set_latency_range(probe->tone, JackCaptureLatency, &range);
}

void SendNotes(Probe *probe, jack_nframes_t frames)
{
    void *buffer = jack_port_get_buffer(probe->midi, frames);
    jack_midi_clear_buffer(buffer);
    if (!probe->sending.load()) return;
    for (jack_nframes_t i = 0; i < frames; i++) {
        const long f = probe->frame + i;
        const bool on = f > 0 && f % probe->every == 0,
                   off = f > probe->every && f % probe->every == probe->every / 2;
        if (!on && !off) continue;
        const jack_midi_data_t event[3] = {static_cast<jack_midi_data_t>(on ? 0x90 : 0x80),
                                           static_cast<jack_midi_data_t>(probe->note),
                                           static_cast<jack_midi_data_t>(on ? 100 : 0)};
        if (jack_midi_event_write(buffer, i, event, sizeof event) != 0) probe->lost++;
    }
}

int Send(jack_nframes_t frames, void *arg)
{
    Probe *probe = static_cast<Probe *>(arg);
    float *tone = static_cast<float *>(jack_port_get_buffer(probe->tone, frames));
    std::fill(tone, tone + frames, 0.0f);
    // The recorder starts first, so the file holds the output of the probe's
    // first frame.
    if (probe->recording.load() && !probe->sending.load()) {
        probe->sendStart = jack_last_frame_time(probe->sender);
        probe->sending = true;
    }
    if (probe->notes) SendNotes(probe, frames);
    if (!probe->sending.load()) return 0;
    if (probe->echo) SendEcho(probe, tone, frames);
    for (jack_nframes_t i = 0; !probe->notes && !probe->echo && i < frames; i++) {
        const long f = probe->frame + i;
        if (probe->click)
            tone[i] = f % probe->every == 0 ? static_cast<float>(probe->amplitude) : 0.0f;
        else
            tone[i] =
                static_cast<float>(probe->amplitude * std::sin(2 * M_PI * probe->frequency * f / 44100.0));
    }
    probe->frame += frames;
    return 0;
}

int Record(jack_nframes_t frames, void *arg)
{
    Probe *probe = static_cast<Probe *>(arg);
    const float *left = static_cast<const float *>(jack_port_get_buffer(probe->left, frames));
    const float *right = static_cast<const float *>(jack_port_get_buffer(probe->right, frames));
    if (!probe->connected.load()) return 0;
    if (!probe->recording.load()) {
        probe->recordStart = jack_last_frame_time(probe->recorder);
        probe->recording = true;
    }
    if (probe->echo && probe->sending.load()) HearClicks(probe, left, frames);
    for (jack_nframes_t i = 0; i < frames; i++) {
        float pair[2] = {left[i], right[i]};
        if (jack_ringbuffer_write_space(probe->ring) >= sizeof pair)
            jack_ringbuffer_write(probe->ring, reinterpret_cast<const char *>(pair), sizeof pair);
        else
            probe->lost++;
    }
    return 0;
}

short ToShort(float value)
{
    return static_cast<short>(std::max(-32768.0f, std::min(32767.0f, std::nearbyint(value * 32768.0f))));
}

jack_client_t *Open(const std::string &name)
{
    jack_status_t status;
    jack_client_t *client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client) std::fprintf(stderr, "probe: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
    return client;
}

// Reads a frame of the recording, waiting for it; false if none came in 5 s.
bool ReadFrame(Probe &probe, float pair[2])
{
    for (int waits = 0; jack_ringbuffer_read_space(probe.ring) < 2 * sizeof(float); waits++) {
        if (waits == 1000) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    jack_ringbuffer_read(probe.ring, reinterpret_cast<char *>(pair), 2 * sizeof(float));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Probe probe;
    probe.echo = argc > 3 && std::strcmp(argv[3], "echo") == 0;
    if (argc != (probe.echo ? 9 : 6)) {
        std::fprintf(
            stderr,
            "usage: %s <seconds> <output.raw> tone|click|midi <frequency|every> <amplitude|note>\n"
            "       %s <seconds> <output.raw> echo <extra frames> <amplitude> <threshold> <from s> <to s>\n",
            argv[0], argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    probe.click = std::strcmp(argv[3], "click") == 0;
    probe.notes = std::strcmp(argv[3], "midi") == 0;
    probe.frequency = std::atof(argv[4]);
    probe.note = std::atoi(argv[5]) & 0x7f;
    probe.every = std::max(2L, std::atol(argv[4]));
    probe.amplitude = std::atof(argv[5]);
    if (probe.echo) {
        probe.threshold = static_cast<float>(std::atof(argv[6]));
        probe.from = std::lround(std::atof(argv[7]) * 44100);
        probe.to = std::lround(std::atof(argv[8]) * 44100);
    }

    // Names of its own: a client named like one on another server (another
    // test run's) would unlink that one's sockets in /dev/shm.
    const std::string self = "KorvelProbe-" + std::to_string(getpid());
    const std::string ear = "KorvelProbeRec-" + std::to_string(getpid());
    const char *program = std::getenv("KORVEL_JACK_CLIENT");
    const std::string loops = program && *program ? program : "KorvelLoops";
    probe.sender = Open(self);
    probe.recorder = probe.sender ? Open(ear) : nullptr;
    if (!probe.recorder) return 1;
    probe.delay = static_cast<long>(jack_get_buffer_size(probe.sender)) + std::max(0L, std::atol(argv[4]));
    probe.deaf = probe.delay + 4410;
    probe.tone = jack_port_register(probe.sender, "tone", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    probe.midi = jack_port_register(probe.sender, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    probe.left = jack_port_register(probe.recorder, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    probe.right = jack_port_register(probe.recorder, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    probe.ring = jack_ringbuffer_create(8 * 44100 * sizeof(float));
    jack_set_process_callback(probe.sender, Send, &probe);
    jack_set_process_callback(probe.recorder, Record, &probe);
    if (probe.echo) jack_set_latency_callback(probe.sender, ReportLatency, &probe);
    if (jack_activate(probe.sender) != 0 || jack_activate(probe.recorder) != 0) return 1;

    // The ports appear before their client is active, and a connection to
    // an inactive client is refused: try again until all hold.
    const std::string pairs[4][2] = {{loops + ":left", ear + ":left"},
                                     {loops + ":right", ear + ":right"},
                                     {self + ":tone", loops + ":input"},
                                     {self + ":midi", loops + ":midi_in"}};
    const int wanted = probe.notes ? 4 : 3;
    bool connected = false;
    for (int tries = 0; tries < 400 && !connected; tries++) {
        connected = true;
        for (int i = 0; i < wanted; i++) {
            int result = jack_connect(probe.sender, pairs[i][0].c_str(), pairs[i][1].c_str());
            connected = connected && (result == 0 || result == EEXIST);
        }
        if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!connected) {
        std::fprintf(stderr, "probe: %s's ports did not appear\n", loops.c_str());
        return 1;
    }
    probe.connected = true;
    if (probe.echo) jack_recompute_total_latencies(probe.sender);

    std::FILE *out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    for (int waits = 0; !probe.sending.load() && waits < 1000; waits++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // What was recorded before the probe's first frame is left out.
    long skip = static_cast<jack_nframes_t>(probe.sendStart.load() - probe.recordStart.load());
    const long frames = static_cast<long>(seconds * 44100);
    bool flowing = probe.sending.load();
    float pair[2];
    for (; flowing && skip > 0; skip--)
        flowing = ReadFrame(probe, pair);
    for (long written = 0, told = -1; flowing && written < frames; written++) {
        flowing = ReadFrame(probe, pair);
        const long heard = probe.heard.load();
        if (heard != told && heard <= written) {
            told = heard;
            std::fprintf(stderr, "probe: click at %ld%s\n", heard,
                         heard >= probe.from && heard < probe.to ? " echoed" : "");
        }
        short frame[2] = {ToShort(pair[0]), ToShort(pair[1])};
        if (flowing) std::fwrite(frame, sizeof frame, 1, out);
    }
    std::fclose(out);
    jack_client_close(probe.recorder);
    jack_client_close(probe.sender);
    if (!flowing) std::fprintf(stderr, "probe: JACK stopped calling\n");
    if (probe.lost.load()) std::fprintf(stderr, "probe: %ld frames or events lost\n", probe.lost.load());
    return probe.lost.load() || !flowing ? 1 : 0;
}
