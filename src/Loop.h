#ifndef LOOP_H
#define LOOP_H

#include "Engine/HandOver.h"
#include "Engine/LevelPeak.h"
#include "Engine/TakeRoom.h"
#include "Engine/TriggerMarker.h"
#include "KorvelSound/Delay.h"
#include "KorvelSound/Filter.h"
#include "KorvelSound/Reverb.h"
#include "KorvelSound/Sample.h"
#include "Sync/TempoMap.h"
#include "KorvelSound/SoundFileLoad.h"
#include "Undo/LoopHistory.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <iosfwd>
#include <vector>

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
    // After a block, on the window's side: the panel follows a sound that
    // moved in memory and, when the loop sounded, its play position.
    void ShowOnPanel();

    // While an audio thread runs the blocks. Before a fresh take starts, the
    // GUI makes its room (PrepareTake); during the take it adds what the
    // take filled to the sound (CollectTake). A block that found the loop
    // held by the GUI (MissedBlock) still records a fresh take; the play
    // position catches up when the loop is let go, so it stays in time.
    void PrepareTake();
    // Record went down: the engine starts the take at its next block, or,
    // quantized, on the loop's next line (ending it bars on, if given).
    void BeginTake(bool quantized = false, int bars = 0);
    void CollectTake();
    // Ends recording on the engine's side, returning once it did; EndRecord
    // follows. A take placed back by the round trip ends once the input that
    // belongs to it came in.
    void StopTake();
    // On the engine's side. A take starts, or ends after the input still due
    // to it (at once when it is placed back by nothing); TakeEnded says it
    // did. A pedal's frame (the engine frame its event came in at, -1 for a
    // click) is where its take starts or ends.
    void StartTake(int64_t frame = -1, bool byPedal = false);
    void RequestStop(int64_t frame = -1);
    // A take asked to start ahead of time ends by itself at that input frame.
    void EndTakeAt(int64_t frame) { m_TakeEndAt = frame; }
    // An end asked for ahead of time is called off: the take goes on.
    void CancelStop()
    {
        m_TakeTail = -1;
        m_TakeEndAt = -1;
    }

    // Set by the engine for one block: playback starts at that frame of the
    // block (0: from its first), or stops at that frame (-1: it does not).
    int m_PlayFrom = 0;
    int m_PlayTo = -1;
    // Set by the engine for one block: a playing loop goes back to its
    // start at that frame of the block (-1: it does not).
    int m_JumpAt = -1;
    // A trigger marker's quantized restart: the engine frame it falls at (-1: none).
    int64_t m_RestartAt = -1;
    // A quantized change of Play, on the engine's side: at that frame (-1:
    // none) m_Playing becomes m_PlayTarget.
    std::atomic<int64_t> m_PlayAt{-1};
    bool m_PlayTarget = false;
    // Where Play, stop and takes fall when asked for: on the next beat, bar
    // or lap of the master loop, or at once (Off). Set by command.
    TempoMap::Step m_Quantize = TempoMap::Off;
    // While a sync source leads: the grid beat (counted from its origin,
    // modulo the loop's beats) its laps start on, and the play length that
    // was locked (-1: not locked). The engine's only.
    int64_t m_LockBeat = -1;
    int64_t m_LockLength = 0;
    // The engine frame a quantized take starts or ends at, for the window
    // to show it waiting (-1: none asked).
    std::atomic<int64_t> m_TakeAt{-1};
    bool TakeEnded() const { return m_TakeEnded.load(std::memory_order_acquire); }
    void MissedBlock();
    bool HasTakeRoom() const { return m_TakeRoom != nullptr; }
    // A pedal's take starts on the audio thread with no GUI to copy the sound
    // for undo first: the GUI keeps the state before ready (and a fresh
    // take's room), and the engine may start one while nothing changed it
    // since. The GUI follows a take a pedal started (BeginPedalTake, then
    // EndRecord once it ended) and presses Record itself for one the engine
    // could not start (m_GuiPresses).
    void PrepareForPedal();
    bool EngineMayStartTake() const;
    void BeginPedalTake();
    std::atomic<bool> m_PedalTake{false};
    // What the loop played, for its meter.
    LevelPeak m_Level;
    std::atomic<int> m_GuiPresses{0};
    void EndRecord();
    // False (and the loop unchanged) when there is no memory for Length samples.
    bool AllocateMem(int Length);
    void Clear();
    // Loads a sound file at once; the loop is unchanged when it fails.
    void LoadWav(const std::string &path);
    // Starts loading a sound file in slices (false when it cannot be opened;
    // the loop and any load under way stay as they were). StepLoad works on
    // it until the deadline and returns true once the loop took the new
    // sound, all of it in that one step.
    bool StartLoad(const std::string &path);
    bool StepLoad(SoundFileLoad::Clock::time_point deadline);
    bool IsLoading() const { return m_Load != nullptr; }
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
    // A rotation that goes on from the previous one (a drag of the sound)
    // is one undo step with it.
    void Rotate(int Offset, bool sameGesture = false);
    void Double();
    void MatchLength(int Length);

    // How many samples each fade takes (KorvelInfo::FadeMs at the sample
    // rate); 0 when fades are off. Fades at the seam (a loop shorter than two
    // fades has none), at every start, stop and jump of playback and at an
    // overdub's ends are made as the loop plays and leave the sound alone;
    // the edits fade their joins into the sound.
    int FadeFrames() const;

    // Every change of the sound and play length is a step of m_History: the
    // operations above begin and end one each. The Record button going down
    // begins one (the state before the take), EndRecord ends it.
    void BeginChange(bool join = false);
    void EndChange();
    // Undo during a take ends it and drops what it recorded; redo waits for
    // the take to end. Both return whether the sound changed.
    bool Undo();
    bool Redo();
    // Grows with every change of the sound (an edit, a take, an undo or
    // redo, a loaded file), for telling sound not yet saved.
    int64_t Changes() const { return m_Changes; }

    Filter m_Filter;
    Delay m_Delay;
    Reverb m_Reverb;
    int m_ID;
    // The play position in samples, in double: a float can no longer move by
    // a step of 0.25 from 2^22 on (95 s at quarter speed), nor by 1 from
    // 2^24, and rounds fractional speeds ever coarser on the way there.
    double m_Pos;
    // Where the last block left m_Pos, for the windows to read.
    std::atomic<double> m_ShownPos{0.0};
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
    // Set by the engine before each block: how many frames after the output
    // a sound played along with it reaches m_Input (the round trip and the
    // recording path). A take starts and ends that much later, and an
    // overdub writes that far back, so what was played lands where it was
    // heard. 0 records the input as it comes.
    int m_TakeLatency;
    // Set by the engine before each block: the engine frame it starts at.
    int64_t m_BlockFrame;
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
    // What the last block's play step covered, for the trigger pass: from
    // m_StepFrom to m_StepTo, going round the end of the play length when
    // m_Wrapped. A jump of m_Pos between blocks is no step and passes nothing.
    double m_StepFrom;
    double m_StepTo;
    bool m_Wrapped;
    // Whether the last block played or recorded anything.
    bool m_Sounded;
    // The markers on the ring, in the window's order.
    std::vector<TriggerMarker> m_Markers;
    LoopHost *m_App;
    LoopPanel *m_GUI;
    LoopHistory m_History;
    // The GUI holds the loop for changes too big for a command.
    HandOver m_HandOver;

