// The play cursor needs the window's back buffer (Fl_X::other_xid), which
// FLTK only declares for code that asks for its internals.
#define FL_INTERNALS
#include "GUI/Fl_Loop.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cmath>

namespace {

const float DegToRad = 0.017453292f;

// One graphics context for every cursor move, always in exclusive-or mode,
// so that a move sends the X server two lines and no change of state.
GC CursorContext(Window window)
{
    static GC context = nullptr;
    if (!context) {
        XGCValues values;
        values.function = GXxor;
        values.foreground = fl_xpixel(FL_WHITE);
        context = XCreateGC(fl_display, window, GCFunction | GCForeground, &values);
    }
    return context;
}

} // namespace

int Fl_Loop::s_Button = 0;

Fl_Loop::Fl_Loop(int x, int y, int w, int h, const char *label)
    : Fl_Double_Window(x, y, w, h, label), m_Data(nullptr), m_SkipWindow(nullptr), m_Length(1000),
      m_InnerRad((int)((w / 2) * 0.75)), m_OuterRad((int)((w / 2) * 0.95)), m_CursorX1(0), m_CursorY1(0),
      m_CursorX2(0), m_CursorY2(0), m_MidX(w / 2), m_MidY(h / 2), m_StartAngle(0.0f), m_EndAngle(1.0f),
      m_MoveAngle(0), m_RangeStart(0), m_RangeEnd(0), m_Angle(0), m_Pos(nullptr), m_Jump(nullptr),
      m_Update(false), m_Cut(false), m_WaveSize(1.0f), m_MoveIndex(0), m_LastMoveIndex(0), m_Snap(false),
      m_SnapDegrees(45), m_CutRequest(nullptr), m_CopyRequest(nullptr), m_PasteRequest(nullptr),
      m_PasteMixRequest(nullptr), m_ZeroRequest(nullptr), m_ReverseRequest(nullptr), m_HalveRequest(nullptr),
      m_HoldRequest(nullptr), m_NewTriggerRequest(nullptr), m_MoveRequest(nullptr), m_UndoRequest(nullptr),
      m_RedoRequest(nullptr), m_BackX1(0), m_BackY1(0), m_BackX2(0), m_BackY2(0)
{
}

Fl_Loop::~Fl_Loop()
{
}

void Fl_Loop::SetCallbacks(RangeRequest cut, RangeRequest copy, PositionRequest paste,
                           PositionRequest pasteMix, RangeRequest zero, RangeRequest reverse, Request halve,
                           Request hold, Request newTrigger, MoveRequest move)
{
    m_CutRequest = cut;
    m_CopyRequest = copy;
    m_PasteRequest = paste;
    m_PasteMixRequest = pasteMix;
    m_ZeroRequest = zero;
    m_ReverseRequest = reverse;
    m_HalveRequest = halve;
    m_HoldRequest = hold;
    m_NewTriggerRequest = newTrigger;
    m_MoveRequest = move;
}

void Fl_Loop::SetHistoryCallbacks(Request undo, Request redo)
{
    m_UndoRequest = undo;
    m_RedoRequest = redo;
}

int Fl_Loop::AngleToIndex(float angle) const
{
    int index = (int)(angle * (m_Length / 360.0f));
    // Wrap into 0..length; a length below 1 has nothing to wrap into.
    if (m_Length > 0) {
        while (index < 0)
            index += m_Length;
        while (index > m_Length)
            index -= m_Length;
    }
    return index;
}

void Fl_Loop::UpdateRange()
{
    m_RangeStart = AngleToIndex(m_StartAngle);
    m_RangeEnd = AngleToIndex(m_EndAngle);
}

void Fl_Loop::SetLength(int len)
{
    m_Length = len;
    UpdateRange();
}

void Fl_Loop::draw()
{
    // The exclusive-or cursor must stay the topmost thing in the picture, or
    // moving it would invert whatever was drawn over it.
    if (damage() & (FL_DAMAGE_ALL | FL_DAMAGE_EXPOSE)) {
        fl_color(color());
        fl_rectf(0, 0, w(), h());
        const int band = m_OuterRad + 5;
        fl_color(20, 60, 20);
        fl_pie(m_MidX - band, m_MidY - band, 2 * band, 2 * band, 0, 360);
        const int hole = m_InnerRad - 5;
        fl_color(color());
        fl_pie(m_MidX - hole, m_MidY - hole, 2 * hole, 2 * hole, 0, 360);
        DrawTrace();
        if (m_Cut) {
            // Straight down is where the play length ends and the sound goes on.
            fl_color(255, 150, 0);
            fl_line_style(FL_SOLID, 3);
            fl_yxline(m_MidX, m_MidY + m_InnerRad - 5, m_MidY + m_OuterRad + 5);
            fl_line_style(0);
        }
    } else {
        // Only controls changed: lift the cursor off before they redraw.
        DrawCursorLine();
    }
    // Controls and trigger markers lie over the trace. The window's own box
    // is not drawn: the ring above is the background.
    draw_children();
    // Put the cursor back where the window has it, so the next move erases it.
    DrawCursorLine();
    m_BackX1 = m_CursorX1;
    m_BackY1 = m_CursorY1;
    m_BackX2 = m_CursorX2;
    m_BackY2 = m_CursorY2;
}

