#include "GUI/Fl_Knob.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>

namespace {

// The scale runs from -60 to 240 degrees (pi taken as 3.14159), measured from
// nine o'clock and growing clockwise on the screen.
const double ScaleStart = -1.0471966666666666;
const double ScaleSpan = 5.235983333333333;

// Sets the drawing colour to colour index c with each channel shifted by delta.
void Shade(Fl_Color c, int delta)
{
    uchar r, g, b;
    Fl::get_color(c, r, g, b);
    auto shift = [delta](uchar channel) { return (uchar)std::min(255, std::max(0, channel + delta)); };
    fl_color(shift(r), shift(g), shift(b));
}

} // namespace

Fl_Knob::Fl_Knob(int x, int y, int w, int h, const char *label)
    : Fl_Valuator(x, y, w, h, label), m_KnobType(0), m_CursorSize(0.3f), m_ScaleTicks(10), m_MinAngle(35),
      m_MaxAngle(325)
{
}

Fl_Knob::~Fl_Knob()
{
}

void Fl_Knob::SetKnobType(int type)
{
    m_KnobType = type;
}

double Fl_Knob::ValueAngle() const
{
    const double range = maximum() - minimum();
    if (range == 0) return m_MinAngle; // a degenerate range has no angle to map to
    return m_MinAngle + (value() - minimum()) * (m_MaxAngle - m_MinAngle) / range;
}

void Fl_Knob::draw()
{
    int ox = x();
    int oy = y();
    const int side = std::min(w(), h());
    if (w() > h())
        ox += (w() - h()) / 2;
    else
        oy += (h() - w()) / 2;
    const int half = side / 2;
    const int cx = ox + half;
    const int cy = oy + half;

    draw_label();
    fl_push_clip(x(), y(), w(), h());

    if (damage() & FL_DAMAGE_ALL) {
        const Fl_Color back = parent() ? parent()->color() : FL_BACKGROUND_COLOR;
        fl_color(back);
        fl_rectf(ox, oy, side, side);
        Shade(back, -60);
        fl_pie(ox + 9, oy + 9, side - 12, side - 12, 0, 360);

        DrawScale(cx, cy, half);

        Shade(color(), 15);
        fl_pie(ox + 6, oy + 6, side - 12, side - 12, 40, 80);
        Shade(color(), 30);
        fl_pie(ox + 6, oy + 6, side - 12, side - 12, 80, 220);
        Shade(color(), -15);
        fl_pie(ox + 6, oy + 6, side - 12, side - 12, 220, 260);
        Shade(color(), -30);
        fl_pie(ox + 6, oy + 6, side - 12, side - 12, 260, 400);

        fl_color(FL_BLACK);
        fl_arc(ox + 6, oy + 6, side - 11, side - 11, 0, 360);
    }

    // A value change repaints only the top and the cursor.
    const int top = side - 20;
    fl_color(color());
    fl_pie(ox + 10, oy + 10, top, top, 0, 360);
    Shade(color(), 10);
    fl_pie(ox + 10, oy + 10, top, top, 110, 150);
    fl_pie(ox + 10, oy + 10, top, top, 290, 330);
    Shade(color(), 17);
    fl_pie(ox + 10, oy + 10, top, top, 120, 140);
    fl_pie(ox + 10, oy + 10, top, top, 300, 320);
    Shade(color(), 25);
    fl_pie(ox + 10, oy + 10, top, top, 127, 133);
    fl_pie(ox + 10, oy + 10, top, top, 307, 313);

    DrawCursor(cx, cy, side);
    fl_pop_clip();
}

