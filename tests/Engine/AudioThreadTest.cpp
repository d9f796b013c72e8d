#include "Engine/AudioThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A call the compiler cannot leave out, unlike a new expression whose result
// goes unused.
void AllocateAndFree()
{
    void *memory = ::operator new(64);
    ::operator delete(memory);
}

} // namespace

TEST(AudioThreadTest, TheFlagHoldsOnlyInsideAScopeOnItsOwnThread)
{
    // Started outside the Scope: starting a thread allocates.
    std::atomic<int> stage{0};
    bool other = true;
    std::thread elsewhere([&] {
        while (stage != 1)
            std::this_thread::yield();
        other = AudioThread::IsCurrent();
        stage = 2;
    });
    EXPECT_FALSE(AudioThread::IsCurrent());
    {
        AudioThread::Scope block;
        {
            AudioThread::Scope nested;
        }
        EXPECT_TRUE(AudioThread::IsCurrent());
        stage = 1;
        while (stage != 2)
            std::this_thread::yield();
    }
    elsewhere.join();
    EXPECT_FALSE(other);
    EXPECT_FALSE(AudioThread::IsCurrent());
    // Outside a Scope, allocation and the checks are fine in any build.
    AllocateAndFree();
    AudioThread::Check("file I/O");
}

TEST(AudioThreadDeathTest, AllocationFreeAndCheckedCallsAbortOnTheAudioThread)
{
    if (!AudioThread::Checked) GTEST_SKIP() << "built without KORVEL_RT_CHECKS";
    EXPECT_DEATH(
        {
            AudioThread::Scope block;
            AllocateAndFree();
        },
        "^allocation on the audio thread\n");
    void *memory = ::operator new(64);
    EXPECT_DEATH(
        {
            AudioThread::Scope block;
            ::operator delete(memory);
        },
        "^free on the audio thread\n");
    ::operator delete(memory);
    EXPECT_DEATH(
        {
            AudioThread::Scope block;
            AudioThread::Check("WavFile save");
        },
        "^WavFile save on the audio thread\n");
}
