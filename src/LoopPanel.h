#ifndef LOOP_PANEL_H
#define LOOP_PANEL_H

// What a loop asks of its panel after every block it produces. The loop knows
// its panel only through this, so the engine needs no FLTK.
class LoopPanel
{
public:
    virtual ~LoopPanel() = default;
    // Moves the display's play cursor to the loop's position.
    virtual void DrawPosMarker() = 0;
    // The loop's sound now lies elsewhere in memory (a take replaced or grew
    // it during the audio cycle): the display must stop reading the old one.
    virtual void SoundMoved() {}
};

#endif
