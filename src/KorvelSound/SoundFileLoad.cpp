#include "KorvelSound/SoundFileLoad.h"

#include "KorvelInfo.h"
#include "KorvelSound/SampleClamp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <new>

namespace {

// Values made per chunk: few enough that a chunk, converted, takes well
// under a millisecond.
const int ChunkValues = 1024;
const int PackValues = 1 << 17;
// What is set aside at the start; a longer sound grows the buffer as it comes.
const int64_t MostReserved = 1 << 26;

short ToSample(float value)
{
    if (std::isnan(value)) return 0;
    return ClampSample(value * 32768.0f);
}

} // namespace

SoundFileLoad::SoundFileLoad() : m_Converting(false), m_FileRate(0), m_Stage(FAILED), m_Packed(0)
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
    // A file at a lower rate gives more values per frame read.
    const int64_t frames =
        std::max<int64_t>(int64_t(ChunkValues) * rate / std::max(KorvelInfo::Samplerate, rate), 1);
    m_Chunk.resize(frames);
    if (m_Reader.GetChannels() == 2) std::cerr << "Stereo wav file..." << std::endl;
    m_Stage = READING;
    return 1;
}

bool SoundFileLoad::Step(Clock::time_point deadline)
{
    try {
        do {
            if (m_Stage == READING)
                ReadChunk();
            else if (m_Stage == PACKING)
                PackChunk();
        } while (!IsFinished() && Clock::now() < deadline);
    } catch (const std::bad_alloc &) {
        std::cerr << "AllocateMem can't allocate any more memory!" << std::endl;
        Fail();
    }
    return IsFinished();
}

void SoundFileLoad::ReadChunk()
{
    if (m_Values.capacity() == 0) {
        const double ratio = static_cast<double>(KorvelInfo::Samplerate) / m_Reader.GetRate();
        m_Values.reserve(static_cast<size_t>(
            std::min<double>(static_cast<double>(m_Reader.GetFrames()) * ratio + 64, MostReserved)));
    }
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

void SoundFileLoad::Append(const float *values, size_t count)
{
    // A loop's sound is counted in ints.
    if (m_Values.size() + count > static_cast<size_t>(INT_MAX)) {
        std::cerr << "WavFile: File too long to load [" << m_Path << "]" << std::endl;
        Fail();
        return;
    }
    for (size_t i = 0; i < count; i++)
        m_Values.push_back(ToSample(values[i]));
}

void SoundFileLoad::FinishReading()
{
    const bool complete = m_Reader.GetFramesRead() == m_Reader.GetFrames();
    if (m_Converting) {
        // The converter's filter ends a value early or late; a loop must keep
        // the exact length of the file to stay in time with the others.
        const double exact =
            std::round(static_cast<double>(m_Reader.GetFramesRead()) * KorvelInfo::Samplerate / m_FileRate);
        m_Values.resize(static_cast<size_t>(std::min<double>(exact, INT_MAX)),
                        m_Values.empty() ? 0 : m_Values.back());
    }
    m_Reader.Close();
    // A damaged file gives what could be read; one that gives nothing of what
    // it promised leaves the loop as it was.
    if (!complete) {
        std::cerr << "WavFile: Read error" << std::endl;
        if (m_Values.empty()) {
            Fail();
            return;
        }
    }
    m_Stage = PACKING;
    if (m_Values.empty()) {
        Done();
        return;
    }
    const int length = static_cast<int>(m_Values.size());
    if (!m_Sound.Allocate(length) || !m_Hold.Allocate(length)) {
        std::cerr << "AllocateMem can't allocate any more memory!" << std::endl;
        Fail();
    }
}

void SoundFileLoad::PackChunk()
{
    const int length = static_cast<int>(m_Values.size());
    const int count = std::min(PackValues, length - m_Packed);
    std::copy(m_Values.begin() + m_Packed, m_Values.begin() + m_Packed + count, m_Sound.m_Data + m_Packed);
    std::fill(m_Hold.m_Data + m_Packed, m_Hold.m_Data + m_Packed + count, 0);
    m_Packed += count;
    if (m_Packed < length) return;
    std::vector<short>().swap(m_Values);
    Done();
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
    std::vector<short>().swap(m_Values);
}
