// Runs the live input's capture the way the program's cycle would: one block
// every block period, timing each Fill. Writes the blocks as raw mono signed
// 16-bit little-endian and prints one summary line.
//   CaptureDriver <device> <blocks> <raw output file>
#include "InputDevice.h"
#include "LiveCapture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <device> <blocks> <raw output file>\n", argv[0]);
        return 2;
    }
    const int blockSize = 512;
    const int samplerate = 44100;
    const int blocks = std::atoi(argv[2]);

    InputDevice device;
    LiveCapture capture(&device, blockSize, samplerate);
    if (!capture.Open(argv[1])) return 1;
    std::FILE *out = std::fopen(argv[3], "wb");
    if (!out) return 1;

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000LL * blockSize / samplerate);
    std::vector<short> block(blockSize);
    double maxFillMs = 0.0;
    long long underrunsBeforeStart = -1;
    auto next = Clock::now();
    for (int b = 0; b < blocks; b++) {
        auto start = Clock::now();
        capture.Fill(block.data());
        double fillMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (fillMs > maxFillMs) maxFillMs = fillMs;
        // The stream takes a moment to start; underruns before the first whole block are not counted.
        if (underrunsBeforeStart < 0 && capture.m_Underruns < b + 1)
            underrunsBeforeStart = capture.m_Underruns;
        std::fwrite(block.data(), sizeof(short), block.size(), out);
        next += period;
        std::this_thread::sleep_until(next);
    }
    std::fclose(out);
    if (underrunsBeforeStart < 0) underrunsBeforeStart = capture.m_Underruns;
    std::printf(
        "blocks %d underruns %lld started_after %lld dropped %lld max_fill_ms %.3f max_wait_ms %.3f\n",
        blocks, static_cast<long long>(capture.m_Underruns - underrunsBeforeStart), underrunsBeforeStart,
        static_cast<long long>(capture.m_Dropped), maxFillMs, capture.m_MaxWaitMicros / 1000.0);
    return 0;
}
