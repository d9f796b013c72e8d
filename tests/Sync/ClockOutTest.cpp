#include "Sync/ClockOut.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ClockOutTest, EveryTickLandsOnceAtItsRoundedFrameWhateverTheBlocks)
{
    const TempoMap map(133, 4, 44100, 37);
    const double perTick = 44100 * 60.0 / 133 / 24;
    for (int block : {64, 128, 500}) {
        int64_t tick = 0;
        int offsets[16];
        for (int64_t start = 37; start < 37 + 44100 * 30; start += block) {
            const int count = ClockOut::TicksIn(map, start, block, offsets, 16);
            for (int i = 0; i < count; i++, tick++)
                ASSERT_EQ(start + offsets[i], 37 + std::llround(tick * perTick)) << "block " << block;
        }
        // In order and each once, as asserted; and none left out at the end.
        EXPECT_GE(tick, static_cast<int64_t>(44100 * 30 / perTick)) << "block " << block;
    }
}
