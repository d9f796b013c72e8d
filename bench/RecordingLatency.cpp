// How long the cycle spends handing a block to the recording: saving it to
// the file on the spot (WavFile::Save, as the cycle once did) against
// copying it into the writer's ring (RecordingWriter::Push). Blocks come
// faster than real time (every ms) for a few seconds each, to an ext4 file;
// the tail of the spread is what a cycle feels.
//   recording_latency <folder> [blocks]
#include "Engine/RecordingWriter.h"
#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"
#include "KorvelSound/WavFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void Report(const char *name, std::vector<double> micros)
{
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double share) { return micros[static_cast<size_t>(share * (micros.size() - 1))]; };
    double sum = 0;
    for (double value : micros)
        sum += value;
    std::printf("%-22s mean %7.2f us  p50 %7.2f  p99 %7.2f  p99.9 %8.2f  max %8.2f\n", name,
                sum / micros.size(), at(0.5), at(0.99), at(0.999), micros.back());
}

std::vector<double> Time(int blocks, Sample &block, const std::function<void()> &handOver)
{
    std::vector<double> micros;
    micros.reserve(blocks);
    for (int i = 0; i < blocks; i++) {
        block.Set(0, static_cast<short>(i));
        const Clock::time_point start = Clock::now();
        handOver();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return micros;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [blocks]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int blocks = argc > 2 ? std::atoi(argv[2]) : 5000;
    Sample block(2 * KorvelInfo::BufferSize);
    block.Zero();

    WavFile file;
    file.Open(folder + "/direct.wav", WavFile::WRITE, WavFile::STEREO);
    Report("WavFile::Save", Time(blocks, block, [&] { file.Save(block); }));
    const Clock::time_point closing = Clock::now();
    file.Close();
    std::printf("  its Close: %.1f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - closing).count());

    RecordingWriter writer;
    writer.Open(folder + "/ring.wav", WavFile::STEREO, block.GetLength());
    Report("RecordingWriter::Push", Time(blocks, block, [&] { writer.Push(block); }));
    std::printf("  dropped %lld, Close %d\n", static_cast<long long>(writer.Dropped()), writer.Close());
    return 0;
}
