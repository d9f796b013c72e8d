// How many fully loaded loops fit into the time one block of sound lasts.
// Every loop plays one second of sound through an active filter and its own
// delay and reverb; the mix adds the master delay and reverb on the way out.

#include "KorvelInfo.h"
#include "KorvelSound/Output.h"
#include "Loop.h"
#include "LoopHost.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// A second of sound that is neither silent nor periodic within a block: two
// detuned partials, a slow swell and a little deterministic noise.
void LoadSecondOfSound(Loop &loop)
{
    const int length = 44100;
    loop.AllocateMem(length);
    unsigned noise = 12345;
    for (int i = 0; i < length; i++) {
        noise = noise * 1103515245u + 12345u;
        double t = static_cast<double>(i) / 44100.0;
        double swell = 0.5 + 0.5 * std::sin(2.0 * M_PI * 0.7 * t);
        double value = 12000.0 * swell * std::sin(2.0 * M_PI * 220.0 * t) +
                       6000.0 * std::sin(2.0 * M_PI * 331.0 * t) +
                       static_cast<double>(static_cast<int>(noise >> 16) % 2001 - 1000);
        loop.m_StoreBuffer[i] = static_cast<short>(value);
    }
    loop.m_LoopLength = length;
}

// The settings of a loop with everything switched on, as the panel sets them.
void LoadFully(Loop &loop)
{
    LoadSecondOfSound(loop);
    const int cutoffSlider = 50;
    loop.m_Filter.m_Cutoff =
        static_cast<double>(static_cast<int>((100 - cutoffSlider) * (100 - cutoffSlider) + 10));
    loop.m_Filter.m_Bypass = false;
    const double emphasis = 5.0;
    loop.m_Filter.m_Resonance = static_cast<double>(static_cast<int>(emphasis + 1.0));
    loop.m_EffectsOn = true;
    loop.m_Delay.m_DelayL = 0.5f;
    loop.m_Delay.m_DelayR = 0.5f;
    loop.m_Delay.m_Feedback = 0.5f;
    loop.m_Delay.m_Bypass = false;
    loop.m_Reverb.SetTime(0.25f);
    loop.m_Reverb.m_Bypass = false;
    loop.SetPan(0.7f);
}

double BlockSeconds()
{
    return static_cast<double>(KorvelInfo::BufferSize) / KorvelInfo::Samplerate;
}

void ReportPerLoop(benchmark::State &state, int loops)
{
    // Both are per block and per loop: time, and how many loops one block's time would carry.
    state.counters["ns_per_loop_block"] = benchmark::Counter(
        loops * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["loops_per_block_budget"] =
        benchmark::Counter(loops * BlockSeconds(), benchmark::Counter::kIsIterationInvariantRate);
}

void LoopBlock(benchmark::State &state)
{
    LoopHost host;
    Loop loop(&host);
    LoadFully(loop);
    Sample block(KorvelInfo::BufferSize);
    for (auto _ : state) {
        loop.GetOutput(block);
        benchmark::DoNotOptimize(block.GetBuffer());
        benchmark::ClobberMemory();
    }
    ReportPerLoop(state, 1);
}
BENCHMARK(LoopBlock);

void MixBlock(benchmark::State &state)
{
    const int loopCount = static_cast<int>(state.range(0));
    KorvelInfo::WantRealtimeOut = false;
    LoopHost host;
    std::vector<std::unique_ptr<Loop>> loops;
    for (int i = 0; i < loopCount; i++) {
        loops.push_back(std::make_unique<Loop>(&host));
        LoadFully(*loops.back());
        // Spread the loops over their sound so they do not play in step.
        loops.back()->m_Pos = static_cast<float>((i * 7919) % 44100);
    }
    Output output(2);
    output.OpenDevice();
    Delay masterDelay;
    masterDelay.m_Channels = 2;
    masterDelay.m_Bypass = false;
    Reverb masterReverb;
    masterReverb.SetChannels(2);
    masterReverb.SetTime(0.25f);
    masterReverb.m_Bypass = false;
    Sample mix(KorvelInfo::BufferSize);

    for (auto _ : state) {
        output.ClearBuffer();
        for (auto &loop : loops)
            if (loop->GetOutput(mix)) output.Send(mix, loop->m_LeftVol, loop->m_RightVol);
        masterDelay.Process(output.m_Buffer);
        masterReverb.Process(output.m_Buffer);
        output.Write();
        benchmark::DoNotOptimize(output.m_Buffer.GetBuffer());
        benchmark::ClobberMemory();
    }
    ReportPerLoop(state, loopCount);
}
BENCHMARK(MixBlock)->Arg(1)->Arg(16)->Arg(256);

} // namespace

BENCHMARK_MAIN();
