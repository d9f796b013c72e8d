#include "KorvelSound/SoundFileLoad.h"

#include "KorvelInfo.h"
#include "KorvelSound/SampleClamp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <new>
#include <sys/stat.h>

namespace {

// Values made per chunk: few enough that a chunk, converted, takes well
// under a millisecond.
const int ChunkValues = 1024;
const int SilenceValues = 1 << 17;

short ToSample(float value)
{
    if (std::isnan(value)) return 0;
    return ClampSample(value * 32768.0f);
}

} // namespace

SoundFileLoad::SoundFileLoad()
    : m_Converting(false), m_FileRate(0), m_Stage(FAILED), m_Length(0), m_Capacity(0), m_Written(0),
      m_Silenced(0)
{
}

SoundFileLoad::Clock::duration SoundFileLoad::SliceTime()
{
    return std::chrono::microseconds(500000LL * KorvelInfo::BufferSize / std::max(KorvelInfo::Samplerate, 1));
}

int SoundFileLoad::Open(const std::string &path)
{
    m_Path = path;
    m_Stage = FAILED;
    if (!m_Reader.Open(path)) return 0;
    const int rate = m_Reader.GetRate();
    m_FileRate = rate;
    m_Converting = rate != KorvelInfo::Samplerate;
    if (m_Converting && !RateConverter::CanConvert(rate, KorvelInfo::Samplerate)) {
        std::cerr << "WavFile: File open error, can't play a rate of " << rate << " Hz [" << path << "]"
                  << std::endl;
        m_Reader.Close();
        return 0;
    }
    if (m_Converting && !m_Converter.Start(rate, KorvelInfo::Samplerate)) {
        m_Reader.Close();
        return 0;
    }
    // A loop's sound is counted in ints: a longer one is refused before
    // anything is read, not after minutes and gigabytes.
    const double length =
        m_Converting ? std::round(static_cast<double>(m_Reader.GetFrames()) * KorvelInfo::Samplerate / rate)
                     : static_cast<double>(m_Reader.GetFrames());
    if (length > INT_MAX) {
        std::cerr << "WavFile: File too long to load [" << path << "]" << std::endl;
        m_Reader.Close();
        return 0;
    }
    m_Length = static_cast<int64_t>(length);
    // A header may promise far more than the file holds: room is made for
    // what its bytes can give (one frame a byte, the densest plain format)
    // and grows only as more arrives, so a small damaged file never takes
    // gigabytes. A compressed file that gives more grows its room by halves.
    struct stat file;
    const double bytes = stat(path.c_str(), &file) == 0 ? static_cast<double>(file.st_size) : 0.0;
    const double ratio = static_cast<double>(KorvelInfo::Samplerate) / rate;
    m_Capacity = std::min<int64_t>(m_Length, static_cast<int64_t>(bytes * ratio) + 2 * ChunkValues);
    m_Written = 0;
    m_Silenced = 0;
    // A file at a lower rate gives more values per frame read.
    const int64_t frames =
        std::max<int64_t>(int64_t(ChunkValues) * rate / std::max(KorvelInfo::Samplerate, rate), 1);
    m_Chunk.resize(frames);
    if (m_Reader.GetChannels() == 2)
        std::cerr << (m_Reader.IsWav() ? "Stereo wav file..." : "Stereo sound file...") << std::endl;
    m_Stage = READING;
    return 1;
}

bool SoundFileLoad::Step(Clock::time_point deadline)
{
    try {
        do {
            if (m_Stage == READING)
                ReadChunk();
            else if (m_Stage == SILENCING)
                SilenceChunk();
        } while (!IsFinished() && Clock::now() < deadline);
    } catch (const std::bad_alloc &) {
        std::cerr << "AllocateMem can't allocate any more memory!" << std::endl;
        Fail();
    }
    return IsFinished();
}

