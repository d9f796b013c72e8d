#include "KorvelSound/Metronome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

TEST(MetronomeTest, ClicksStartOnTheBeatsLouderOnTheBarAndRunOnAcrossBlocks)
{
    Metronome metronome;
    metronome.Prepare(44100);
    const TempoMap map(120, 3, 44100, 1000);
    std::vector<short> sound(4 * 22050 + 2000, 0);
    for (size_t start = 0; start < sound.size(); start += 100) {
        const int frames = static_cast<int>(std::min<size_t>(100, sound.size() - start));
        metronome.Render(map, static_cast<int64_t>(start), &sound[start], frames, 1.0f);
    }
    auto peak = [&](size_t from) {
        short top = 0;
        for (size_t i = from; i < from + 1323; i++)
            top = std::max<short>(top, static_cast<short>(std::abs(sound[i])));
        return top;
    };
    for (int beat = 0; beat < 4; beat++) {
        const size_t line = 1000 + beat * 22050;
        EXPECT_EQ(sound[line - 1], 0) << "beat " << beat;
        // The sine starts at 0; its second value is not.
        EXPECT_NE(sound[line + 1], 0) << "beat " << beat;
    }
    EXPECT_GT(peak(1000), peak(1000 + 22050) * 3 / 2);
    EXPECT_GT(peak(1000 + 3 * 22050), peak(1000 + 22050) * 3 / 2);
    EXPECT_EQ(peak(1000 + 22050), peak(1000 + 2 * 22050));
    // Between clicks: silence.
    EXPECT_EQ(peak(1000 + 22050 / 2), 0);
}
