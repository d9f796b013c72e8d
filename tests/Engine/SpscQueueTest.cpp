// The queue between the GUI and the audio thread: run under ThreadSanitizer
// too (engine_tsan_tests), where a missing ordering shows as a race.
#include "Engine/SpscQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace {

// Wider than a word, so a torn or stale copy shows as a mismatch.
struct Numbered
{
    uint64_t number;
    uint64_t check;
};

} // namespace

TEST(SpscQueueTest, FillsToItsRoundedCapacityAndEmptiesInOrder)
{
    SpscQueue<int> queue(5);
    ASSERT_EQ(queue.Capacity(), 8u);
    int value = -1;
    EXPECT_FALSE(queue.TryPop(value));
    EXPECT_EQ(value, -1);
    // Several rounds, so the positions wrap past the end of the room.
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 8; i++)
            ASSERT_TRUE(queue.TryPush(round * 100 + i));
        EXPECT_FALSE(queue.TryPush(999));
        for (int i = 0; i < 8; i++) {
            ASSERT_TRUE(queue.TryPop(value));
            EXPECT_EQ(value, round * 100 + i);
        }
        EXPECT_FALSE(queue.TryPop(value));
        // One more in and out moves the positions off the room's edges.
        ASSERT_TRUE(queue.TryPush(round) && queue.TryPop(value));
    }
}

TEST(SpscQueueTest, MillionsPassBetweenTwoThreadsInOrderWithNoneLostOrRepeated)
{
    const uint64_t count = 2000000;
    SpscQueue<Numbered> queue(64);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint64_t i = 0; i < count;) {
            if (queue.TryPush({i, ~i}))
                i++;
            else
                std::this_thread::yield();
        }
        done.store(true, std::memory_order_release);
    });
    uint64_t received = 0, wrong = 0;
    // Once the producer is done, one more empty pop means nothing is left.
    for (bool finished = false;;) {
        Numbered value;
        if (queue.TryPop(value)) {
            if (value.number != received || value.check != ~received) wrong++;
            received++;
        } else if (finished) {
            break;
        } else {
            finished = done.load(std::memory_order_acquire);
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(received, count);
    EXPECT_EQ(wrong, 0u);
}
