#include "GUI/LevelMeter.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>

LevelMeter::LevelMeter(int x, int y, int w, int h, const char *label)
    : Fl_Widget(x, y, w, h, label), m_Level(0), m_Hold(0), m_Clipped(false)
{
    box(FL_FLAT_BOX);
    color(FL_BLACK);
    labelsize(9);
    labelcolor(FL_WHITE);
}

double LevelMeter::Fraction(int peak)
{
    if (peak <= 0) return 0;
    const double db = 20 * std::log10(std::min(peak, 32767) / 32767.0);
    return std::max(0.0, 1 + db / 60);
}

void LevelMeter::Show(int peak, Clock::time_point now)
{
    const double level = Fraction(peak);
    const bool changed = level != m_Level;
    m_Level = level;
    if (level >= m_Hold || now - m_HoldSince > std::chrono::milliseconds(HoldMillis)) {
        m_Hold = level;
        m_HoldSince = now;
    }
    if (peak >= 32767) {
        m_Clipped = true;
        m_ClipSince = now;
    } else if (m_Clipped && now - m_ClipSince > std::chrono::milliseconds(ClipMillis)) {
        m_Clipped = false;
    }
    if (changed || m_Clipped) redraw();
}

void LevelMeter::draw()
{
    draw_box();
    const int clipWidth = std::min(w() / 4, 28);
    const int room = w() - clipWidth - 2;
    // Light blue below -6 dB, yellow above: told apart by brightness too.
    const int level = static_cast<int>(room * m_Level);
    const int knee = static_cast<int>(room * (1 - 6.0 / 60));
    fl_color(fl_rgb_color(80, 160, 255));
    fl_rectf(x() + 1, y() + 1, std::min(level, knee), h() - 2);
    if (level > knee) {
        fl_color(FL_YELLOW);
        fl_rectf(x() + 1 + knee, y() + 1, level - knee, h() - 2);
    }
    fl_color(FL_WHITE);
    const int hold = x() + 1 + static_cast<int>(room * m_Hold);
    if (m_Hold > 0) fl_yxline(hold, y() + 1, y() + h() - 2);
    fl_color(m_Clipped ? FL_RED : fl_rgb_color(50, 50, 50));
    fl_rectf(x() + w() - clipWidth - 1, y() + 1, clipWidth, h() - 2);
    fl_font(FL_HELVETICA_BOLD, std::max(7, h() - 4));
    fl_color(m_Clipped ? FL_WHITE : fl_rgb_color(120, 120, 120));
    fl_draw("CLIP", x() + w() - clipWidth - 1, y(), clipWidth, h(), FL_ALIGN_CENTER);
    if (label()) {
        fl_font(FL_HELVETICA, labelsize());
        fl_color(labelcolor());
        fl_draw(label(), x() + 3, y(), room, h(), FL_ALIGN_LEFT);
    }
}
