#ifndef SOUND_FILE_READER_H
#define SOUND_FILE_READER_H

#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

// Reads any sound file libsndfile knows (WAV of any depth or encoding, AIFF,
// FLAC, Ogg Vorbis, CAF...) as one channel: every frame is the mean of its
// channels, at full scale +-1.0 (louder values are clamped to it, not-a-number
// is silence). Never reads beyond the frames the file
// announces, so a damaged header cannot make it invent sound.
class SoundFileReader
{
public:
    SoundFileReader();
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader &) = delete;
    SoundFileReader &operator=(const SoundFileReader &) = delete;

    // 1 when the file is open for reading; else one line on standard error and 0.
    int Open(const std::string &path);
    void Close();
    bool IsOpen() const { return m_File != nullptr; }

    int64_t GetFrames() const { return m_Frames; }
    int GetChannels() const { return m_Channels; }
    int GetRate() const { return m_Rate; }
    // A WAV file (plain or extensible), not another kind libsndfile reads.
    bool IsWav() const { return m_Wav; }
    int64_t GetFramesRead() const { return m_FramesRead; }

    // Up to count frames into out; the number read, 0 at the end or on a
    // read failure.
    int ReadMono(float *out, int count);

private:
    sf_private_tag *m_File;
    int64_t m_Frames;
    int64_t m_FramesRead;
    int m_Channels;
    int m_Rate;
    bool m_Wav = false;
    // One chunk of interleaved frames, reused from call to call.
    std::vector<float> m_Interleaved;
};

#endif
