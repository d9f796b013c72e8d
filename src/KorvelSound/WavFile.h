#ifndef WAV_FILE_H
#define WAV_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

class Sample;

// Moves 16-bit PCM audio between a Sample and a RIFF/WAVE file. Writes the
// canonical 44-byte header (sizes patched on Close); reads the "data" chunk
// wherever it starts.
class WavFile
{
public:
    enum Mode
    {
        READ,
        WRITE
    };
    enum Channels
    {
        MONO,
        STEREO
    };

    WavFile();
    ~WavFile();
    WavFile(const WavFile &) = delete;
    WavFile &operator=(const WavFile &) = delete;

    int Open(const std::string &path, Mode mode, Channels channels);
    int Close();
    int Save(Sample &data);
    int Load(Sample &data);
    int GetSampleCount() const { return m_Count; }
    bool IsStereo() const { return m_Stereo; }
    bool IsOpen() const { return m_Stream != nullptr; }

private:
    FILE *m_Stream;
    int32_t m_Count;
    bool m_Stereo;
    Mode m_Mode;
    // Values the header of a file opened for reading promised.
    int32_t m_PromisedCount;
    // For the write-error message.
    std::string m_Path;

    int OpenForWriting(const std::string &path, Channels channels);
    int OpenForReading(const std::string &path);
    void WrongFormat(const std::string &path);
};

#endif
