// Where the whole program's beats sound against another Link peer's, for the
// README's figures (tools/link_output.sh runs it):
//
//     korvel-link-output <bpm> <seconds> <click port> [quantum]
//
// Is a Link peer (proposes the tempo once another peer is there and starts
// the session's transport) and a JACK client that listens to the program's
// metronome. Each click is taken at its first frame (the click starts from
// zero, so one frame before its first sample that is not), placed at the
// host time JACK plays that frame (the cycle's start, the frame's place in
// it and the playback latency of the first physical output) and compared with
// this peer's beat at that time. Clicks in the first 10 s are not counted.

#include "LinkProposer.h"

#include <ableton/Link.hpp>
#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

struct Click
{
    double m_JackMicros; // when it sounds, by JACK's clock
    float m_First;       // its first sample that is not zero: tells accents
};

struct Probe
{
    jack_client_t *m_Client = nullptr;
    jack_port_t *m_Port = nullptr;
    jack_ringbuffer_t *m_Ring = nullptr;
    double m_LatencyMicros = 0;
    long m_Silent = 0;
    std::atomic<int> m_Xruns{0};
};

int Xrun(void *arg)
{
    static_cast<Probe *>(arg)->m_Xruns++;
    return 0;
}

int Process(jack_nframes_t frames, void *arg)
{
    Probe *probe = static_cast<Probe *>(arg);
    const float *in = static_cast<const float *>(jack_port_get_buffer(probe->m_Port, frames));
    jack_nframes_t cycleFrame;
    jack_time_t cycleMicros, nextMicros;
    float periodMicros;
    if (jack_get_cycle_times(probe->m_Client, &cycleFrame, &cycleMicros, &nextMicros, &periodMicros) != 0)
        return 0;
    const double perFrame = static_cast<double>(nextMicros - cycleMicros) / frames;
    for (jack_nframes_t i = 0; i < frames; i++) {
        if (in[i] == 0) {
            probe->m_Silent++;
            continue;
        }
        // A click is 30 ms; 50 ms of silence before one starts it.
        if (probe->m_Silent > 2000) {
            const Click click{cycleMicros + (i - 1.0) * perFrame + probe->m_LatencyMicros, in[i]};
            if (jack_ringbuffer_write_space(probe->m_Ring) >= sizeof click)
                jack_ringbuffer_write(probe->m_Ring, reinterpret_cast<const char *>(&click), sizeof click);
        }
        probe->m_Silent = 0;
    }
    return 0;
}