void Fl_Knob::DrawScale(int cx, int cy, int half)
{
    const float r = (float)half;
    auto tick = [&](double t, int d) {
        const float c = (float)std::cos(t);
        const float s = (float)std::sin(t);
        const int x1 = (int)(cx - r * c);
        const int y1 = (int)(cy - r * s);
        const int x2 = (int)(cx - (r - 6) * c);
        const int y2 = (int)(cy - (r - 6) * s);
        fl_color(FL_BLACK);
        fl_line(x1, y1, x2, y2);
        fl_color(FL_WHITE);
        fl_line(x1 + 1, y1 + d, x2 + 1, y2 + d);
    };
    // Which side of a tick takes the white highlight depends on its quadrant.
    auto side = [](double t) { return (float)std::sin(t) * (float)std::cos(t) < 0; };

    const int decades = m_KnobType & 3;
    if (decades == 0) {
        if (m_ScaleTicks <= 0) return;
        for (int k = 0; k <= m_ScaleTicks; k++) {
            const double t = k * ScaleSpan / m_ScaleTicks + ScaleStart;
            tick(t, side(t) ? -1 : 1);
        }
        return;
    }
    static const int FirstDecade[] = {1, 2, 4, 6, 8, 10};
    static const int OtherDecades[] = {2, 4, 6, 8, 10};
    for (int i = 0; i < decades; i++) {
        auto logTick = [&](int j) {
            const double t = (i + std::log10((double)j)) * ScaleSpan / decades + ScaleStart;
            tick(t, side(t) ? 1 : -1);
        };
        if (decades == 1) {
            for (int j = 1; j <= 10; j++)
                logTick(j);
        } else if (i == 0) {
            for (int j : FirstDecade)
                logTick(j);
        } else {
            for (int j : OtherDecades)
                logTick(j);
        }
    }
}

void Fl_Knob::DrawCursor(int cx, int cy, int side)
{
    const float rad = (side - 20) * 0.5f;
    const float size = m_CursorSize * rad * 0.5f;

    fl_push_matrix();
    fl_translate(cx, cy);
    fl_rotate(-ValueAngle());
    fl_translate(0, rad - size - 2);
    if (m_KnobType <= 3) {
        fl_color(selection_color());
        fl_begin_polygon();
        fl_circle(0, 0, size);
        fl_end_polygon();
        fl_color(FL_BLACK);
        fl_begin_loop();
        fl_circle(0, 0, size);
        fl_end_loop();
    } else {
        auto bar = [size]() {
            fl_vertex(-1.5, -size);
            fl_vertex(-1.5, size);
            fl_vertex(1.5, size);
            fl_vertex(1.5, -size);
        };
        fl_color(selection_color());
        fl_begin_polygon();
        bar();
        fl_end_polygon();
        fl_color(FL_BLACK);
        fl_begin_loop();
        bar();
        fl_end_loop();
    }
    fl_pop_matrix();
}

int Fl_Knob::handle(int event)
{
    switch (event) {
    case FL_PUSH:
        handle_push();
        // A press turns the knob like a drag.
        [[fallthrough]];
    case FL_DRAG: {
        const int dx = Fl::event_x() - (x() + (w() - 20) / 2) - 10;
        const int dy = Fl::event_y() - (y() + (h() - 20) / 2) - 10;
        if (dx == 0 && dy == 0) return 1;

        // Pointer angle in the value convention: down 360, left 90, up 180, right 270.
        double angle = atan2f((float)-dy, (float)dx) * -180.0f;
        angle = angle / 3.141592653589793 + 270;

        // Stay within half a turn of the current value, so the gap at the
        // bottom sends the value to the nearer end instead of across.
        const double current = ValueAngle();
        while (current - 180 > angle)
            angle += 360;
        while (angle > current + 180)
            angle -= 360;

        double v;
        const bool ascending = m_MinAngle < m_MaxAngle;
        if (ascending ? angle <= m_MinAngle : angle >= m_MinAngle)
            v = minimum();
        else if (ascending ? angle >= m_MaxAngle : angle <= m_MaxAngle)
            v = maximum();
        else
            v = minimum() + (maximum() - minimum()) * (angle - m_MinAngle) / (m_MaxAngle - m_MinAngle);

        handle_drag(clamp(round(v)));
        return 1;
    }
    case FL_RELEASE:
        handle_release();
        return 1;
    default:
        return 0;
    }
}