void SoundFileLoad::ReadChunk()
{
    if (!MakeRoom(m_Capacity)) return;
    const int got = m_Reader.ReadMono(m_Chunk.data(), static_cast<int>(m_Chunk.size()));
    if (m_Converting) {
        if (!m_Converter.Convert(m_Chunk.data(), got, got == 0, m_Converted)) {
            Fail();
            return;
        }
        Append(m_Converted.data(), m_Converted.size());
    } else {
        Append(m_Chunk.data(), static_cast<size_t>(got));
    }
    if (got == 0 && m_Stage == READING) FinishReading();
}

bool SoundFileLoad::MakeRoom(int64_t values)
{
    values = std::min(values, m_Length);
    if (values <= m_Sound.m_Length || values == 0) return true;
    Sample bigger;
    if (!bigger.Allocate(static_cast<int>(values))) {
        std::cerr << "AllocateMem can't allocate any more memory!" << std::endl;
        Fail();
        return false;
    }
    std::copy(m_Sound.m_Data, m_Sound.m_Data + m_Written, bigger.m_Data);
    m_Sound.Swap(bigger);
    m_Capacity = values;
    return true;
}

void SoundFileLoad::Append(const float *values, size_t count)
{
    if (m_Written + static_cast<int64_t>(count) > m_Capacity &&
        !MakeRoom(std::max(m_Written + static_cast<int64_t>(count), m_Capacity + m_Capacity / 2)))
        return;
    // The converter's filter may end a value or two late: the header's length holds.
    const size_t room = static_cast<size_t>(m_Sound.m_Length - m_Written);
    short *out = m_Sound.m_Data + m_Written;
    for (size_t i = 0; i < std::min(count, room); i++)
        out[i] = ToSample(values[i]);
    m_Written += static_cast<int64_t>(std::min(count, room));
}

void SoundFileLoad::FinishReading()
{
    const bool complete = m_Reader.GetFramesRead() == m_Reader.GetFrames();
    int64_t length = m_Written;
    if (m_Converting) {
        // The converter's filter ends a value early or late; a loop must keep
        // the exact length of the file to stay in time with the others.
        length = std::min<int64_t>(m_Length, std::llround(static_cast<double>(m_Reader.GetFramesRead()) *
                                                          KorvelInfo::Samplerate / m_FileRate));
        if (!MakeRoom(length)) return;
        const short last = m_Written > 0 ? m_Sound.m_Data[m_Written - 1] : 0;
        if (length > m_Written) std::fill(m_Sound.m_Data + m_Written, m_Sound.m_Data + length, last);
    }
    m_Reader.Close();
    // A damaged file gives what could be read; one that gives nothing of what
    // it promised leaves the loop as it was.
    if (!complete) {
        std::cerr << "WavFile: Read error" << std::endl;
        if (length == 0) {
            Fail();
            return;
        }
    }
    if (length == 0) m_Sound.Clear();
    if (length < m_Sound.m_Length) m_Sound.CropTo(static_cast<int>(length));
    m_Stage = SILENCING;
    if (length == 0) {
        Done();
        return;
    }
    if (!m_Hold.Allocate(static_cast<int>(length))) {
        std::cerr << "AllocateMem can't allocate any more memory!" << std::endl;
        Fail();
    }
}

void SoundFileLoad::SilenceChunk()
{
    const int length = m_Hold.GetLength();
    const int count = std::min(SilenceValues, length - m_Silenced);
    std::fill(m_Hold.m_Data + m_Silenced, m_Hold.m_Data + m_Silenced + count, 0);
    m_Silenced += count;
    if (m_Silenced == length) Done();
}

void SoundFileLoad::Done()
{
    m_Stage = DONE;
    if (m_Converting)
        std::cerr << "Converted from " << m_FileRate << " Hz to " << KorvelInfo::Samplerate << " Hz ["
                  << m_Path << "]" << std::endl;
}

void SoundFileLoad::Fail()
{
    m_Stage = FAILED;
    m_Reader.Close();
    m_Sound.Clear();
    m_Hold.Clear();
}
