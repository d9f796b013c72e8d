#include "GUI/LoopPanelLook.h"

#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "KorvelInfo.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Output.H>

Fl_Slider *LoopPanelLook::Slider(int x, int y, const char *label, double maximum, double step,
                                 Fl_Callback *handler)
{
    Fl_Slider *slider = new Fl_Slider(x, y, 20, 70, label);
    slider->type(FL_VERT_NICE_SLIDER);
    slider->color(KorvelInfo::PanelBackColour);
    slider->selection_color(KorvelInfo::PanelColour);
    slider->labelsize(10);
    slider->maximum(maximum);
    slider->step(step);
    slider->value(0);
    slider->callback(handler);
    return slider;
}

Fl_Knob *LoopPanelLook::Knob(int x, int y, int size, const char *label, double maximum, double step,
                             double value, Fl_Callback *handler)
{
    Fl_Knob *knob = new Fl_Knob(x, y, size, size, label);
    knob->color(KorvelInfo::PanelColour);
    knob->SetKnobType(0);
    knob->labelsize(10);
    knob->maximum(maximum);
    knob->step(step);
    knob->value(value);
    knob->callback(handler);
    return knob;
}

Fl_Button *LoopPanelLook::Button(int x, int y, const char *label, uchar type, Fl_Callback *handler)
{
    Fl_Button *button = new Fl_Button(x, y, 40, 14, label);
    button->type(type);
    button->color(KorvelInfo::PanelBackColour);
    button->down_box(FL_DOWN_BOX);
    button->labelsize(10);
    button->callback(handler);
    return button;
}

Fl_LED_Button *LoopPanelLook::LED(int x, int y, const char *label, int value, Fl_Callback *handler)
{
    Fl_LED_Button *led = new Fl_LED_Button(x, y, 40, 25, label);
    led->type(FL_TOGGLE_BUTTON);
    led->color(KorvelInfo::PanelBackColour);
    led->down_box(FL_DOWN_BOX);
    led->labelsize(10);
    led->value(value);
    led->callback(handler);
    return led;
}

Fl_Value_Output *LoopPanelLook::Readout(int x, int y, int w)
{
    Fl_Value_Output *out = new Fl_Value_Output(x, y, w, 15);
    out->labelsize(10);
    out->textsize(10);
    return out;
}
