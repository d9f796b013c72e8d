#include "GUI/LoopStateBar.h"

#include "GUI/LevelMeter.h"
#include "GUI/StatusLine.h"

#include <FL/Fl.H>
#include <FL/Fl_Choice.H>
#include <FL/fl_draw.H>

namespace {

const int StateHeight = 26;
const int QuantizeWidth = 74;

} // namespace

LoopStateBar::LoopStateBar(int x, int y, int w)
    : Fl_Double_Window(x, y, w, Height), m_State(LoopStrip::Stopped), m_Meter(nullptr), m_Status(nullptr),
      m_Quantize(nullptr)
{
    box(FL_FLAT_BOX);
    color(FL_BLACK);
    // A window's children are placed within it.
    m_Meter = new LevelMeter(StateWidth + 4, 4, w - StateWidth - 8, 12, "Level");
    m_Quantize = new Fl_Choice(0, StateHeight, QuantizeWidth, Height - StateHeight);
    m_Quantize->textsize(10);
    m_Quantize->add("Q off|Q beat|Q bar|Q master");
    m_Quantize->value(0);
    m_Quantize->tooltip("Play, stop and takes fall on the next beat, bar or lap of the master loop");
    m_Status = new StatusLine(QuantizeWidth, StateHeight, w - QuantizeWidth, Height - StateHeight);
    end();
}

const char *LoopStateBar::Word(LoopStrip::State state)
{
    switch (state) {
    case LoopStrip::Recording:
        return "RECORDING";
    case LoopStrip::Overdubbing:
        return "OVERDUB";
    case LoopStrip::Playing:
        return "PLAYING";
    case LoopStrip::Muted:
        return "MUTED";
    case LoopStrip::Empty:
        return "EMPTY";
    case LoopStrip::Waiting:
        return "WAITING";
    default:
        return "STOPPED";
    }
}

void LoopStateBar::Show(LoopStrip::State state, int peak)
{
    if (state != m_State) {
        m_State = state;
        damage(FL_DAMAGE_ALL);
    }
    if (peak >= 0) m_Meter->Show(peak);
}

void LoopStateBar::Say(const std::vector<std::string> &lines)
{
    m_Status->Show(lines);
}

void LoopStateBar::ShowFades(int milliseconds)
{
    if (milliseconds == m_FadeMs) return;
    m_FadeMs = milliseconds;
    const std::string text = milliseconds > 0 ? "fades " + std::to_string(milliseconds) + " ms" : "no fades";
    m_Fades = text;
    damage(FL_DAMAGE_ALL);
}

void LoopStateBar::draw()
{
    if (damage() & ~FL_DAMAGE_CHILD) {
        fl_rectf(0, 0, w(), h(), color());
        fl_color(LoopStrip::Colour(m_State));
        fl_rectf(1, 1, StateWidth, StateHeight - 2);
        fl_font(FL_HELVETICA_BOLD, 18);
        fl_color(LoopStrip::TextColour(m_State));
        fl_draw(Word(m_State), 1, 1, StateWidth, StateHeight - 2, FL_ALIGN_CENTER);
        fl_font(FL_HELVETICA, 9);
        fl_color(fl_rgb_color(170, 170, 170));
        fl_draw(m_Fades.c_str(), StateWidth + 6, 16, w() - StateWidth - 8, 10, FL_ALIGN_LEFT);
    }
    draw_children();
}

int LoopStateBar::handle(int event)
{
    const int handled = Fl_Double_Window::handle(event);
    // A click here is not a click on the ring below the bar's edge.
    if (event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE) return 1;
    return handled;
}
