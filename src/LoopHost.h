#ifndef LOOP_HOST_H
#define LOOP_HOST_H

#include "KorvelSound/Sample.h"
#include "Undo/HistoryBudget.h"

class AudioEngine;
class Loop;
class Fl_Window;

// What a loop needs of the application: the clipboard shared by all loops and
// the master loop's timing. Kept free of FLTK so the engine builds and tests
// without a display; LoopsApp derives from it.
class LoopHost
{
public:
    LoopHost();
    virtual ~LoopHost();

    void Cut(Sample &sample, int start, int end);
    void Copy(Sample &sample, int start, int end);
    bool Paste(Sample &sample, int position);
    void PasteMix(Sample &sample, int position);

    // Records the master loop's timing; the application also clears the
    // master light of every other loop.
    virtual void SetMaster(int id, float length, float speed);
    // The plug-in's window, handed to loop displays so their cursor keeps
    // off it; only a pointer here, so no FLTK is needed. None by default.
    virtual Fl_Window *PluginWindow() const { return nullptr; }
    // The engine that plays the loops, through which every change to what
    // they play goes; none for a loop played directly (tests).
    virtual AudioEngine *Engine() { return nullptr; }
    // A take of the loop has ended (fresh: the loop was empty before it).
    virtual void TakeEnded(Loop &, bool) {}
    // How many bars a quantized take lasts by itself (0: until asked to end).
    virtual int TakeBars() const { return 0; }
    // A bar of the beat grid in frames when Match is to round to whole bars
    // (0: Match makes the master's length exactly, as it always did).
    virtual double MatchBarFrames() const { return 0; }

    Sample m_Clipboard;
    float m_MasterLength; // play length in samples of the master loop
    float m_MasterSpeed;
    float m_MasterPeriod; // m_MasterLength / m_MasterSpeed
    int m_MasterID;       // -1 until a loop is made master
    // Shared by the undo histories of all loops.
    HistoryBudget m_HistoryBudget;
};

#endif
