// Plays a sine through Output to the OSS device, the way the program's main
// cycle does: clear, send one mono block at unit gains, write. Used to check
// the whole device path against a real (emulated) OSS device.
//
//     korvel-tone [blocks [frequency [amplitude]]]
//
// The amplitude is that of the block handed to Send, before the master volume.

#include "KorvelInfo.h"
#include "KorvelSound/Output.h"
#include "KorvelSound/Sample.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    int blocks = argc > 1 ? std::atoi(argv[1]) : 172;
    double frequency = argc > 2 ? std::atof(argv[2]) : 440.0;
    double amplitude = argc > 3 ? std::atof(argv[3]) : 16000.0;
    if (blocks < 1 || frequency <= 0 || amplitude < 0 || amplitude > 32767) {
        std::fprintf(stderr, "usage: korvel-tone [blocks [frequency [amplitude]]]\n");
        return 2;
    }
    KorvelInfo::OutputDevice = "/dev/dsp";

    Output output(2);
    Sample block(KorvelInfo::BufferSize);
    const double step = 2.0 * M_PI * frequency / KorvelInfo::Samplerate;
    long frame = 0;
    for (int b = 0; b < blocks; b++) {
        for (int i = 0; i < block.GetLength(); i++, frame++)
            block.Set(i, static_cast<short>(std::lround(amplitude * std::sin(step * frame))));
        output.ClearBuffer();
        output.Send(block, 1.0f, 1.0f);
        output.Write();
    }
    return 0;
}
