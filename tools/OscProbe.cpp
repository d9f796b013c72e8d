// Measures the program's OSC server from outside, for the figures in the
// README:
//
//     korvel-osc-probe <osc port> ping <count>
//         /ping round trips: least, median and most, in ms;
//     korvel-osc-probe <osc port> volume <count> <jack client>
//         the frames from "/sl/0/set wet 0" to the silence of loop 0 at
//         <jack client>:left (loop 0 plays a steady sound; between tries
//         "wet 1" brings it back);
//     korvel-osc-probe <osc port> flood <per second> <seconds>
//         "/sl/0/set wet" at that rate, the value moving between 0.5 and 1,
//         then a ping to see the program still answers.
//
// The probe's JACK client records in its own cycle, after the program's, so
// the figure holds no period of its own; JACK's playback latency comes on
// top on the way to the speakers.

#include <jack/jack.h>
#include <lo/lo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_Answered{false};

int Answered(const char *, const char *, lo_arg **, int, lo_message, void *)
{
    g_Answered = true;
    return 0;
}

struct Recorder
{
    jack_client_t *client = nullptr;
    jack_port_t *port = nullptr;
    std::vector<float> frames = std::vector<float>(44100 * 120);
    std::atomic<jack_nframes_t> start{0};
    std::atomic<bool> started{false};
};

int Record(jack_nframes_t count, void *data)
{
    Recorder *r = static_cast<Recorder *>(data);
    const jack_nframes_t now = jack_last_frame_time(r->client);
    if (!r->started) {
        r->start = now;
        r->started = true;
    }
    const float *in = static_cast<const float *>(jack_port_get_buffer(r->port, count));
    const size_t at = now - r->start;
    for (jack_nframes_t i = 0; i < count && at + i < r->frames.size(); i++)
        r->frames[at + i] = in[i];
    return 0;
}

bool Ping(lo_address to, lo_server me, const std::string &url, double &ms)
{
    g_Answered = false;
    const auto sent = Clock::now();
    lo_send(to, "/ping", "ss", url.c_str(), "/pong");
    while (!g_Answered && Clock::now() - sent < std::chrono::seconds(1))
        lo_server_recv_noblock(me, 1);
    ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    return g_Answered;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s <osc port> ping <count> | volume <count> <client> | flood <rate> <s>\n",
                     argv[0]);
        return 2;
    }
    lo_address to = lo_address_new("127.0.0.1", argv[1]);
    lo_server me = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    lo_server_add_method(me, "/pong", nullptr, Answered, nullptr);
    const std::string url = "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(me)) + "/";
    const std::string mode = argv[2];
    const int count = std::atoi(argv[3]);

    if (mode == "ping") {
        std::vector<double> times;
        for (int i = 0; i < count; i++) {
            double ms = 0;
            if (Ping(to, me, url, ms)) times.push_back(ms);
        }
        std::sort(times.begin(), times.end());
        if (times.empty()) return std::puts("ping: no answer"), 1;
        std::printf("ping: %zu of %d answered, round trip least %.3f ms, median %.3f ms, most %.3f ms\n",
                    times.size(), count, times.front(), times[times.size() / 2], times.back());
        return 0;
    }
    if (mode == "flood" && argc >= 5) {
        const double seconds = std::atof(argv[4]);
        const auto begin = Clock::now();
        long sent = 0;
        while (Clock::now() - begin < std::chrono::duration<double>(seconds)) {
            const double due = std::chrono::duration<double>(Clock::now() - begin).count() * count;
            for (; sent < due; sent++)
                lo_send(to, "/sl/0/set", "sf", "wet", 0.5f + 0.5f * (sent % 100) / 100.0f);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        double ms = 0;
        const bool alive = Ping(to, me, url, ms);
        std::printf("flood: %ld messages in %.1f s; then /ping %s (%.3f ms)\n", sent, seconds,
                    alive ? "answered" : "NOT answered", ms);
        return alive ? 0 : 1;
    }
    if (mode != "volume" || argc < 5) return std::puts("unknown mode"), 2;

    Recorder r;
    r.client = jack_client_open("korvel-osc-probe", JackNoStartServer, nullptr);
    if (!r.client) return std::puts("volume: no JACK server"), 1;
    r.port = jack_port_register(r.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(r.client, Record, &r);
    jack_activate(r.client);
    const std::string source = std::string(argv[4]) + ":left";
    if (jack_connect(r.client, source.c_str(), jack_port_name(r.port)) != 0)
        return std::printf("volume: cannot connect %s\n", source.c_str()), 1;
    std::vector<jack_nframes_t> sends;
    for (int i = 0; i < count; i++) {
        lo_send(to, "/sl/0/set", "sf", "wet", 1.0f);
        // A random moment within the period.
        std::this_thread::sleep_for(std::chrono::milliseconds(200 + std::rand() % 20));
        sends.push_back(jack_frame_time(r.client));
        lo_send(to, "/sl/0/set", "sf", "wet", 0.0f);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    jack_deactivate(r.client);
    std::vector<long> delays;
    for (jack_nframes_t sent : sends) {
        const size_t from = sent - r.start;
        // Silence: 64 frames in a row at zero (the loop's tone never is).
        for (size_t i = from, quiet = 0; i < r.frames.size() && i < from + 44100; i++) {
            quiet = r.frames[i] == 0 ? quiet + 1 : 0;
            if (quiet == 64) {
                delays.push_back(static_cast<long>(i - 63 - from));
                break;
            }
        }
    }
    jack_client_close(r.client);
    std::sort(delays.begin(), delays.end());
    if (delays.empty()) return std::puts("volume: the loop never fell silent"), 1;
    long sum = 0;
    for (long d : delays)
        sum += d;
    std::printf("volume: %zu of %d: message to silence at the port least %ld, mean %ld, most %ld frames\n",
                delays.size(), count, delays.front(), sum / static_cast<long>(delays.size()), delays.back());
    return 0;
}