void Fl_Loop::flush()
{
    // Whatever FLTK copies from the back buffer to the window must show the
    // cursor where the window has it.
    const Fl_X *x = Fl_X::i(this);
    if (x && x->other_xid) {
        MoveCursorOn(x->other_xid, m_BackX1, m_BackY1, m_BackX2, m_BackY2);
        m_BackX1 = m_CursorX1;
        m_BackY1 = m_CursorY1;
        m_BackX2 = m_CursorX2;
        m_BackY2 = m_CursorY2;
    }
    Fl_Double_Window::flush();
}

void Fl_Loop::DrawTrace()
{
    if (m_Length <= 0) return;
    const int step = std::max(1, m_Length / 1000);
    const float half = (float)((m_OuterRad - m_InnerRad) / 2);
    float amplitude = 0;
    int lastX = 0;
    int lastY = 0;
    for (int k = 0, i = 0; i < m_Length; k++, i += step) {
        if (m_Data) {
            amplitude = m_Data[i] * (1 / 32767.0f) * m_WaveSize;
            amplitude = std::min(1.0f, std::max(-1.0f, amplitude));
        }
        // One point per step samples, 1000 points to a full turn.
        const float angle = k * 0.36f;
        if (m_StartAngle < angle && angle < m_EndAngle)
            fl_color(255, 255, 255);
        else
            fl_color(100, 155, 100);
        const float radius = amplitude * half + m_InnerRad + half;
        const float s = sinf(angle * DegToRad);
        const float c = cosf(angle * DegToRad);
        const int px = (int)(s * radius + m_MidX);
        const int py = (int)(c * radius + m_MidY);
        if (k > 0) fl_line(px, py, lastX, lastY);
        if (m_SnapDegrees != 0 && (int)angle % m_SnapDegrees == 0) {
            fl_color(155, 155, 50);
            fl_line((int)(s * m_InnerRad + m_MidX), (int)(c * m_InnerRad + m_MidY),
                    (int)(s * m_OuterRad + m_MidX), (int)(c * m_OuterRad + m_MidY));
        }
        lastX = px;
        lastY = py;
    }
}

// The play cursor is the one thing drawn with Xlib directly: an exclusive-or
// line can be erased by drawing it again, so it can move after every audio
// block without redrawing the ring. With hundreds of loop windows every move
// counts: it draws on the window only, and nothing when the line stays put.
void Fl_Loop::DrawCursorLine()
{
    fl_color(FL_WHITE);
    XSetFunction(fl_display, fl_gc, GXxor);
    XorLine(m_CursorX1, m_CursorY1, m_CursorX2, m_CursorY2);
    XSetFunction(fl_display, fl_gc, GXcopy);
}

// The cursor before its first move has both ends at the origin; it is not
// drawn at all rather than as a dot in the corner.
void Fl_Loop::XorLine(int x1, int y1, int x2, int y2)
{
    if (x1 != x2 || y1 != y2) fl_line(x1, y1, x2, y2);
}

void Fl_Loop::DrawPosMarker()
{
    if (!m_Update || !shown()) return;
    // The plug-in's window may be in the middle of drawing.
    if (m_SkipWindow && Fl_Window::current() == m_SkipWindow) return;
    make_current();
    if (!m_Pos || m_Length <= 0) return;

    const float angle = static_cast<float>(m_Pos->load(std::memory_order_relaxed)) / (float)m_Length * 360;
    const float s = sinf(angle * DegToRad);
    const float c = cosf(angle * DegToRad);
    const int x1 = (int)(s * m_InnerRad + m_MidX);
    const int y1 = (int)(c * m_InnerRad + m_MidY);
    const int x2 = (int)(s * m_OuterRad + m_MidX);
    const int y2 = (int)(c * m_OuterRad + m_MidY);

    if (x1 == m_CursorX1 && y1 == m_CursorY1 && x2 == m_CursorX2 && y2 == m_CursorY2) return;
    const int oldX1 = m_CursorX1, oldY1 = m_CursorY1, oldX2 = m_CursorX2, oldY2 = m_CursorY2;
    m_CursorX1 = x1;
    m_CursorY1 = y1;
    m_CursorX2 = x2;
    m_CursorY2 = y2;
    MoveCursorOn(fl_window, oldX1, oldY1, oldX2, oldY2);
}

// Erases the cursor line at the given points on a drawable and draws it where
// the window has it now.
void Fl_Loop::MoveCursorOn(unsigned long drawable, int x1, int y1, int x2, int y2)
{
    if (x1 == m_CursorX1 && y1 == m_CursorY1 && x2 == m_CursorX2 && y2 == m_CursorY2) return;
    GC context = CursorContext(fl_xid(this));
    if (x1 != x2 || y1 != y2) XDrawLine(fl_display, drawable, context, x1, y1, x2, y2);
    if (m_CursorX1 != m_CursorX2 || m_CursorY1 != m_CursorY2)
        XDrawLine(fl_display, drawable, context, m_CursorX1, m_CursorY1, m_CursorX2, m_CursorY2);
}

