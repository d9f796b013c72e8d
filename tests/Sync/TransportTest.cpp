#include "Sync/Transport.h"

#include "KorvelSound/Output.h"
#include "SavedSettings.h"

#include <gtest/gtest.h>

#include <map>

TEST(TransportTest, ClockStartsOnTheBarLineTicksOnItsGridStopsWhenOffAndTheClickGoesToTheMixOnlyWhenAsked)
{
    SavedSettings saved;
    KorvelInfo::WantRealtimeOut = false;
    KorvelInfo::BufferSize = 100;
    Output output(2);
    Transport transport;
    transport.Prepare(44100, 100);
    transport.Block(0, output);
    EXPECT_EQ(output.m_Click, nullptr); // no grid: nothing at all
    EXPECT_EQ(output.m_Midi, nullptr);

    transport.SetTempo(120, 4, 250);
    transport.m_ClockOut = true;
    transport.m_ClickOn = true;
    std::map<int64_t, unsigned> bytes;
    int64_t frame = 300;
    auto run = [&](int blocks) {
        for (int b = 0; b < blocks; b++, frame += 100) {
            output.ClearBuffer();
            transport.Block(frame, output);
            ASSERT_NE(output.m_Midi, nullptr);
            for (int i = 0; i < 100; i++)
                if (output.m_Midi[i]) bytes[frame + i] = output.m_Midi[i];
        }
    };
    run(1765); // just past the second bar line (88200 frames a bar)
    // Nothing before the next bar line; Start and the first tick on it.
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.begin()->first, 250 + 88200);
    EXPECT_EQ(bytes.begin()->second, Transport::ClockStart | Transport::ClockTick << 8);
    EXPECT_EQ(bytes.size(), 96u + 1); // a bar of ticks and the next bar line's
    EXPECT_EQ(bytes.count(250 + 88200 + 919), 1u); // tick 1 at 918.75 frames rounds up
    EXPECT_EQ(bytes.rbegin()->first, 250 + 2 * 88200);
    EXPECT_EQ(bytes.rbegin()->second, Transport::ClockTick);
    // Neither click went into the mix.
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(output.m_Buffer[i], 0);

    transport.m_ClockOut = false;
    bytes.clear();
    run(1);
    ASSERT_EQ(bytes.size(), 1u);
    EXPECT_EQ(bytes.begin()->second, Transport::ClockStop);

    // A click on the beat at 250 + 5 * 22050, now into the mix as well.
    transport.m_ClickInMix = true;
    frame = 250 + 5 * 22050 - 50;
    output.ClearBuffer();
    transport.Block(frame, output);
    EXPECT_EQ(output.m_Buffer[2 * 49], 0);
    EXPECT_NE(output.m_Buffer[2 * 51], 0);
    EXPECT_EQ(output.m_Buffer[2 * 51], output.m_Click[51]);
    EXPECT_EQ(output.m_Buffer[2 * 51 + 1], output.m_Click[51]);
}
