#include "GUI/Fl_LED_Button.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace {

// Sets the drawing colour to (r, g, b) each shifted by delta and held to 0..255.
void ShiftedColour(uchar r, uchar g, uchar b, int delta)
{
    auto shift = [delta](uchar channel) { return (uchar)std::min(255, std::max(0, channel + delta)); };
    fl_color(shift(r), shift(g), shift(b));
}

} // namespace

Fl_LED_Button::Fl_LED_Button(int x, int y, int w, int h, const char *label)
    : Fl_Light_Button(x, y, w, h, label)
{
    box(FL_NO_BOX);
    down_box(FL_ROUND_DOWN_BOX);
    selection_color(FL_RED);
}

void Fl_LED_Button::draw()
{
    if (box() != FL_NO_BOX) draw_box(this == Fl::pushed() ? down_box() : box(), color());

    const bool lit = value() != 0;
    const int d = h() / 6;
    const int m = std::min(w(), h());
    const int size = m - 2 * d;
    const int size6 = size - 6;
    const int left = x() + d;
    const int top = y() + d;

    uchar r, g, b;
    Fl::get_color(selection_color(), r, g, b);
    // The shadow falls on whatever the LED sits on.
    uchar pr, pg, pb;
    Fl::get_color(parent() ? parent()->color() : color(), pr, pg, pb);

    ShiftedColour(pr, pg, pb, -90);
    fl_pie(left + 1, top + 2, size - 4, size - 4, 0, 360);
    ShiftedColour(r, g, b, lit ? -90 : -210);
    fl_pie(left + 2, top + 3, size - 6, size - 6, 0, 360);
    ShiftedColour(r, g, b, lit ? -60 : -190);
    fl_pie(left + 3, top + 4, size - 8, size - 8, 0, 360);
    ShiftedColour(r, g, b, lit ? -20 : -150);
    fl_pie(left + 3, top + 4, size - 9, size - 9, 0, 360);
    ShiftedColour(r, g, b, lit ? 0 : -130);
    fl_pie(left + 5, top + 6, size - 11, size - 11, 0, 360);
    ShiftedColour(r, g, b, lit ? 160 : -30);
    fl_arc(left + 5, top + 6, size - 11, size - 11, 250, 350);

    const int x0 = left + 2;
    const int y0 = top + 3;
    const int half6 = size6 / 2;
    const int spotLeft = (int)((double)(half6 + x0) - 0.3 * size6 * 0.5);
    const int spotTop = (int)((double)(half6 + y0) - 0.3 * size6 * 0.5);
    const int spotSize = (int)(size6 * 0.45 * 0.5);
    ShiftedColour(r, g, b, lit ? 250 : 100);
    fl_pie(spotLeft, spotTop, spotSize, spotSize, 0, 360);

    fl_color(FL_BLACK);
    fl_arc(left + 2, top + 3, size - 5, size - 5, 0, 360);

    draw_label(x() + m - d, y(), w() - m + d, h());
}
