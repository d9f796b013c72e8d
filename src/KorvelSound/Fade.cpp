#include "KorvelSound/Fade.h"

#include "KorvelSound/SampleClamp.h"

#include <algorithm>

namespace {

int Wrapped(int64_t index, int length)
{
    const int64_t at = index % length;
    return static_cast<int>(at < 0 ? at + length : at);
}

} // namespace

void Fade::Cross(Sample &sound, int at, int step, const short *before, int n)
{
    const int length = sound.GetLength();
    if (length == 0) return;
    for (int k = 0; k < n; k++) {
        const int i = Wrapped(at + static_cast<int64_t>(step) * k, length);
        const float gain = Rise(k, n);
        sound[i] = ClampSample(before[k] * (1.0f - gain) + sound[i] * gain);
    }
}

void Fade::Dip(Sample &sound, int join, int n)
{
    const int length = sound.GetLength();
    if (length == 0) return;
    n = std::min(n, length / 2);
    for (int k = 0; k < n; k++) {
        const float gain = Rise(k, n);
        const int after = Wrapped(join + static_cast<int64_t>(k), length);
        const int ahead = Wrapped(join - 1 - static_cast<int64_t>(k), length);
        sound[after] = ClampSample(sound[after] * gain);
        sound[ahead] = ClampSample(sound[ahead] * gain);
    }
}

void Fade::Edges(Sample &layer, int n)
{
    const int length = layer.GetLength();
    n = std::min(n, length / 2);
    for (int k = 0; k < n; k++) {
        const float gain = Rise(k, n);
        layer[k] = ClampSample(layer[k] * gain);
        layer[length - 1 - k] = ClampSample(layer[length - 1 - k] * gain);
    }
}
