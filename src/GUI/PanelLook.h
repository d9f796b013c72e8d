#ifndef PANEL_LOOK_H
#define PANEL_LOOK_H

class Fl_Button;
class Fl_Group;
class Fl_Knob;

// The common look of the effect and output panels, so each panel only says
// where its widgets go and what they do.
class PanelLook
{
public:
    static Fl_Group *Group(int x, int y, int w, int h, const char *name, void *panel);
    static Fl_Knob *Knob(int x, int y, const char *label, double maximum, double step, double value);
    static Fl_Button *Toggle(int x, int y, int w, int h, const char *label, int value);
    // Shrinks the group's title, if it must, to end before x + room, where
    // its first control stands; the control would cover it otherwise.
    static void FitTitle(Fl_Group *group, int room);
};

#endif
