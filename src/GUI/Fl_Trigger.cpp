#include "GUI/Fl_Trigger.h"

#include "GUI/Fl_Loop.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <cmath>
#include <cstdio>

int Fl_Trigger::s_Button = 0;

Fl_Trigger::Fl_Trigger(int x, int y, int w, int h, const char *label)
    : Fl_Widget(x, y, w, h, label), m_CentreX(0), m_CentreY(0), m_Radius(0), m_Dragging(false), m_TargetID(0),
      m_Count(0), m_Passes(0), m_Angle(0), m_MaxID(10), m_MaxCount(10), m_Snap(false), m_SnapDegrees(45)
{
}

Fl_Trigger::~Fl_Trigger()
{
}

void Fl_Trigger::Place()
{
    const float radians = m_Angle * 0.017453292f;
    const float s = sinf(radians);
    const float c = cosf(radians);
    // Written straight into the widget: moving it must not damage anything.
    x((int)(m_CentreX + s * m_Radius - w() / 2));
    y((int)(m_CentreY + c * m_Radius - h() / 2));
}

void Fl_Trigger::draw()
{
    Place();
    fl_color(255, 255, 255);
    fl_arc(x(), y(), w(), h(), 0, 360);

    char text[16];
    fl_font(FL_HELVETICA, 10);
    std::snprintf(text, sizeof text, "%d", m_TargetID);
    fl_draw(text, x() + w() / 2 - 2, y() + h() / 2 - h() + 5);
    std::snprintf(text, sizeof text, "%d", m_Count);
    fl_draw(text, x() + w() / 2 + w() - 5, y() + h() / 2 + 3);
}

void Fl_Trigger::DragTo(int ex, int ey)
{
    m_Angle = Fl_Loop::PointerAngle(m_CentreX, m_CentreY, ex, ey, m_Angle, m_Snap, m_SnapDegrees);
    redraw();
}

// Redraws the whole display at once: the marker may have moved, or its
// numbers changed size, and no image of its old place may stay behind.
void Fl_Trigger::RedrawDisplay()
{
    Fl_Window *display = window();
    if (!display) return;
    display->redraw();
    if (display->shown()) Fl::flush();
}

int Fl_Trigger::handle(int event)
{
    if (Fl_Widget::handle(event)) return 1;
    switch (event) {
    case FL_PUSH:
        s_Button = Fl::event_button();
        if (s_Button == 1) {
            m_Dragging = true;
            DragTo(Fl::event_x(), Fl::event_y());
        } else if (s_Button == 2) {
            m_TargetID = m_TargetID < m_MaxID ? m_TargetID + 1 : 0;
            redraw();
            RedrawDisplay();
        } else if (s_Button == 3) {
            m_Count = m_Count < m_MaxCount ? m_Count + 1 : 0;
            redraw();
            RedrawDisplay();
        }
        return 1;
    case FL_DRAG:
        if (s_Button == 1 && m_Dragging) DragTo(Fl::event_x(), Fl::event_y());
        return 1;
    case FL_RELEASE:
        m_Dragging = false;
        RedrawDisplay();
        return 1;
    default:
        return 0;
    }
}

// Workspace records.

#include <ostream>

std::ostream &operator<<(std::ostream &out, const Fl_Trigger &trigger)
{
    out << trigger.m_CentreX << ' ' << trigger.m_CentreY << ' ' << trigger.m_Radius << ' '
        << trigger.m_Dragging << ' ' << trigger.m_TargetID << ' ' << trigger.m_Count << ' '
        << trigger.m_Passes << ' ' << trigger.m_Angle << ' ' << trigger.m_MaxID << ' ' << trigger.m_MaxCount
        << ' ';
    return out;
}
