// How many fully loaded loops fit into the time one block of sound lasts.
// Every loop plays one second of sound through an active filter and its own
// delay and reverb; the mix adds the master delay and reverb on the way out.

#include "FullyLoadedLoop.h"
#include "KorvelInfo.h"
#include "KorvelSound/Output.h"
#include "LoopHost.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// KORVEL_FADE_MS=3 times the loops with fades on; off otherwise, as the
// built-in settings have them.
const bool FadesSet = [] {
    if (const char *ms = std::getenv("KORVEL_FADE_MS")) KorvelInfo::FadeMs = std::atoi(ms);
    return true;
}();

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
    FullyLoaded::Load(loop);
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
    Output::Unpaced = true;
    // The same random stage times in every run: a reverb's first stage
    // costs more when its jitter gives it a line of one sample.
    std::srand(1);
    LoopHost host;
    std::vector<std::unique_ptr<Loop>> loops;
    for (int i = 0; i < loopCount; i++) {
        loops.push_back(std::make_unique<Loop>(&host));
        FullyLoaded::Load(*loops.back());
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
