#include "Sync/JackTransportSync.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

// A timebase master's report for the transport frame, its ticks whole as
// JACK's are.
TransportPosition At(int64_t engineFrame, int64_t transportFrame, double bpm, bool rolling)
{
    const double beat = transportFrame / (44100 * 60.0 / bpm);
    TransportPosition at;
    at.m_Rolling = rolling;
    at.m_HasBar = true;
    at.m_Bpm = bpm;
    at.m_BeatsPerBar = 4;
    at.m_Bar = static_cast<int>(beat / 4) + 1;
    at.m_Beat = static_cast<int>(std::fmod(beat, 4)) + 1;
    at.m_Tick = std::floor((beat - std::floor(beat)) * 1920);
    at.m_Frame = engineFrame;
    return at;
}

TEST(JackTransportSyncTest, FollowsTempoBarsLocateAndStopWithAGridThatHoldsStillBetween)
{
    JackTransportSync sync;
    TempoMap map(120, 3, 44100);
    bool running = false;
    EXPECT_FALSE(sync.Follow(0, 256, map, running)) << "nothing heard yet";
    TransportPosition none;
    sync.Note(none);
    EXPECT_FALSE(sync.Follow(0, 256, map, running)) << "no timebase master: no grid";

    // Rolling from bar 1 at engine frame 1000: within a bar the origin is
    // on it and stays there while the whole ticks come in.
    std::set<int64_t> origins;
    for (int p = 0; p < 800; p++) {
        sync.Note(At(1000 + p * 256, p * 256, 100, true));
        ASSERT_TRUE(sync.Follow(0, 256, map, running));
        if (p >= 400) origins.insert(map.m_Origin);
    }
    EXPECT_TRUE(running);
    EXPECT_EQ(map.m_Bpm, 100);
    EXPECT_EQ(map.m_BeatsPerBar, 4);
    ASSERT_EQ(origins.size(), 1u);
    EXPECT_NEAR(*origins.begin(), 1000, 1);

    // A locate to bar 9 (transport frame 8 bars on) at engine frame 200000.
    const int64_t bar9 = std::llround(8 * 4 * 26460.0);
    sync.Note(At(200000, bar9, 100, true));
    sync.Follow(0, 256, map, running);
    EXPECT_NEAR(map.m_Origin, 200000 - bar9, 1);

    // Stopped: the position stands still, the grid keeps its bar line.
    const int64_t kept = map.m_Origin;
    for (int p = 0; p < 10; p++) {
        sync.Note(At(300000 + p * 256, bar9 + 5000, 100, false));
        sync.Follow(0, 256, map, running);
    }
    EXPECT_FALSE(running);
    EXPECT_EQ(map.m_Origin, kept);

    // A new tempo is followed at once.
    sync.Note(At(400000, 0, 140, true));
    sync.Follow(0, 256, map, running);
    EXPECT_EQ(map.m_Bpm, 140);
    EXPECT_NEAR(map.m_Origin, 400000, 1);
}
