#include "Sync/JackTransportSync.h"

#include <gtest/gtest.h>

#include <cmath>

// A master at 100 BPM (26460 frames a beat) reporting whole ticks, as JACK's
// masters do, for the transport frame heard at the engine frame.
TEST(JackTransportSyncTest, FollowsTempoBarsLocateAndStopWithAGridThatHoldsStillBetween)
{
    JackTransportSync sync;
    TempoMap map(120, 3, 44100);
    bool running = false;
    auto at = [&](int64_t engine, int64_t transport, bool rolling = true, double bpm = 100) {
        const double beat = transport / (44100 * 60.0 / bpm);
        TransportPosition position{rolling,
                                   true,
                                   bpm,
                                   4,
                                   static_cast<int>(beat / 4) + 1,
                                   static_cast<int>(std::fmod(beat, 4)) + 1,
                                   std::floor((beat - std::floor(beat)) * 1920),
                                   1920,
                                   engine};
        sync.Note(position);
        EXPECT_TRUE(sync.Follow(0, 256, map, running));
        return map.m_Origin;
    };
    EXPECT_FALSE(sync.Follow(0, 256, map, running)) << "nothing heard yet";
    sync.Note(TransportPosition());
    EXPECT_FALSE(sync.Follow(0, 256, map, running)) << "no timebase master: no grid";
    for (int p = 0; p < 400; p++)
        at(1000 + p * 256, p * 256);
    // Within a bar the origin is on bar 1 and stays there.
    for (int p = 400; p < 800; p++)
        ASSERT_NEAR(at(1000 + p * 256, p * 256), 1000, 1) << p;
    EXPECT_TRUE(running);
    EXPECT_EQ(map.m_Bpm, 100);
    EXPECT_EQ(map.m_BeatsPerBar, 4);
    EXPECT_NEAR(at(200000, 32 * 26460), 200000 - 32 * 26460, 1) << "a locate to bar 9";
    EXPECT_EQ(at(300000, 5000, false), 200000 - 32 * 26460) << "stopped, the grid stays";
    EXPECT_FALSE(running);
    EXPECT_NEAR(at(400000, 0, true, 140), 400000, 1);
    EXPECT_EQ(map.m_Bpm, 140);
}
