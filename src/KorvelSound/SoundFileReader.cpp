#include "KorvelSound/SoundFileReader.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

SoundFileReader::SoundFileReader() : m_File(nullptr), m_Frames(0), m_FramesRead(0), m_Channels(0), m_Rate(0)
{
}

SoundFileReader::~SoundFileReader()
{
    Close();
}

int SoundFileReader::Open(const std::string &path)
{
    Close();
    // Opened here rather than by libsndfile, so that a missing file and a
    // file that is not sound get their own messages.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "WavFile: File open error [" << path << "]" << std::endl;
        return 0;
    }
    SF_INFO info = {};
    m_File = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (!m_File) {
        close(fd);
        std::cerr << "WavFile: File open error, wrong format [" << path << "]" << std::endl;
        return 0;
    }
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
        Close();
        std::cerr << "WavFile: File open error, wrong format [" << path << "]" << std::endl;
        return 0;
    }
    m_Frames = info.frames;
    m_Channels = info.channels;
    m_Rate = info.samplerate;
    const int type = info.format & SF_FORMAT_TYPEMASK;
    m_Wav = type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX;
    return 1;
}

void SoundFileReader::Close()
{
    if (m_File) sf_close(m_File);
    m_File = nullptr;
    m_Frames = 0;
    m_FramesRead = 0;
    m_Channels = 0;
    m_Rate = 0;
}

namespace {

// Not-a-number and infinities (a damaged float file) become silence and full
// scale before they are mixed or converted: the converter's filter would
// smear one such value over milliseconds of its neighbours.
float Clean(float value)
{
    if (std::isnan(value)) return 0.0f;
    return std::max(-1.0f, std::min(value, 1.0f));
}

} // namespace

int SoundFileReader::ReadMono(float *out, int count)
{
    if (!m_File || count <= 0) return 0;
    const int64_t wanted = std::min<int64_t>(count, m_Frames - m_FramesRead);
    if (wanted <= 0) return 0;
    m_Interleaved.resize(static_cast<size_t>(wanted) * m_Channels);
    const sf_count_t got = sf_readf_float(m_File, m_Interleaved.data(), wanted);
    if (got <= 0) return 0;
    const float *frame = m_Interleaved.data();
    for (sf_count_t f = 0; f < got; f++, frame += m_Channels) {
        float sum = 0.0f;
        for (int c = 0; c < m_Channels; c++)
            sum += Clean(frame[c]);
        out[f] = sum / m_Channels;
    }
    m_FramesRead += got;
    return static_cast<int>(got);
}
