#ifndef LOOP_PANEL_LOOK_H
#define LOOP_PANEL_LOOK_H

#include <FL/Enumerations.H>
#include <FL/Fl_Widget.H>

class Fl_Button;
class Fl_Knob;
class Fl_LED_Button;
class Fl_Slider;
class Fl_Value_Output;

// The looks a loop window's table of controls repeats, so the window only
// says where each control goes and what it does.
class LoopPanelLook
{
public:
    static Fl_Slider *Slider(int x, int y, const char *label, double maximum, double step,
                             Fl_Callback *handler);
    static Fl_Knob *Knob(int x, int y, int size, const char *label, double maximum, double step, double value,
                         Fl_Callback *handler);
    static Fl_Button *Button(int x, int y, const char *label, uchar type, Fl_Callback *handler);
    static Fl_LED_Button *LED(int x, int y, const char *label, int value, Fl_Callback *handler);
    static Fl_Value_Output *Readout(int x, int y, int w);
};

#endif
