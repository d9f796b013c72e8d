// A second Ableton Link peer for the tests and the README's figures:
//
//     korvel-link-peer <bpm> <seconds> [quantum]
//
// joins the session, proposes the tempo (0 leaves the session's), starts the
// session's transport, and every half second prints one line
//
//     <host micros> <tempo> <beat> <phase> <peers> <playing> <start micros>
//
// read at a host time it chose itself (Link's clock), so a reader can ask
// its own Link peer for the same instant. Quits after the seconds.

#include "LinkProposer.h"

#include <ableton/Link.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: korvel-link-peer <bpm> <seconds> [quantum]\n");
        return 2;
    }
    const double bpm = std::atof(argv[1]);
    const double seconds = std::atof(argv[2]);
    const double quantum = argc > 3 ? std::atof(argv[3]) : 4;
    ableton::Link link(bpm > 0 ? bpm : 120);
    link.enableStartStopSync(true);
    link.enable(true);
    LinkProposer proposer(bpm, quantum);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        proposer.Poll(link);
        const auto state = link.captureAppSessionState();
        const auto at = link.clock().micros();
        std::printf("%lld %.6f %.6f %.6f %zu %d %lld\n", static_cast<long long>(at.count()), state.tempo(),
                    state.beatAtTime(at, quantum), state.phaseAtTime(at, quantum), link.numPeers(),
                    state.isPlaying() ? 1 : 0, static_cast<long long>(state.timeForIsPlaying().count()));
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return 0;
}
