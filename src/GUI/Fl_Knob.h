#ifndef FL_KNOB_H
#define FL_KNOB_H

#include <FL/Fl_Valuator.H>

// A rotary valuator drawn as a shaded knob with a scale round it. Angles are
// degrees from straight down, growing clockwise on the screen; the default
// range leaves a 70-degree gap at the bottom. Turning is relative to the
// current value, so the knob never jumps across the gap.
class Fl_Knob : public Fl_Valuator
{
public:
    Fl_Knob(int x, int y, int w, int h, const char *label = 0);
    ~Fl_Knob();

    // Bits 0-1: scale (0 linear, 1..3 logarithmic decades); above 3 a bar cursor.
    void SetKnobType(int type);

    int m_KnobType;
    float m_CursorSize; // fraction of half the knob-top radius
    int m_ScaleTicks;   // intervals of the linear scale
    short m_MinAngle;
    short m_MaxAngle;

protected:
    void draw() override;
    int handle(int event) override;

private:
    void DrawScale(int cx, int cy, int half);
    void DrawCursor(int cx, int cy, int side);
    double ValueAngle() const;
};

#endif
