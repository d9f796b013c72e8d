// The hand-over between the GUI and the audio thread: also run under
// ThreadSanitizer (engine_tsan_tests), where a missing ordering shows as a race.
#include "Engine/HandOver.h"
#include "Engine/TakeRoom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(HandOverTest, TheAudioSideNeverSeesAHalfMadeChangeAndSkipsWhileHeld)
{
    HandOver handOver;
    std::vector<int> shared(64, 0); // every element equal, as the GUI leaves it
    std::atomic<bool> done{false};
    std::atomic<long> skipped{0}, checked{0}, torn{0};
    std::thread audio([&] {
        while (!done.load()) {
            if (!handOver.Enter()) {
                skipped++;
                continue;
            }
            for (int value : shared)
                if (value != shared.front()) torn++;
            checked++;
            handOver.Leave();
        }
    });
    for (int round = 1; round <= 100; round++) {
        {
            HandOverHold hold(handOver);
            HandOverHold nested(handOver); // a change made of changes
            shared.assign(64 + round % 7, round);
        }
        // Turns taken: the audio side looks at every change at least once.
        const long seen = checked.load();
        while (checked.load() == seen)
            std::this_thread::yield();
    }
    done = true;
    audio.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(checked.load(), 0);
    EXPECT_FALSE(handOver.Held());
}

TEST(HandOverTest, ATakeRoomHandsBlocksOverInOrderAndCountsWhatItCouldNotHold)
{
    TakeRoom room(4, 16);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        short next = 0;
        for (int filled = 0; filled < 300;) {
            short *block = room.NextEmpty();
            if (!block) {
                std::this_thread::yield();
                continue;
            }
            for (int i = 0; i < 16; i++)
                block[i] = next;
            next++;
            room.HandFull(block);
            filled++;
        }
        done = true;
    });
    short expected = 0;
    while (!done.load() || expected < 300) {
        short *block = room.TakeFull();
        if (!block) continue;
        EXPECT_EQ(block[0], expected);
        EXPECT_EQ(block[15], expected);
        expected++;
        room.GiveEmpty(block);
    }
    audio.join();
    EXPECT_EQ(expected, 300);
    room.CountLost(5);
    EXPECT_EQ(room.Lost(), 5);
}