// Link's clock less JACK's, read between two readings of the one as close
// together as the machine gives.
double ClockOffset(const ableton::Link &link)
{
    double best = 1e18, offset = 0;
    for (int i = 0; i < 20; i++) {
        const double before = static_cast<double>(link.clock().micros().count());
        const double jack = static_cast<double>(jack_get_time());
        const double after = static_cast<double>(link.clock().micros().count());
        if (after - before < best) {
            best = after - before;
            offset = (before + after) / 2 - jack;
        }
    }
    return offset;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: korvel-link-output <bpm> <seconds> <click port> [quantum]\n");
        return 2;
    }
    const double bpm = std::atof(argv[1]), seconds = std::atof(argv[2]);
    const double quantum = argc > 4 ? std::atof(argv[4]) : 4;
    Probe probe;
    jack_status_t status;
    probe.m_Client = jack_client_open("link-output", JackNoStartServer, &status);
    if (!probe.m_Client) {
        std::fprintf(stderr, "korvel-link-output: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
        return 1;
    }
    const int rate = static_cast<int>(jack_get_sample_rate(probe.m_Client));
    probe.m_Port = jack_port_register(probe.m_Client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    probe.m_Ring = jack_ringbuffer_create(1 << 16);
    // The program's output is heard after the system's playback latency.
    if (const char **ports = jack_get_ports(probe.m_Client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsPhysical | JackPortIsInput)) {
        jack_latency_range_t range;
        jack_port_get_latency_range(jack_port_by_name(probe.m_Client, ports[0]), JackPlaybackLatency, &range);
        probe.m_LatencyMicros = range.max * 1e6 / rate;
        jack_free(ports);
    }
    jack_set_process_callback(probe.m_Client, Process, &probe);
    jack_set_xrun_callback(probe.m_Client, Xrun, &probe);
    if (!probe.m_Port || jack_activate(probe.m_Client) != 0 ||
        jack_connect(probe.m_Client, argv[3], jack_port_name(probe.m_Port)) != 0) {
        std::fprintf(stderr, "korvel-link-output: cannot listen to %s\n", argv[3]);
        return 1;
    }

    ableton::Link link(bpm);
    link.enableStartStopSync(true);
    link.enable(true);
    LinkProposer proposer(bpm, quantum);
    std::vector<Click> heard;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    double offset = ClockOffset(link), worstMs = 0, sumMs = 0, maxFirst = 0;
    std::vector<std::pair<double, double>> beats; // (beat, Link micros) of each counted click
    std::vector<double> phases, sizes;
    while (std::chrono::steady_clock::now() < end) {
        proposer.Poll(link);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        offset = ClockOffset(link);
        Click click;
        while (jack_ringbuffer_read_space(probe.m_Ring) >= sizeof click) {
            jack_ringbuffer_read(probe.m_Ring, reinterpret_cast<char *>(&click), sizeof click);
            if (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) continue;
            const auto state = link.captureAppSessionState();
            const double at = click.m_JackMicros + offset;
            const std::chrono::microseconds when(std::llround(at));
            const double beat = state.beatAtTime(when, quantum);
            const double ms = (beat - std::round(beat)) * 60000 / state.tempo();
            worstMs = std::max(worstMs, std::fabs(ms));
            sumMs += ms;
            sizes.push_back(std::fabs(ms));
            beats.emplace_back(std::round(beat), at);
            phases.push_back(std::fmod(std::round(state.phaseAtTime(when, quantum)), quantum));
            heard.push_back(click);
            maxFirst = std::max(maxFirst, static_cast<double>(std::fabs(click.m_First)));
        }
    }
    const auto state = link.captureAppSessionState();
    jack_client_close(probe.m_Client);
    if (beats.size() < 3) {
        std::fprintf(stderr, "korvel-link-output: %zu clicks heard\n", beats.size());
        return 1;
    }
    // Accents fall on the session's bar.
    size_t accents = 0, onBar = 0;
    for (size_t i = 0; i < heard.size(); i++) {
        if (std::fabs(heard[i].m_First) < 0.7 * maxFirst) continue;
        accents++;
        onBar += phases[i] == 0;
    }
    // The clicks' own tempo: a line through their times against their beats.
    double sb = 0, st = 0, sbb = 0, sbt = 0;
    const double n = static_cast<double>(beats.size()), b0 = beats[0].first, t0 = beats[0].second;
    for (const auto &[b, t] : beats) {
        sb += b - b0;
        st += t - t0;
        sbb += (b - b0) * (b - b0);
        sbt += (b - b0) * (t - t0);
    }
    const double microsPerBeat = (n * sbt - sb * st) / (n * sbb - sb * sb);
    std::sort(sizes.begin(), sizes.end());
    const size_t over = static_cast<size_t>(sizes.end() - std::upper_bound(sizes.begin(), sizes.end(), 1.0));
    std::printf("link output: %zu clicks over %.0f s, at %d Hz: apart from the peer's beat mean %.4f ms, median "
                "%.4f ms, worst %.4f ms, %zu over 1 ms; %zu of %zu accents on its bar; tempo of the clicks %.5f "
                "BPM, the session's %.5f; the server reported %d xruns\n",
                beats.size(), (beats.back().second - beats.front().second) / 1e6, rate, sumMs / n,
                sizes[sizes.size() / 2], worstMs, over, onBar, accents, 60e6 / microsPerBeat, state.tempo(),
                probe.m_Xruns.load());
    return 0;
}
