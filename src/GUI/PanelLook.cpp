#include "GUI/PanelLook.h"

#include "GUI/Fl_Knob.h"
#include "KorvelInfo.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/fl_draw.H>

Fl_Group *PanelLook::Group(int x, int y, int w, int h, const char *name, void *panel)
{
    Fl_Group *group = new Fl_Group(x, y, w, h, name);
    group->color(KorvelInfo::PanelBackColour);
    group->box(FL_UP_BOX);
    group->labeltype(FL_ENGRAVED_LABEL);
    group->align(FL_ALIGN_TOP | FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    group->user_data(panel);
    return group;
}

Fl_Knob *PanelLook::Knob(int x, int y, const char *label, double maximum, double step, double value)
{
    Fl_Knob *knob = new Fl_Knob(x, y, 40, 40, label);
    knob->color(KorvelInfo::PanelColour);
    knob->labelsize(10);
    knob->maximum(maximum);
    knob->step(step);
    knob->value(value);
    return knob;
}

Fl_Button *PanelLook::Toggle(int x, int y, int w, int h, const char *label, int value)
{
    Fl_Button *button = new Fl_Button(x, y, w, h, label);
    button->color(KorvelInfo::PanelBackColour);
    button->labelsize(10);
    button->type(FL_TOGGLE_BUTTON);
    button->value(value);
    return button;
}

void PanelLook::FitTitle(Fl_Group *group, int room)
{
    // The title starts inside the box's edge, and engraving widens it by a pixel.
    const int inset = Fl::box_dx(group->box()) + 3 + 1;
    const int smallest = 8;
    int size = group->labelsize();
    for (; size > smallest; size--) {
        int w = 0, h = 0;
        fl_font(group->labelfont(), size);
        fl_measure(group->label(), w, h, 0);
        if (inset + w <= room) break;
    }
    group->labelsize(size);
}
