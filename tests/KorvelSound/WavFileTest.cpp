#include "KorvelSound/WavFile.h"

#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"
#include "KorvelSound/SoundFileReader.h"
#include "../TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string LE16(unsigned value)
{
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

std::string LE32(uint32_t value)
{
    return LE16(value & 0xFFFF) + LE16(value >> 16);
}

std::string Chunk(const std::string &id, const std::string &payload)
{
    std::string chunk = id + LE32(static_cast<uint32_t>(payload.size())) + payload;
    if (payload.size() % 2) chunk += '\0';
    return chunk;
}

std::string PcmFormat(unsigned channels, unsigned bits = 16, unsigned tag = 1)
{
    return LE16(tag) + LE16(channels) + LE32(44100) + LE32(44100 * channels * bits / 8) +
           LE16(channels * bits / 8) + LE16(bits);
}

std::string Riff(const std::string &chunks)
{
    return "RIFF" + LE32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

std::string Values(const std::vector<short> &values)
{
    std::string bytes;
    for (short v : values)
        bytes += LE16(static_cast<uint16_t>(v));
    return bytes;
}

// The canonical header with every field given explicitly.
std::string CanonicalHeader(unsigned channels, uint32_t dataSize)
{
    return "RIFF" + LE32(36 + dataSize) + "WAVE" + "fmt " + LE32(16) + PcmFormat(channels) + "data" +
           LE32(dataSize);
}

std::vector<short> Contents(const Sample &s)
{
    return std::vector<short>(s.m_Data, s.m_Data + s.GetLength());
}

std::vector<short> Ramp(int length, int step = 37)
{
    std::vector<short> values(length);
    for (int i = 0; i < length; i++)
        values[i] = static_cast<short>((i * step) % 65536 - 32768 + 1);
    return values;
}

// What sox itself decodes from a file: signed 16-bit little-endian values.
std::vector<short> DecodedBySox(const std::string &path)
{
    int status = -1;
    std::string raw =
        RunCommand("sox '" + path + "' -t raw -e signed-integer -b 16 -L - 2>/dev/null", &status);
    EXPECT_EQ(status, 0) << path;
    std::vector<short> values(raw.size() / 2);
    std::memcpy(values.data(), raw.data(), values.size() * 2);
    return values;
}

struct LoadResult
{
    int opened;
    int64_t count;
    std::vector<short> values;
    std::string messages;
};

// Reads a file as a loop does: one channel, every frame the mean of its
// channels, back in 16-bit values (truncated toward zero).
LoadResult LoadFile(const std::string &path)
{
    LoadResult result{};
    testing::internal::CaptureStderr();
    SoundFileReader file;
    result.opened = file.Open(path);
    if (result.opened) {
        result.count = file.GetFrames();
        std::vector<float> mono(result.count + 1);
        const int got = file.ReadMono(mono.data(), static_cast<int>(mono.size()));
        for (int i = 0; i < got; i++)
            result.values.push_back(static_cast<short>(mono[i] * 32768.0f));
    }
    file.Close();
    result.messages = testing::internal::GetCapturedStderr();
    return result;
}

// Frames of interleaved values, each the mean of its channels.
std::vector<short> MeanOfChannels(const std::vector<short> &interleaved, int channels)
{
    std::vector<short> mono;
    for (size_t f = 0; f + channels <= interleaved.size(); f += channels) {
        int sum = 0;
        for (int c = 0; c < channels; c++)
            sum += interleaved[f + c];
        mono.push_back(static_cast<short>(sum / channels));
    }
    return mono;
}

void SaveFile(const std::string &path, const std::vector<short> &values, WavFile::Channels channels)
{
    WavFile file;
    ASSERT_EQ(file.Open(path, WavFile::WRITE, channels), 1);
    Sample s(values.data(), static_cast<int>(values.size()));
    ASSERT_EQ(file.Save(s), 1);
    ASSERT_EQ(file.Close(), 1);
}

} // namespace

TEST(WavFileTest, MonoLoopGetsTheCanonicalHeaderAndItsValues)
{
    TempDir dir;
    std::vector<short> values = Ramp(1000);
    SaveFile(dir.File("loop.wav"), values, WavFile::MONO);

    std::string bytes = ReadFileBytes(dir.File("loop.wav"));
    ASSERT_EQ(bytes.size(), 2044u);
    EXPECT_EQ(bytes.substr(0, 44), CanonicalHeader(1, 2000));
    EXPECT_EQ(bytes.substr(28, 4), LE32(88200));
    EXPECT_EQ(bytes.substr(4, 4), LE32(2036));
    EXPECT_EQ(bytes.substr(44), Values(values));
}

TEST(WavFileTest, StereoRecordingCountsBothChannelsOfEveryBlock)
{
    TempDir dir;
    WavFile file;
    ASSERT_EQ(file.Open(dir.File("rec.wav"), WavFile::WRITE, WavFile::STEREO), 1);
    // Until Close the header carries the placeholders.
    std::string early = ReadFileBytes(dir.File("rec.wav"));
    Sample block(512 * 2);
    std::string expectedData;
    for (int b = 0; b < 3; b++) {
        for (int i = 0; i < block.GetLength(); i++)
            block.Set(i, static_cast<short>(b * 1000 + i));
        expectedData += Values(Contents(block));
        ASSERT_EQ(file.Save(block), 1);
    }
    EXPECT_EQ(file.GetSampleCount(), 3072);
    ASSERT_EQ(file.Close(), 1);

    std::string bytes = ReadFileBytes(dir.File("rec.wav"));
    EXPECT_EQ(bytes.substr(0, 44), CanonicalHeader(2, 6144));
    EXPECT_EQ(bytes.substr(22, 2), LE16(2));
    EXPECT_EQ(bytes.substr(28, 4), LE32(176400));
    EXPECT_EQ(bytes.substr(32, 2), LE16(4));
    EXPECT_EQ(bytes.substr(44), expectedData);
    if (early.size() >= 44) {
        EXPECT_EQ(early.substr(4, 4), LE32(36));
        EXPECT_EQ(early.substr(40, 4), LE32(2055));
    }
}

TEST(WavFileTest, WrittenFilesAreReadBySndfileAndSox)
{
    TempDir dir;
    std::vector<short> mono = Ramp(1000);
    std::vector<short> stereo = Ramp(3 * 1024, 11);
    SaveFile(dir.File("mono.wav"), mono, WavFile::MONO);
    SaveFile(dir.File("stereo.wav"), stereo, WavFile::STEREO);

    int status = -1;
    std::string info = RunCommand("sndfile-info '" + dir.File("mono.wav") + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(info.find("Sample Rate : 44100"), std::string::npos) << info;
    EXPECT_NE(info.find("Channels    : 1"), std::string::npos) << info;
    EXPECT_NE(info.find("Frames      : 1000"), std::string::npos) << info;
    EXPECT_EQ(info.find("Should"), std::string::npos) << info; // sndfile-info's complaints

    info = RunCommand("sndfile-info '" + dir.File("stereo.wav") + "'", &status);
    EXPECT_NE(info.find("Channels    : 2"), std::string::npos) << info;
    EXPECT_NE(info.find("Frames      : 1536"), std::string::npos) << info;

    EXPECT_EQ(RunCommand("sox --i -r '" + dir.File("stereo.wav") + "'"), "44100\n");
    EXPECT_EQ(RunCommand("sox --i -c '" + dir.File("stereo.wav") + "'"), "2\n");
    EXPECT_EQ(RunCommand("sox --i -s '" + dir.File("stereo.wav") + "'"), "1536\n");
    EXPECT_EQ(DecodedBySox(dir.File("mono.wav")), mono);
    EXPECT_EQ(DecodedBySox(dir.File("stereo.wav")), stereo);
}

TEST(WavFileTest, FilesMadeBySoxReadBackSampleForSample)
{
    TempDir dir;
    const std::string mono = dir.File("mono.wav");
    const std::string stereo = dir.File("stereo.wav");
    const std::string quad = dir.File("quad.wav"); // extensible format with a fact chunk
    int status = -1;
    RunCommand("sox -n -r 44100 -c 1 -b 16 -e signed-integer '" + mono + "' synth 0.2 sine 440 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    RunCommand("sox -n -r 44100 -c 2 -b 16 -e signed-integer '" + stereo +
                   "' synth 0.2 sine 440 sine 660 gain -1 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    RunCommand("sox -n -r 44100 -c 4 -b 16 -e signed-integer '" + quad + "' synth 0.05 sine 300 gain -1 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    ASSERT_NE(ReadFileBytes(quad).find("fact"), std::string::npos);

    LoadResult m = LoadFile(mono);
    EXPECT_EQ(m.opened, 1);
    EXPECT_EQ(m.count, 8820);
    EXPECT_EQ(m.values, DecodedBySox(mono));
    EXPECT_EQ(m.messages, "");

    LoadResult s = LoadFile(stereo);
    EXPECT_EQ(s.count, 8820);
    EXPECT_EQ(s.values, MeanOfChannels(DecodedBySox(stereo), 2));

    LoadResult q = LoadFile(quad);
    EXPECT_EQ(q.values, MeanOfChannels(DecodedBySox(quad), 4));
}

TEST(WavFileTest, FilesThatAreNotSoundAreRefused)
{
    TempDir dir;
    std::string pcm = Chunk("fmt ", PcmFormat(1));
    std::string data = Chunk("data", Values(Ramp(10)));
    WriteFileBytes(dir.File("nofmt.wav"), Riff(data));
    WriteFileBytes(dir.File("nodata.wav"), Riff(pcm + Chunk("LIST", "INFOxxxx")));
    WriteFileBytes(dir.File("avi.wav"), "RIFF" + LE32(100) + "AVI " + pcm + data);
    WriteFileBytes(dir.File("short.wav"), "RIF");
    WriteFileBytes(dir.File("text.wav"), "this is no sound\n");

    for (const char *name : {"nofmt.wav", "nodata.wav", "avi.wav", "short.wav", "text.wav"}) {
        std::string path = dir.File(name);
        SoundFileReader file;
        testing::internal::CaptureStderr();
        EXPECT_EQ(file.Open(path), 0) << name;
        EXPECT_FALSE(file.IsOpen()) << name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "WavFile: File open error, wrong format [" + path + "]\n")
            << name;
    }
}

TEST(WavFileTest, ChunksBeforeTheSoundAreSkippedNotPlayed)
{
    TempDir dir;
    std::vector<short> sound = Ramp(301);
    // An odd-sized chunk carries a pad byte that is not part of the next chunk.
    std::string chunks = Chunk("JUNK", std::string(27, 'j')) + Chunk("fmt ", PcmFormat(1)) +
                         Chunk("LIST", std::string("INFOICMT\x05\x00\x00\x00hello", 17)) +
                         Chunk("bext", std::string(3, 'b')) + Chunk("data", Values(sound)) +
                         Chunk("LIST", "INFOtrailing");
    WriteFileBytes(dir.File("chunks.wav"), Riff(chunks));
    LoadResult r = LoadFile(dir.File("chunks.wav"));
    EXPECT_EQ(r.opened, 1);
    EXPECT_EQ(r.count, 301);
    EXPECT_EQ(r.values, sound);
    EXPECT_EQ(r.messages, "");
}

TEST(WavFileTest, DamagedDataSizeNeverReadsPastTheFile)
{
    TempDir dir;
    std::vector<short> sound = Ramp(100);
    // A cut file, and size fields beyond the file: only what is there counts.
    const uint32_t sizes[] = {1000, 1000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    for (uint32_t size : sizes) {
        WriteFileBytes(dir.File("bad.wav"), CanonicalHeader(1, size) + Values(sound));
        LoadResult r = LoadFile(dir.File("bad.wav"));
        EXPECT_EQ(r.opened, 1) << size;
        EXPECT_EQ(r.count, 100) << size;
        EXPECT_EQ(r.values, sound) << size;
    }

    // An odd size drops the half value; the rest of the file is not sound.
    WriteFileBytes(dir.File("seven.wav"), CanonicalHeader(1, 7) + Values({1, 2, 3, 4, 5}));
    LoadResult seven = LoadFile(dir.File("seven.wav"));
    EXPECT_EQ(seven.count, 3);
    EXPECT_EQ(seven.values, (std::vector<short>{1, 2, 3}));
}

TEST(WavFileTest, SecondOpenKeepsWritingToTheFirstFile)
{
    TempDir dir;
    WavFile file;
    ASSERT_EQ(file.Open(dir.File("first.wav"), WavFile::WRITE, WavFile::MONO), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.Open(dir.File("second.wav"), WavFile::WRITE, WavFile::STEREO), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WavFile: File already open [" + dir.File("second.wav") + "]\n");
    EXPECT_FALSE(FileExists(dir.File("second.wav")));
    std::vector<short> sound = Ramp(20);
    Sample s(sound.data(), 20);
    EXPECT_EQ(file.Save(s), 1);
    EXPECT_EQ(file.Close(), 1);
    EXPECT_EQ(ReadFileBytes(dir.File("first.wav")), CanonicalHeader(1, 40) + Values(sound));
}

TEST(WavFileTest, NothingToDoReturnsZero)
{
    TempDir dir;
    WavFile file;
    Sample empty;
    Sample some(4);
    some.Zero();
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(file.Save(some), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WavFile: No stream open\n");

    ASSERT_EQ(file.Open(dir.File("e.wav"), WavFile::WRITE, WavFile::MONO), 1);
    ASSERT_EQ(file.Save(some), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.Save(empty), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(file.GetSampleCount(), 4);
    EXPECT_EQ(file.Close(), 1);
    EXPECT_EQ(file.GetSampleCount(), 0);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("e.wav")).size(), 52u);
}

TEST(WavFileTest, PathsThatCannotBeOpenedAreReported)
{
    TempDir dir;
    const std::string unwritable = dir.File("missing-folder/out.wav");
    const std::string missing = dir.File("absent.wav");
    WavFile file;
    SoundFileReader reader;
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.Open(unwritable, WavFile::WRITE, WavFile::STEREO), 0);
    EXPECT_EQ(reader.Open(missing), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WavFile: File open error [" + unwritable + "]\nWavFile: File open error [" + missing + "]\n");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Close(), 0);
}

TEST(WavFileTest, WriteFailuresAreReportedOnce)
{
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    WavFile file;
    ASSERT_EQ(file.Open("/dev/full", WavFile::WRITE, WavFile::STEREO), 1);
    // Larger than the stream's buffer, so the write reaches the device at once.
    Sample block(64 * 1024);
    block.Zero();
    testing::internal::CaptureStderr();
    EXPECT_EQ(file.Save(block), 0);
    EXPECT_EQ(file.Save(block), 0);
    EXPECT_EQ(file.Close(), 0);
    // One failure, one line: the later block and the close add nothing.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WavFile: Write error [/dev/full]\n");
    EXPECT_FALSE(file.IsOpen());
}
