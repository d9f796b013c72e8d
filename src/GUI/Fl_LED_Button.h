#ifndef FL_LED_BUTTON_H
#define FL_LED_BUTTON_H

#include <FL/Fl_Light_Button.H>

// A toggle button drawn as a round shaded LED with its label to the right.
// Behaves exactly like Fl_Light_Button; only the look differs.
class Fl_LED_Button : public Fl_Light_Button
{
public:
    Fl_LED_Button(int x, int y, int w, int h, const char *label = 0);

protected:
    void draw() override;
};

#endif
