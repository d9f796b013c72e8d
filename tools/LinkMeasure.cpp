// How closely LinkSync's grid keeps to another Link peer's, for the README's
// figures:
//
//     korvel-link-peer 97 <seconds> | korvel-link-measure <period> <block> <latency>
//
// A thread stands in for the audio callback: woken by the host's timer every
// period (frames at 48000 Hz), it makes the period's blocks one after another
// and asks LinkSync for each, as the engine does on JACK. The period woken
// for at host time t sounds at t + latency. For each of the peer's lines
// (host time, tempo, phase) read from standard input, the grid's phase at
// the frame that sounds then is compared with the peer's. Run both in a
// network namespace with only the loopback interface up.

#include "Sync/LinkSync.h"

#include <ableton/Link.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <thread>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: korvel-link-measure <period> <block> <latency frames>\n");
        return 2;
    }
    const int rate = 48000, period = std::atoi(argv[1]), block = std::atoi(argv[2]);
    const int latency = std::atoi(argv[3]);
    if (period < block || block < 1 || period % block != 0) return 2;
    LinkSync sync;
    // Several blocks made at one wake-up: the middle one is made on time.
    sync.SetOutput(rate, latency + (period - block) / 2);
    sync.Enable(true);

    const ableton::Link::Clock clock;
    const double start = static_cast<double>(clock.micros().count()) + 100000;
    std::mutex lock;
    TempoMap shared;
    std::atomic<bool> done{false};
    std::thread audio([&] {
        TempoMap map;
        bool running = false;
        for (int64_t frame = 0; !done; frame += period) {
            const double wake = start + frame * 1e6 / rate;
            const double now = static_cast<double>(clock.micros().count());
            if (wake > now) std::this_thread::sleep_for(std::chrono::microseconds(std::llround(wake - now)));
            for (int b = 0; b < period; b += block)
                sync.Follow(frame + b, block, map, running);
            std::lock_guard<std::mutex> guard(lock);
            shared = map;
        }
    });
    // As JACK's callback runs, where the system allows it.
    sched_param realtime{};
    realtime.sched_priority = 70;
    const bool fifo = pthread_setschedparam(audio.native_handle(), SCHED_FIFO, &realtime) == 0;

    long long micros = 0, startMicros = 0;
    double tempo = 0, beat = 0, phase = 0, worstMs = 0, sumMs = 0, worstTempo = 0;
    int peers = 0, playing = 0, count = 0;
    while (std::scanf("%lld %lf %lf %lf %d %d %lld", &micros, &tempo, &beat, &phase, &peers, &playing,
                      &startMicros) == 7) {
        if (peers < 1 || micros < start + 2e6) continue; // settling
        TempoMap map;
        {
            std::lock_guard<std::mutex> guard(lock);
            map = shared;
        }
        const double frame = (micros - latency * 1e6 / rate - start) * rate / 1e6;
        double apart = std::fmod(map.BeatAt(static_cast<int64_t>(std::floor(frame))) +
                                     (frame - std::floor(frame)) / map.FramesPerBeat() - phase,
                                 4);
        if (apart > 2) apart -= 4;
        if (apart < -2) apart += 4;
        const double ms = std::fabs(apart) * 60000 / tempo;
        worstMs = std::max(worstMs, ms);
        sumMs += ms;
        worstTempo = std::max(worstTempo, std::fabs(map.m_Bpm - tempo));
        if (++count % 120 == 0)
            std::printf("%4.0f s: phase apart %.4f ms (worst %.4f), tempo apart %.6f BPM\n",
                        (micros - start) / 1e6, ms, worstMs, worstTempo);
        std::fflush(stdout);
    }
    done = true;
    audio.join();
    if (count == 0) {
        std::fprintf(stderr, "korvel-link-measure: no line from a peer in the session\n");
        return 1;
    }
    std::printf("%d readings over %.0f s (%s): phase apart mean %.4f ms, worst %.4f ms; tempo apart worst "
                "%.6f BPM\n",
                count, (micros - start) / 1e6, fifo ? "SCHED_FIFO" : "not realtime", sumMs / count, worstMs,
                worstTempo);
    return 0;
}
