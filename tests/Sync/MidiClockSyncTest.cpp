#include "Sync/MidiClockSync.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(MidiClockSyncTest, StartStopContinueAndSongPositionPlaceBarOneOfTheFittedGrid)
{
    const int rate = 44100;
    const double perTick = rate * 60.0 / 120 / 24;
    std::mt19937 random(3);
    std::uniform_real_distribution<double> jitter(-0.001 * rate, 0.001 * rate);
    MidiClockSync clock;
    auto send = [&](unsigned char a, unsigned char b = 0, unsigned char c = 0) {
        const unsigned char bytes[3] = {a, b, c};
        return clock.Take(bytes, a == MidiClockSync::SongPosition ? 3 : 1, 0);
    };
    auto tick = [&](int64_t k) {
        const unsigned char byte = MidiClockSync::Tick;
        clock.Take(&byte, 1, std::llround(5000 + k * perTick + jitter(random)));
    };
    TempoMap map(90, 3, rate);
    bool running = true;
    EXPECT_FALSE(clock.Follow(0, 64, map, running)) << "no ticks yet";
    EXPECT_FALSE(send(0x90, 60, 100)) << "a note is not the clock's";

    // Ticks before Start: the tempo, stopped.
    int64_t k = 0;
    for (; k < 96; k++)
        tick(k);
    ASSERT_TRUE(clock.Follow(0, 64, map, running));
    EXPECT_FALSE(running);
    EXPECT_NEAR(map.m_Bpm, 120, 0.05);
    EXPECT_EQ(map.m_BeatsPerBar, 3) << "the clock has no meter: the performer's stays";

    // Start: the next tick is bar 1's downbeat.
    send(MidiClockSync::Start);
    const int64_t bar1 = k;
    for (; k < bar1 + 10 * 60 * 2 * 24; k++)
        tick(k);
    ASSERT_TRUE(clock.Follow(0, 64, map, running));
    EXPECT_TRUE(running);
    EXPECT_NEAR(map.m_Bpm, 120, 0.01);
    // The next downbeat of the grid against the clock's own, after ten minutes.
    const int64_t now = std::llround(5000 + k * perTick);
    const int64_t downbeat = map.NextLine(now, TempoMap::Bar);
    const double beats = (downbeat - (5000 + bar1 * perTick)) / perTick / 24;
    EXPECT_NEAR(beats, std::round(beats / 3) * 3, 0.001 * rate / (perTick * 24));

    // Stopped, the ticks go on but the song keeps its place; Continue goes on
    // from there.
    // The song's beat where the next tick falls, to a millisecond.
    auto beatOfNextTick = [&] { return map.BeatAt(std::llround(5000 + k * perTick)); };
    const double ms = 0.001 * rate / (perTick * 24);
    send(MidiClockSync::Stop);
    ASSERT_TRUE(clock.Follow(0, 64, map, running));
    EXPECT_FALSE(running);
    const double stoppedAt = beatOfNextTick();
    for (int64_t end = k + 48; k < end; k++)
        tick(k);
    send(MidiClockSync::Continue);
    ASSERT_TRUE(clock.Follow(0, 64, map, running));
    EXPECT_TRUE(running);
    EXPECT_NEAR(beatOfNextTick(), stoppedAt, ms);

    // Song Position 32 sixteenths (two bars of 4/4): the next tick is beat 8.
    send(MidiClockSync::SongPosition, 32, 0);
    ASSERT_TRUE(clock.Follow(0, 64, map, running));
    EXPECT_NEAR(beatOfNextTick(), 8, ms);
}
