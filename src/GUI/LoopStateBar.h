#ifndef LOOP_STATE_BAR_H
#define LOOP_STATE_BAR_H

#include "GUI/LoopStrip.h"

#include <FL/Fl_Double_Window.H>

#include <string>
#include <vector>

class Fl_Choice;
class LevelMeter;
class StatusLine;

// The foot of a loop window: the loop's state as a large coloured word that
// reads from across a dark stage, its level, whether its sound is faded at
// the seams, and the last message about the loop. A window of its own inside
// the loop's, so its meter's redraws copy only the bar to the screen, not the
// whole ring: with many loop windows that is most of what the meters cost.
class LoopStateBar : public Fl_Double_Window
{
public:
    LoopStateBar(int x, int y, int w);

    // At display rate: the loop's state and its peak (0 ... 32767) since the
    // last look (negative: the meter stays as it is).
    void Show(LoopStrip::State state, int peak);
    // Messages about this loop (oldest first); called every look, so an old one goes.
    void Say(const std::vector<std::string> &lines);
    // The fade length the loop plays with, in milliseconds (0: none).
    void ShowFades(int milliseconds);
    static const char *Word(LoopStrip::State state);

    LoopStrip::State m_State;
    LevelMeter *m_Meter;
    StatusLine *m_Status;
    // Where the loop's Play, stop and takes fall: Off, Beat, Bar, Master loop
    // (in TempoMap::Step's order).
    Fl_Choice *m_Quantize;

    static constexpr int Height = 42;
    static constexpr int StateWidth = 150;

protected:
    void draw() override;
    int handle(int event) override;

private:
    std::string m_Fades;
    int m_FadeMs = -1;
};

#endif
