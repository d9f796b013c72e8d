// A long sound file loading into a loop while eight others play: the total
// load time as a performer sees it (one slice per block) and the longest
// audio cycle meanwhile, which must stay under one block. The files, three
// minutes each, are made by sox.

#include "KorvelInfo.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/SoundFileLoad.h"
#include "Loop.h"
#include "LoopHost.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

namespace {

const int PlayingLoops = 8;

// The sox options of each file, by benchmark argument.
const char *const Files[][2] = {{"48k-24bit-stereo.wav", "-r 48000 -b 24 -c 2"},
                                {"44k-16bit-mono.wav", "-r 44100 -b 16 -c 1"}};

// A folder of its own for the files, removed at the end.
class BenchFolder
{
public:
    BenchFolder()
    {
        char name[] = "/tmp/korvel-load-bench.XXXXXX";
        if (mkdtemp(name)) m_Path = name;
    }
    ~BenchFolder()
    {
        for (auto &file : Files)
            unlink((m_Path + "/" + file[0]).c_str());
        rmdir(m_Path.c_str());
    }
    std::string m_Path;
};

// This thread's processor time: what the cycle itself costs, apart from the
// time other programs on the machine took the processor away.
double ThreadSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

std::string MakeFile(int which)
{
    static BenchFolder folder;
    if (folder.m_Path.empty()) return "";
    const std::string path = folder.m_Path + "/" + Files[which][0];
    if (access(path.c_str(), R_OK) != 0) {
        const std::string command =
            std::string("sox -n ") + Files[which][1] + " '" + path + "' synth 180 sine 220 sine 331 vol 0.4";
        if (std::system(command.c_str()) != 0) return "";
    }
    return path;
}

void LoadWhilePlaying(benchmark::State &state)
{
    typedef SoundFileLoad::Clock Clock;
    const std::string path = MakeFile(static_cast<int>(state.range(0)));
    if (path.empty()) {
        state.SkipWithError("sox could not make the file");
        return;
    }
    KorvelInfo::WantRealtimeOut = false;
    Output::Unpaced = true;
    LoopHost host;
    std::vector<std::unique_ptr<Loop>> loops;
    for (int i = 0; i <= PlayingLoops; i++) {
        loops.push_back(std::make_unique<Loop>(&host));
        loops.back()->AllocateMem(44100);
        for (int s = 0; s < 44100; s++)
            loops.back()->m_StoreBuffer.Set(s, static_cast<short>((s * 37) % 20000));
    }
    Loop &loading = *loops.back();
    Output output(2);
    output.OpenDevice();
    Sample mix(KorvelInfo::BufferSize);

    long cycles = 0;
    double longestCycle = 0, longestCycleWork = 0, loadSeconds = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        loading.StartLoad(path);
        bool taken = false;
        while (!taken) {
            const Clock::time_point cycleStart = Clock::now();
            const double workStart = ThreadSeconds();
            output.ClearBuffer();
            for (auto &loop : loops)
                if (loop->GetOutput(mix)) output.Send(mix, loop->m_LeftVol, loop->m_RightVol);
            output.Write();
            taken = loading.StepLoad(Clock::now() + SoundFileLoad::SliceTime());
            const std::chrono::duration<double> cycle = Clock::now() - cycleStart;
            longestCycle = std::max(longestCycle, cycle.count());
            longestCycleWork = std::max(longestCycleWork, ThreadSeconds() - workStart);
            cycles++;
        }
        loadSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (loading.m_StoreBuffer.GetLength() != 180 * KorvelInfo::Samplerate)
            state.SkipWithError("the loop did not get the whole file");
    }
    const double blockSeconds = static_cast<double>(KorvelInfo::BufferSize) / KorvelInfo::Samplerate;
    // Each cycle waits for its block to be played, so the performer waits a
    // block per cycle; the work itself is what a free-running loop measures.
    state.counters["load_s"] = cycles * blockSeconds / state.iterations();
    state.counters["work_s"] = loadSeconds / state.iterations();
    state.counters["longest_cycle_ms"] = longestCycle * 1000;
    state.counters["longest_cycle_cpu_ms"] = longestCycleWork * 1000;
    state.counters["block_ms"] = blockSeconds * 1000;
}
BENCHMARK(LoadWhilePlaying)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
