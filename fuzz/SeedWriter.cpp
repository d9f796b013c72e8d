// Writes the files the program itself writes, as seeds for the fuzzers:
// loops saved as WAV files, an output recording and resource files.
// Usage: fuzz-seed-writer <corpus folder>
#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"
#include "KorvelSound/WavFile.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

void WriteWav(const std::string &path, WavFile::Channels channels, int values)
{
    Sample sound(values);
    for (int i = 0; i < values; i++) sound.Set(i, static_cast<short>((i * 997) % 60000 - 30000));
    WavFile file;
    if (!file.Open(path, WavFile::WRITE, channels)) return;
    if (values > 0) file.Save(sound);
}

void WriteResource(const std::string &path)
{
    KorvelInfo info;
    std::ofstream out(path.c_str());
    info.WriteSettings(out);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <corpus folder>" << std::endl;
        return 2;
    }
    const std::string dir = argv[1];
    WriteWav(dir + "/wav_loop/saved-loop.wav", WavFile::MONO, 300);
    WriteWav(dir + "/wav_loop/saved-empty-loop.wav", WavFile::MONO, 0);
    WriteWav(dir + "/wav_loop/recording.wav", WavFile::STEREO, 2 * 256);

    WriteResource(dir + "/resource_file/defaults");
    KorvelInfo::WantRealtimeOut = false;
    KorvelInfo::Samplerate = 48000;
    KorvelInfo::OutputDevice = "/dev/dsp1";
    WriteResource(dir + "/resource_file/no-device-48k");
    return 0;
}
