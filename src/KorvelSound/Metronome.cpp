#include "KorvelSound/Metronome.h"

#include "KorvelSound/SampleClamp.h"

#include <algorithm>
#include <cmath>

namespace {

std::vector<float> Click(int rate, double frequency, double gain)
{
    // 30 ms, falling by 60 dB: short enough not to blur the beat.
    const int length = std::max(1, rate * 3 / 100);
    std::vector<float> click(length);
    for (int i = 0; i < length; i++) {
        const double t = static_cast<double>(i) / rate;
        click[i] = static_cast<float>(gain * 32767 * std::sin(2 * M_PI * frequency * t) *
                                      std::pow(10.0, -3.0 * i / length));
    }
    return click;
}

} // namespace

void Metronome::Prepare(int rate)
{
    m_Beat = Click(rate, 1000, 0.35);
    m_Accent = Click(rate, 1600, 0.6);
    m_Playing = nullptr;
}

void Metronome::Render(const TempoMap &map, int64_t start, short *block, int frames, float level)
{
    // A jump in time (a new grid, a located transport) cuts the click short.
    if (start != m_NextFrame) m_Playing = nullptr;
    m_NextFrame = start + frames;
    if (m_Beat.empty() || !map.Valid()) return;
    int64_t line = map.NextLine(start, TempoMap::Beat);
    for (int i = 0; i < frames; i++) {
        if (start + i == line) {
            const int64_t beat = std::llround(map.BeatAt(line));
            const int64_t inBar = ((beat % map.m_BeatsPerBar) + map.m_BeatsPerBar) % map.m_BeatsPerBar;
            m_Playing = inBar == 0 ? &m_Accent : &m_Beat;
            m_At = 0;
            line = map.NextLine(start + i + 1, TempoMap::Beat);
        }
        if (!m_Playing) continue;
        block[i] = ClampSample(block[i] + (*m_Playing)[m_At] * level);
        if (++m_At >= m_Playing->size()) m_Playing = nullptr;
    }
}
