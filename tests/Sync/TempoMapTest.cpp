#include "Sync/TempoMap.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(TempoMapTest, LinesFallOnTheGridFromItsOriginWithoutDrift)
{
    const TempoMap map(120, 3, 44100, 100);
    EXPECT_EQ(map.NextLine(100, TempoMap::Bar), 100);
    EXPECT_EQ(map.NextLine(101, TempoMap::Bar), 100 + 66150);
    EXPECT_EQ(map.NextLine(101, TempoMap::Beat), 100 + 22050);
    EXPECT_EQ(map.NextLine(0, TempoMap::Beat), 100);
    EXPECT_EQ(map.NextLine(-30000, TempoMap::Beat), 100 - 22050);
    EXPECT_EQ(map.NextLine(5000, TempoMap::MasterLoop, 1000), 5100);
    EXPECT_EQ(map.NextLine(777, TempoMap::Off), 777);
    // A beat of a fractional number of frames: the line of beat n an hour
    // on is still the nearest frame to n beats.
    const TempoMap odd(133, 4, 44100);
    const int64_t n = 133 * 60;
    const int64_t exact = std::llround(n * 44100 * 60.0 / 133);
    EXPECT_EQ(odd.NextLine(exact - 1, TempoMap::Beat), exact);
    EXPECT_EQ(odd.NextLine(exact, TempoMap::Beat), exact);
    EXPECT_EQ(odd.NextLine(exact + 1, TempoMap::Beat), std::llround((n + 1) * 44100 * 60.0 / 133));
    // Settings out of range are brought into it; a take rounds to whole beats.
    EXPECT_EQ(TempoMap(1000, 40, 44100).m_Bpm, TempoMap::MaxBpm);
    EXPECT_EQ(TempoMap(1000, 40, 44100).m_BeatsPerBar, TempoMap::MaxBeatsPerBar);
    EXPECT_EQ(map.RoundToBeats(3 * 22050 + 11000), 3 * 22050);
    EXPECT_EQ(map.RoundToBeats(100), 22050);
}
