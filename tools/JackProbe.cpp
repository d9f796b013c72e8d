// A JACK client that plays a known signal into KorvelLoops' input and records
// what KorvelLoops plays, for the system tests and the latency figure.
//
//     korvel-jack-probe <seconds> <output.raw> tone <frequency> <amplitude>
//     korvel-jack-probe <seconds> <output.raw> click <every frames> <amplitude>
//
// Waits (at most 20 s) for KorvelLoops' ports, connects to them, plays the
// signal (amplitude: fraction of full scale) and writes the program's output
// as raw signed 16-bit stereo, value = round(sample x 32768), from the first
// period after connecting, for the given seconds.

#include <jack/jack.h>
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
    jack_port_t *tone, *left, *right;
    jack_ringbuffer_t *ring;
    bool click;
    double frequency, amplitude;
    long every;
    long frame = 0;
    std::atomic<bool> connected{false};
    std::atomic<long> lost{0};
};

int Process(jack_nframes_t frames, void *arg)
{
    Probe *probe = static_cast<Probe *>(arg);
    float *tone = static_cast<float *>(jack_port_get_buffer(probe->tone, frames));
    const float *left = static_cast<const float *>(jack_port_get_buffer(probe->left, frames));
    const float *right = static_cast<const float *>(jack_port_get_buffer(probe->right, frames));
    if (!probe->connected.load()) {
        std::fill(tone, tone + frames, 0.0f);
        return 0;
    }
    for (jack_nframes_t i = 0; i < frames; i++, probe->frame++) {
        if (probe->click)
            tone[i] = probe->frame % probe->every == 0 ? static_cast<float>(probe->amplitude) : 0.0f;
        else
            tone[i] = static_cast<float>(probe->amplitude *
                                         std::sin(2 * M_PI * probe->frequency * probe->frame / 44100.0));
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

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <seconds> <output.raw> tone|click <frequency|every> <amplitude>\n",
                     argv[0]);
        return 2;
    }
    Probe probe;
    const double seconds = std::atof(argv[1]);
    probe.click = std::strcmp(argv[3], "click") == 0;
    probe.frequency = std::atof(argv[4]);
    probe.every = std::max(1L, std::atol(argv[4]));
    probe.amplitude = std::atof(argv[5]);

    // Names of its own: a client named like one on another server (another
    // test run's) would unlink that one's sockets in /dev/shm.
    const std::string self = "KorvelProbe-" + std::to_string(getpid());
    const char *program = std::getenv("KORVEL_JACK_CLIENT");
    const std::string loops = program && *program ? program : "KorvelLoops";
    jack_status_t status;
    jack_client_t *client = jack_client_open(self.c_str(), JackNoStartServer, &status);
    if (!client) {
        std::fprintf(stderr, "probe: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
        return 1;
    }
    probe.tone = jack_port_register(client, "tone", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    probe.left = jack_port_register(client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    probe.right = jack_port_register(client, "right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    probe.ring = jack_ringbuffer_create(8 * 44100 * sizeof(float));
    jack_set_process_callback(client, Process, &probe);
    if (jack_activate(client) != 0) return 1;

    // The ports appear before their client is active, and a connection to
    // an inactive client is refused: try again until all three hold.
    const std::string pairs[3][2] = {{self + ":tone", loops + ":input"},
                                     {loops + ":left", self + ":left"},
                                     {loops + ":right", self + ":right"}};
    bool connected = false;
    for (int tries = 0; tries < 400 && !connected; tries++) {
        connected = true;
        for (const auto &pair : pairs) {
            int result = jack_connect(client, pair[0].c_str(), pair[1].c_str());
            connected = connected && (result == 0 || result == EEXIST);
        }
        if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!connected) {
        std::fprintf(stderr, "probe: %s's ports did not appear\n", loops.c_str());
        return 1;
    }
    probe.connected = true;

    std::FILE *out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    const long wanted = static_cast<long>(seconds * 44100);
    long written = 0;
    while (written < wanted) {
        float pair[2];
        if (jack_ringbuffer_read_space(probe.ring) < sizeof pair) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        jack_ringbuffer_read(probe.ring, reinterpret_cast<char *>(pair), sizeof pair);
        short frame[2] = {ToShort(pair[0]), ToShort(pair[1])};
        std::fwrite(frame, sizeof frame, 1, out);
        written++;
    }
    std::fclose(out);
    jack_client_close(client);
    if (probe.lost.load()) std::fprintf(stderr, "probe: %ld frames lost\n", probe.lost.load());
    return probe.lost.load() ? 1 : 0;
}
