#include "Sync/MidiClockSync.h"

#include <gtest/gtest.h>

#include <cmath>

// Ticks at 120 BPM (459.375 frames apart at 44.1 kHz); the grid's beat where
// the next tick falls tells the song's place.
TEST(MidiClockSyncTest, StartStopContinueAndSongPositionPlaceTheSongOnTheFittedGrid)
{
    const double perTick = 44100 * 60.0 / 120 / 24;
    MidiClockSync clock;
    TempoMap map(90, 3, 44100);
    bool running = true;
    int64_t k = 0;
    auto send = [&](unsigned char a, unsigned char b = 0) {
        const unsigned char bytes[3] = {a, b, 0};
        return clock.Take(bytes, 3, 0);
    };
    auto ticks = [&](int count) {
        for (const unsigned char tick = MidiClockSync::Tick; count-- > 0; k++)
            clock.Take(&tick, 1, std::llround(k * perTick));
        EXPECT_TRUE(clock.Follow(0, 64, map, running));
        return map.BeatAt(std::llround(k * perTick));
    };
    EXPECT_FALSE(clock.Follow(0, 64, map, running)) << "no ticks yet";
    EXPECT_FALSE(send(0x90, 60)) << "a note is not the clock's";
    ticks(48);
    EXPECT_FALSE(running) << "ticks before Start";
    EXPECT_NEAR(map.m_Bpm, 120, 1e-3);
    EXPECT_EQ(map.m_BeatsPerBar, 3) << "the clock has no meter: the performer's stays";
    send(MidiClockSync::Start);
    EXPECT_NEAR(ticks(0), 0, 1e-3) << "the tick after Start is bar 1's downbeat";
    EXPECT_NEAR(ticks(30), 1.25, 1e-3);
    EXPECT_TRUE(running);
    send(MidiClockSync::Stop);
    EXPECT_NEAR(ticks(48), 1.25, 1e-3) << "stopped, the song keeps its place";
    EXPECT_FALSE(running);
    send(MidiClockSync::Continue);
    EXPECT_NEAR(ticks(6), 1.5, 1e-3);
    EXPECT_TRUE(running);
    send(MidiClockSync::SongPosition, 32); // 32 sixteenths: beat 8
    EXPECT_NEAR(ticks(0), 8, 1e-3);
}
