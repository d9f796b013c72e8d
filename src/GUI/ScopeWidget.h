#ifndef SCOPE_WIDGET_H
#define SCOPE_WIDGET_H

#include <FL/Fl_Widget.H>

// Draws the start of the latest output block as a trace, positive values
// downwards, one sample position per pixel column.
class ScopeWidget : public Fl_Widget
{
public:
    ScopeWidget(int x, int y, int w, int h, const char *label = 0);

    const short *m_Data;
    int m_Channels;

protected:
    void draw() override;
};

#endif
