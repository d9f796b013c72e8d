#ifndef LOOP_H
#define LOOP_H

#include "KorvelSound/Delay.h"
#include "KorvelSound/Filter.h"
#include "KorvelSound/Reverb.h"
#include "KorvelSound/Sample.h"

#include <cstdint>
#include <string>
#include <iosfwd>

class LoopHost;
class LoopPanel;

// One sound of the performance: a mono recording played round and round at
// its own speed and volume through its own filter, delay and reverb, recorded
// afresh or overdubbed from the input block and edited while it plays.
class Loop
{
public:
    static const int RecordBlockSize = 16384;

    explicit Loop(LoopHost *app);
    ~Loop();
    Loop(const Loop &) = delete;
    Loop &operator=(const Loop &) = delete;

    // One block of BufferSize samples into out; false when silent (out untouched).
    bool GetOutput(Sample &out);
    void EndRecord();
    // False (and the loop unchanged) when there is no memory for Length samples.
    bool AllocateMem(int Length);
    void Clear();
    void LoadWav(const std::string &path);
    void SaveWav(const std::string &path);
    int GetTotalLength();
    float GetMasterRatio();
    void SetPan(float pan);

    // Editing, between two audio cycles.
    void Cut(int Start, int End);
    void Copy(int Start, int End);
    void Paste(int Pos);
    void PasteMix(int Pos);
    void Silence(int Start, int End);
    void Reverse(int Start, int End);
    void Halve();
    void KeepHold();
    void Rotate(int Offset);
    void Double();
    void MatchLength(int Length);

    Filter m_Filter;
    Delay m_Delay;
    Reverb m_Reverb;
    int m_ID;
    float m_Pos;
    int m_DisplayPos;
    int m_HoldPos;
    bool m_Playing;
    bool m_Recording;
    bool m_Master;
    bool m_Delete;
    int64_t m_LoopLength;
    float m_Speed;
    float m_Volume;
    const short *m_Input; // BufferSize samples filled by the application each cycle
    Sample m_StoreBuffer;
    Sample m_HoldBuffer;
    Sample m_RecordBuffer;
    int m_RecordPos;
    float m_Pan;
    float m_LeftVol;
    float m_RightVol;
    bool m_StartRecord;
    bool m_Overdub;
    bool m_EffectsOn;
    LoopHost *m_App;
    LoopPanel *m_GUI;

private:
    void Record(float pos);
    void Overdub(float pos);
    void RecordFresh();
    void Play(Sample &out);
    void HoldCopy(const Sample &out);
    // After the sound changed length: the play length and position stay
    // within it and the hold buffer matches it.
    void FitToSound();
};

// Workspace record: playing state, mix, filter, effects flag, delay and
// reverb. The sound itself travels in a WAV file beside the workspace.
std::ostream &operator<<(std::ostream &out, Loop &loop);
std::istream &operator>>(std::istream &in, Loop &loop);

#endif
