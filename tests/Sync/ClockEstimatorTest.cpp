#include "Sync/ClockEstimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(ClockEstimatorTest, JitteredClockGivesTheTempoAndDownbeatWithinAMillisecondAndFollowsAChange)
{
    const int rate = 44100;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.001 * rate, 0.001 * rate);
    ClockEstimator estimator;
    const double perTick = rate * 60.0 / 120 / 24;
    const int64_t ticks = 10 * 60 * 2 * 24; // ten minutes at 120 BPM
    for (int64_t k = 0; k < ticks; k++)
        estimator.Tick(k, std::llround(k * perTick + jitter(random)));
    ASSERT_TRUE(estimator.Ready());
    EXPECT_NEAR(estimator.FramesPerTick(), perTick, perTick * 1e-4);
    // The downbeat of the next bar, as the clock will send it.
    const int64_t downbeat = (ticks / 96 + 1) * 96;
    EXPECT_NEAR(estimator.FrameOf(downbeat), downbeat * perTick, 0.001 * rate);

    // The sender goes to 90 BPM: within a beat the old tempo is gone.
    const double slower = rate * 60.0 / 90 / 24;
    const double from = ticks * perTick;
    for (int64_t k = 0; k < 24; k++)
        estimator.Tick(ticks + k, std::llround(from + k * slower + jitter(random)));
    EXPECT_NEAR(estimator.FramesPerTick(), slower, slower * 0.05);
}