private:
    void Record(double pos);
    // Each records the input frames [from, to) of the block.
    void Overdub(double pos, const short *input, int from, int to);
    void RecordFresh(int from, int to);
    void RecordFreshInto(TakeRoom &room, int from, int to);
    // Which input frames of this block belong to the take.
    void TakeSpan(int &from, int &to);
    void EndTake();
    // Adds what the take room holds (and, at the end, the block in progress)
    // to the sound.
    void AppendFullBlocks();
    // Steps the play position over the blocks the loop missed, as playback
    // would have.
    void CatchUp();
    void StepOver(int64_t frames);
    // Plays the block's frames [from, to), the others silent; returns whether
    // the position went round the end of the play length.
    bool Play(Sample &out, int from = 0, int to = -1, bool silenceRest = true);
    // A playing block that goes back to the start at that frame: what was
    // heard fades out from there as the start fades in.
    bool PlayWithJump(Sample &out, bool heard, int at);
    // Fades in what a block plays after a start or a jump (from its frame
    // from on), and adds what was playing before a stop or a jump, fading
    // out from where it was.
    void FadePlayed(Sample &out, bool heard, int from = 0);
    void StartTail();
    void AddTail(Sample &out, int from = 0);
    void HoldCopy(const Sample &out);
    void TakeSound(Sample &sound, Sample &hold);
    // After the sound changed length: the play length and position stay
    // within it and the hold buffer matches it.
    void FitToSound();
    // A fresh take grows the sound block by block; the hold buffer waits.
    bool FreshTakeRunning() const { return !m_StartRecord && !m_Overdub; }

    std::unique_ptr<SoundFileLoad> m_Load;
    std::unique_ptr<TakeRoom> m_TakeRoom;
    short *m_TakeBlock;       // the room's block being filled
    int64_t m_MissedFrames;   // while held by the GUI
    int m_TakeShift;          // m_TakeLatency when the take started
    int64_t m_TakeStart;      // a pedal's frame, or -1
    int m_TakeSkip;           // input frames still due before the take's first
    int m_TakeTail;           // still to record after a stop; -1 while none was asked
    int64_t m_TakeEndAt = -1; // an input frame the take ends at by itself, or -1
    int64_t m_AfterTake;      // frames since a placed-back fresh take ended

    // The take's frames so far and m_TakeTail before this block's span, for
    // an overdub's fades.
    int64_t m_TakeFrames = 0;
    int m_SpanTail = -1;
    // Whether the last block was heard and where it left the position: a
    // block that goes on from elsewhere fades.
    bool m_Heard = false;
    double m_HeardEnd = 0.0;
    int m_RiseDone = 0; // samples of the fade-in played
    // What was heard before a stop or a jump, fading out from m_TailPos
    // over m_TailLeft more samples from m_TailGain.
    double m_TailPos = 0.0;
    int m_TailLeft = 0;
    float m_TailGain = 1.0f;
    std::atomic<bool> m_TakeEnded;
    // An overdub's input while the GUI held the loop, written after.
    std::vector<short> m_Backlog;
    int m_BacklogFrames = 0;
    int64_t m_OverdubLost = 0;
    int64_t m_Changes = 0;
    // The state before a pedal's take, kept ready by the GUI.
    std::unique_ptr<Sample> m_Ready;
    int64_t m_ReadyLength;
    std::atomic<unsigned> m_ReadyHolds;
    std::atomic<bool> m_ReadyOk;
    // The sound the panel was last shown.
    const short *m_ShownSound;
    // After undo or redo: the position stays within the play length and the
    // hold buffer matches the sound.
    void FitToStep();
};

// Workspace record (read back by WorkspaceReader): playing state, mix,
// filter, effects flag, delay and reverb. The sound itself travels in a WAV
// file beside the workspace.
std::ostream &operator<<(std::ostream &out, Loop &loop);

#endif
