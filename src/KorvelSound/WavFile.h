#ifndef WAV_FILE_H
#define WAV_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

class Sample;

// Moves 16-bit PCM audio between a Sample and a RIFF/WAVE file. Writes the
// canonical 44-byte header (sizes patched on Close); reads the "data" chunk
// wherever it starts. A file is written under a temporary name beside its
// path and takes its place at Close only when every byte got to the disk, so
// a failed save leaves the earlier file as it was. A failed write is
// reported once; the half-written file is removed at once and nothing more
// is written.
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
    // For a caller that reports a failed save in its own words: write
    // failures then give no message of their own.
    void ReportWriteErrors(bool on) { m_ReportWriteErrors = on; }
    // A file being written gets this text as its comment (a LIST/INFO/ICMT
    // chunk after the sound, which readers of the sound skip).
    void SetComment(const std::string &text) { m_Comment = text; }
    // The comment of a WAV file; empty when it has none or cannot be read.
    static std::string ReadComment(const std::string &path);

private:
    FILE *m_Stream;
    int32_t m_Count;
    bool m_Stereo;
    Mode m_Mode;
    // Values the header of a file opened for reading promised.
    int32_t m_PromisedCount;
    // For the write-error message.
    std::string m_Path;
    // Where a file opened for writing goes at Close, and the name it is
    // written under until then (empty when written in place: a device).
    std::string m_Target;
    std::string m_TempPath;
    // The size limit of the format was reached: later blocks are dropped.
    bool m_Full;
    // A write failed and was reported: the calls that follow stay quiet.
    bool m_Failed;
    bool m_ReportWriteErrors;
    std::string m_Comment;

    bool WriteComment(uint32_t &riffSize);

    FILE *OpenTemporary(const std::string &path);
    // Reports a write failure, closes and removes the half-written file.
    void WriteFailed();

    int OpenForWriting(const std::string &path, Channels channels);
    int OpenForReading(const std::string &path);
    void WrongFormat(const std::string &path);
};

#endif
