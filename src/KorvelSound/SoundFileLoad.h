#ifndef SOUND_FILE_LOAD_H
#define SOUND_FILE_LOAD_H

#include "KorvelSound/RateConverter.h"
#include "KorvelSound/Sample.h"
#include "KorvelSound/SoundFileReader.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A sound file on its way into a loop: read a chunk at a time, mixed to one
// channel, converted to Samplerate and to 16 bits straight into the loop's
// buffer, sized from the file's header where the file's size bears it out,
// so memory never holds more than the sound and a chunk. Each Step does as much as fits before a deadline, so
// a long file loads between audio cycles without delaying one. Nothing is touched outside this object until
// the loop takes the result.
class SoundFileLoad
{
public:
    typedef std::chrono::steady_clock Clock;

    SoundFileLoad();
    SoundFileLoad(const SoundFileLoad &) = delete;
    SoundFileLoad &operator=(const SoundFileLoad &) = delete;

    // Work given to loading in one audio cycle: half a block, so that with
    // the cycle's own work the next block is still written in time.
    static Clock::duration SliceTime();

    // 1 when the file can be loaded; else one line on standard error and 0.
    int Open(const std::string &path);
    // Works until the deadline, and at least one chunk; true once finished.
    bool Step(Clock::time_point deadline);
    bool IsFinished() const { return m_Stage == DONE || m_Stage == FAILED; }
    // Finished with a sound to take (possibly an empty one).
    bool Succeeded() const { return m_Stage == DONE; }
    const std::string &GetPath() const { return m_Path; }

    // Once succeeded: the sound, and a silent hold buffer of the same length.
    Sample m_Sound;
    Sample m_Hold;

private:
    enum Stage
    {
        READING,
        SILENCING,
        DONE,
        FAILED
    };

    void ReadChunk();
    void Append(const float *values, size_t count);
    void FinishReading();
    void SilenceChunk();
    void Done();
    void Fail();

    SoundFileReader m_Reader;
    RateConverter m_Converter;
    bool m_Converting;
    int m_FileRate;
    std::string m_Path;
    Stage m_Stage;
    std::vector<float> m_Chunk;
    std::vector<float> m_Converted;
    // Grows the sound's room to values (at most the announced length),
    // keeping what is in; false, failed, when there is no memory.
    bool MakeRoom(int64_t values);

    // The sound's length as the header announces it, the room made for it
    // so far, and what is in.
    int64_t m_Length;
    int64_t m_Capacity;
    int64_t m_Written;
    int m_Silenced;
};

#endif
