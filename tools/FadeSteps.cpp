// Measures how far the sound jumps where fades belong: across the seam, at a
// start, at a stop, at an overdub's ends and at a cut's join. For each, the
// step between the two samples the event falls between and the largest step
// within a fade's reach of it, against the median step of the loop's sound
// (and its 99th percentile, what the sound does by itself now and then).
// Usage: korvel-fade-steps LOOP.wav OVERDUB.wav [FadeMs ...]

#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopHost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int Step(const std::vector<short> &values, size_t i)
{
    return std::abs(values[i + 1] - values[i]);
}

int StepRank(const std::vector<short> &values, double fraction)
{
    std::vector<int> steps;
    for (size_t i = 0; i + 1 < values.size(); i++)
        steps.push_back(Step(values, i));
    const size_t rank = static_cast<size_t>(fraction * (steps.size() - 1));
    std::nth_element(steps.begin(), steps.begin() + rank, steps.end());
    return steps[rank];
}

// The largest step between samples within reach of `at` (the fade's length and a little).
int StepNear(const std::vector<short> &values, long at, long reach)
{
    int largest = 0;
    for (long i = std::max(0L, at - reach); i + 1 < static_cast<long>(values.size()) && i <= at + reach; i++)
        largest = std::max(largest, Step(values, i));
    return largest;
}

std::vector<short> Sound(const Loop &loop)
{
    return std::vector<short>(loop.m_StoreBuffer.m_Data,
                              loop.m_StoreBuffer.m_Data + loop.m_StoreBuffer.m_Length);
}

// Plays `blocks` blocks, appending them to `played` (silence where the loop gave none).
void PlayBlocks(Loop &loop, int blocks, std::vector<short> &played)
{
    Sample out(KorvelInfo::BufferSize);
    for (int b = 0; b < blocks; b++) {
        out.Zero();
        if (!loop.GetOutput(out)) out.Zero();
        played.insert(played.end(), out.m_Data, out.m_Data + out.m_Length);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LOOP.wav OVERDUB.wav [FadeMs ...]\n", argv[0]);
        return 1;
    }
    std::vector<int> fades;
    for (int i = 3; i < argc; i++)
        fades.push_back(std::atoi(argv[i]));
    if (fades.empty()) fades = {0, KorvelInfo::DefaultFadeMs};
    LoopHost host;
    Loop overdub(&host);
    overdub.LoadWav(argv[2]);
    const std::vector<short> input = Sound(overdub);
    const int B = KorvelInfo::BufferSize;
    for (int fadeMs : fades) {
        KorvelInfo::FadeMs = fadeMs;
        const long reach = Loop(&host).FadeFrames() + 2;
        Loop loop(&host);
        loop.LoadWav(argv[1]);
        const long length = loop.m_LoopLength;
        if (length < 8 * B || static_cast<long>(input.size()) < 8 * B) {
            std::fprintf(stderr, "The sounds are too short to measure\n");
            return 1;
        }
        std::printf("FadeMs %d (%ld samples): median step %d, 99th percentile %d\n", fadeMs, reach - 2,
                    StepRank(Sound(loop), 0.5), StepRank(Sound(loop), 0.99));
        // `own`: the largest step the sounds themselves take within the same reach.
        auto report = [reach](const char *what, const std::vector<short> &values, long at, int own) {
            std::printf("  %-12s across %5d  nearby %5d  (own %5d)\n", what, Step(values, at),
                        StepNear(values, at, reach), own);
        };

        // Two laps from the start, so the seam is crossed once.
        const std::vector<short> sound = Sound(loop);
        std::vector<short> played;
        PlayBlocks(loop, static_cast<int>((2 * length) / B), played);
        report("seam", played, length - 1,
               std::max(StepNear(sound, 0, reach), StepNear(sound, length - 2 - reach, reach)));

        // Started where the sound is loudest in a block's stretch a quarter
        // in, then stopped where it is loudest in another.
        auto loudest = [&sound, B](long from) {
            return std::max_element(sound.begin() + from, sound.begin() + from + B,
                                    [](short a, short b) { return std::abs(a) < std::abs(b); }) -
                   sound.begin();
        };
        loop.m_Playing = false;
        PlayBlocks(loop, 4, played);
        played.clear();
        const long startAt = loudest(length / 4);
        loop.m_Pos = startAt;
        PlayBlocks(loop, 1, played);
        loop.m_Playing = true;
        PlayBlocks(loop, 4, played);
        report("start", played, B - 1, StepNear(sound, startAt, reach));
        loop.m_Playing = false;
        PlayBlocks(loop, 4, played);
        played.clear();
        const long stopAt = loudest(length / 2);
        loop.m_Pos = stopAt - 4 * B + 1;
        loop.m_Playing = true;
        PlayBlocks(loop, 4, played);
        loop.m_Playing = false;
        PlayBlocks(loop, 4, played);
        report("stop", played, 4 * B - 1, StepNear(sound, stopAt, reach));

        // An overdub from a quarter in, of the other sound from its middle, for a few blocks.
        std::vector<short> block(B);
        loop.m_Input = block.data();
        loop.m_Pos = length / 4;
        loop.m_Playing = true;
        loop.m_Recording = true;
        Sample out(B);
        const int takeBlocks = 6;
        // Ending where the other sound is loudest.
        const long from =
            std::max_element(input.begin() + input.size() / 2, input.begin() + input.size() / 2 + B,
                             [](short a, short b) { return std::abs(a) < std::abs(b); }) -
            input.begin() - takeBlocks * B + 1;
        for (int b = 0; b < takeBlocks + 8 && loop.m_Recording; b++) {
            std::copy(input.begin() + from + b * B, input.begin() + from + (b + 1) * B, block.begin());
            if (b == takeBlocks) loop.RequestStop();
            loop.GetOutput(out);
        }
        loop.EndRecord();
        loop.m_Input = nullptr;
        // The layer the overdub added, which is what starts and stops there.
        std::vector<short> layer = Sound(loop);
        for (size_t i = 0; i < layer.size(); i++)
            layer[i] = static_cast<short>(layer[i] - sound[i]);
        const long layerEnd = length / 4 + takeBlocks * B + loop.FadeFrames();
        report("overdub in", layer, length / 4 - 1, StepNear(input, from, reach));
        report("overdub out", layer, layerEnd - 1, StepNear(input, from + takeBlocks * B - 1, reach));

        // A cut of a few blocks from a third in.
        const int cutAt = static_cast<int>(length / 3 / B * B);
        loop.Cut(cutAt, cutAt + 5 * B);
        report("cut", Sound(loop), cutAt - 1,
               std::max(StepNear(sound, cutAt - 1, reach), StepNear(sound, cutAt + 5 * B, reach)));
    }
    return 0;
}