float Fl_Loop::PointerAngle(int centreX, int centreY, int ex, int ey, float previous, bool snap,
                            int snapDegrees)
{
    double angle = atan2f((float)(centreY - ey), (float)(ex - centreX)) * 180.0f;
    angle = angle / 3.141592653589793 + 90;
    // Keep the angle continuous with the last one, so a drag through the seam
    // at the bottom can end at 360 instead of jumping back to 0.
    while (previous - 180 > angle)
        angle += 360;
    while (angle > previous + 180)
        angle -= 360;
    while (angle < 0)
        angle += 360;
    while (angle > 360)
        angle -= 360;
    float result = (float)angle;
    if (snap && snapDegrees != 0) result -= (int)result % snapDegrees;
    return result;
}

bool Fl_Loop::MouseAngle(int ex, int ey)
{
    if (ex == m_MidX && ey == m_MidY) return false;
    m_Angle = PointerAngle(m_MidX, m_MidY, ex, ey, m_Angle, m_Snap, m_SnapDegrees);
    return true;
}

void Fl_Loop::HandleMouse(bool press)
{
    if (!MouseAngle(Fl::event_x(), Fl::event_y())) return;
    const float angle = m_Angle;

    switch (s_Button) {
    case 1: // select a range
        if (press) {
            m_StartAngle = m_EndAngle = angle;
        } else if (angle > m_StartAngle) {
            m_EndAngle = angle;
        } else {
            m_StartAngle = angle;
        }
        redraw();
        UpdateRange();
        break;
    case 2: // set the play position
        if (m_Jump) {
            float pos = angle * (m_Length / 360.0f);
            if (m_Length > 0) {
                while (pos < 0)
                    pos += m_Length;
                while (pos > m_Length)
                    pos -= m_Length;
            }
            m_Jump(this, pos);
        }
        break;
    case 3: // move the sound along with the pointer
        m_MoveAngle = angle;
        if (press) {
            m_LastMoveIndex = (int)((m_Length / 360.0f) * angle);
            if (m_Length > 0)
                while (m_LastMoveIndex < 0)
                    m_LastMoveIndex += m_Length;
        } else {
            redraw();
        }
        m_MoveIndex = AngleToIndex(m_MoveAngle);
        if (m_MoveRequest) m_MoveRequest(this, m_LastMoveIndex - m_MoveIndex);
        m_LastMoveIndex = m_MoveIndex;
        break;
    default:
        break;
    }
}

void Fl_Loop::HandleKeys()
{
    if (!Fl::event_key(FL_Control_L) && !Fl::event_key(FL_Control_R)) return;
    // Every chord key that is down fires, in this order.
    if (Fl::event_key('c') && m_CopyRequest) m_CopyRequest(this, m_RangeStart, m_RangeEnd);
    if (Fl::event_key('v') && m_PasteRequest) m_PasteRequest(this, m_RangeStart);
    if (Fl::event_key('x') && m_CutRequest) m_CutRequest(this, m_RangeStart, m_RangeEnd);
    if (Fl::event_key('b') && m_PasteMixRequest) m_PasteMixRequest(this, m_RangeStart);
    if (Fl::event_key('z') && m_ZeroRequest) m_ZeroRequest(this, m_RangeStart, m_RangeEnd);
    if (Fl::event_key('r') && m_ReverseRequest) m_ReverseRequest(this, m_RangeStart, m_RangeEnd);
    if (Fl::event_key('h') && m_HalveRequest) m_HalveRequest(this);
    if (Fl::event_key('s') && m_HoldRequest) m_HoldRequest(this);
    if (Fl::event_key('a')) {
        m_RangeStart = 0;
        m_StartAngle = 0;
        m_EndAngle = 360;
        m_RangeEnd = m_Length;
        redraw();
    }
    if (Fl::event_key('t') && m_NewTriggerRequest) m_NewTriggerRequest(this);
    if (Fl::event_key('u') && m_UndoRequest) m_UndoRequest(this);
    if (Fl::event_key('y') && m_RedoRequest) m_RedoRequest(this);
}

int Fl_Loop::handle(int event)
{
    // A control or marker under the pointer gets the event first.
    if (Fl_Double_Window::handle(event)) return 1;
    switch (event) {
    case FL_PUSH:
        s_Button = Fl::event_button();
        HandleMouse(true);
        return 1;
    case FL_DRAG:
        HandleMouse(false);
        return 1;
    case FL_RELEASE:
        return 1;
    case FL_KEYDOWN:
        // Escape is left to FLTK, which closes the window with it; taken here,
        // it would not once a control had the focus.
        if (Fl::event_key() == FL_Escape) return 0;
        HandleKeys();
        return 1;
    default:
        return 0;
    }
}
