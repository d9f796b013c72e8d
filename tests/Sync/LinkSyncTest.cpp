// Against a second Link peer of our own (tools/LinkPeer.cpp). Link finds its
// peers by multicast on every interface that is up, so ctest runs this in a
// network namespace of its own where only the loopback interface is.

#include "Sync/LinkSync.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <random>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool OnlyLoopbackUp()
{
    ifaddrs *all = nullptr;
    if (getifaddrs(&all) != 0) return false;
    bool only = true;
    for (ifaddrs *i = all; i; i = i->ifa_next)
        if ((i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK)) only = false;
    freeifaddrs(all);
    return only;
}

// One of the peer's lines: host time, tempo, beat, phase, peers, playing and
// its transport's start time.
struct PeerLine
{
    double m_Micros, m_Tempo, m_Beat, m_Phase, m_Peers, m_Playing, m_Start;
};

// The peer, its lines read as it prints them; ended on every way out.
class Peer
{
public:
    explicit Peer(const char *bpm)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        const pid_t parent = getpid();
        m_Pid = fork();
        if (m_Pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            dup2(fds[1], 1);
            execl(KORVEL_LINK_PEER, KORVEL_LINK_PEER, bpm, "60", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        m_Out = fdopen(fds[0], "r");
    }
    ~Peer()
    {
        if (m_Pid > 0) kill(m_Pid, SIGKILL), waitpid(m_Pid, nullptr, 0);
        if (m_Out) fclose(m_Out);
    }
    // The first line for which wanted is true, within the seconds.
    template <typename Wanted> bool Next(PeerLine &l, double seconds, Wanted wanted)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        pollfd fd{m_Out ? fileno(m_Out) : -1, POLLIN, 0};
        while (m_Out && std::chrono::steady_clock::now() < end)
            if (poll(&fd, 1, 100) > 0) {
                if (std::fscanf(m_Out, "%lf %lf %lf %lf %lf %lf %lf", &l.m_Micros, &l.m_Tempo, &l.m_Beat,
                                &l.m_Phase, &l.m_Peers, &l.m_Playing, &l.m_Start) != 7)
                    return false;
                if (wanted(l)) return true;
            }
        return false;
    }

private:
    pid_t m_Pid = -1;
    FILE *m_Out = nullptr;
};

constexpr int Rate = 48000;
constexpr int Block = 256;
constexpr int Latency = 1536; // 32 ms
constexpr double MicrosPerFrame = 1e6 / Rate;

} // namespace

TEST(LinkSyncTest, SharesThePeersTempoAndBarWithinAMillisecondStartsOnTheNextBarAndProposesTempo)
{
    ASSERT_TRUE(OnlyLoopbackUp()) << "Link would go out on the network: run this through ctest, which "
                                     "gives it a network namespace with only the loopback interface";
    Peer peer("97");
    LinkSync sync;
    sync.SetOutput(Rate, Latency);
    sync.Enable(true);
    PeerLine line;
    ASSERT_TRUE(peer.Next(line, 20, [](const PeerLine &l) { return l.m_Peers > 0 && l.m_Playing; }))
        << "the peers never met";
    // A line from when the session's tempo had settled on the peer's.
    ASSERT_TRUE(peer.Next(line, 5, [](const PeerLine &) { return true; }));
    ASSERT_NEAR(line.m_Tempo, 97, 1e-3);

    // Blocks as an audio thread woken up to 2 ms early or late makes them;
    // the block starting at frame f sounds at base + f / rate + latency.
    const double base = line.m_Micros - Latency * MicrosPerFrame - 300 * Block * MicrosPerFrame;
    std::mt19937 random(23);
    std::uniform_real_distribution<double> jitter(-2000, 2000);
    TempoMap map;
    bool running = false;
    double worstMs = 0;
    for (int64_t b = 0, frame = 0; b < 400; b++, frame += Block) {
        const double made = base + frame * MicrosPerFrame;
        ASSERT_TRUE(sync.FollowAt(frame, Block, std::llround(made + jitter(random)), map, running));
        if (b < 300) continue;
        // The peer's phase where the block sounds: its timeline is a straight line at one tempo.
        const double heard = made + Latency * MicrosPerFrame;
        const double peerPhase = line.m_Phase + (heard - line.m_Micros) * line.m_Tempo / 60e6;
        const double apart = std::remainder(map.BeatAt(frame) - peerPhase, 4) * 60000 / line.m_Tempo;
        worstMs = std::max(worstMs, std::fabs(apart));
    }
    EXPECT_LT(worstMs, 1.0);
    EXPECT_NEAR(map.m_Bpm, line.m_Tempo, 1e-3);

    // The peer started its transport at line.m_Start: this side runs from
    // the block holding the first bar line after that, not before.
    const double startPhase = line.m_Phase - (line.m_Micros - line.m_Start) * line.m_Tempo / 60e6;
    const double barMicros = line.m_Start + std::fmod(8 - std::fmod(startPhase, 4), 4) * 60e6 / line.m_Tempo;
    const int64_t first = 1000000; // frames go on; the clock starts afresh with the jump back in time
    const double startBase = barMicros - Latency * MicrosPerFrame - (first + 40.5 * Block) * MicrosPerFrame;
    for (int64_t b = 0, frame = first; b < 60; b++, frame += Block) {
        ASSERT_TRUE(
            sync.FollowAt(frame, Block, std::llround(startBase + frame * MicrosPerFrame), map, running));
        if (b >= 10) {
            EXPECT_EQ(running, b >= 40) << "block " << b;
        }
    }

    sync.SetTempo(140);
    EXPECT_TRUE(peer.Next(line, 5, [](const PeerLine &l) { return std::fabs(l.m_Tempo - 140) < 1e-3; }))
        << "the peer kept " << line.m_Tempo << " BPM";
}
