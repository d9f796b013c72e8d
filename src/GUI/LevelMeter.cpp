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
    const int level = Pixels(m_Level), hold = Pixels(m_Hold);
    const bool clipped = m_Clipped;
    m_Level = Fraction(peak);
    if (m_Level >= m_Hold || now - m_HoldSince > std::chrono::milliseconds(HoldMillis)) {
        m_Hold = m_Level;
        m_HoldSince = now;
    }
    if (peak >= 32767) {
        m_Clipped = true;
        m_ClipSince = now;
    } else if (m_Clipped && now - m_ClipSince > std::chrono::milliseconds(ClipMillis)) {
        m_Clipped = false;
    }
    // Only what looks different is drawn again, the bar alone where it can:
    // with many windows the drawing is most of what a meter costs.
    if (clipped != m_Clipped)
        redraw();
    else if (level != Pixels(m_Level) || hold != Pixels(m_Hold))
        damage(FL_DAMAGE_USER1);
}

int LevelMeter::ClipWidth() const
{
    return std::min(w() / 4, 28);
}

int LevelMeter::Pixels(double fraction) const
{
    return static_cast<int>((w() - ClipWidth() - 3 - m_LabelWidth) * fraction);
}

void LevelMeter::draw()
{
    if (damage() & FL_DAMAGE_ALL) {
        draw_box();
        if (label()) {
            fl_font(FL_HELVETICA, labelsize());
            m_LabelWidth = static_cast<int>(fl_width(label())) + 5;
            fl_color(labelcolor());
            fl_draw(label(), x() + 3, y(), m_LabelWidth, h(), FL_ALIGN_LEFT);
        }
        const int clipWidth = ClipWidth();
        fl_color(m_Clipped ? FL_RED : fl_rgb_color(50, 50, 50));
        fl_rectf(x() + w() - clipWidth - 1, y() + 1, clipWidth, h() - 2);
        fl_font(FL_HELVETICA_BOLD, std::max(7, h() - 4));
        fl_color(m_Clipped ? FL_WHITE : fl_rgb_color(120, 120, 120));
        fl_draw("CLIP", x() + w() - clipWidth - 1, y(), clipWidth, h(), FL_ALIGN_CENTER);
    }
    DrawBar();
}

void LevelMeter::DrawBar()
{
    const int left = x() + 1 + m_LabelWidth;
    const int room = w() - ClipWidth() - 3 - m_LabelWidth;
    fl_color(color());
    fl_rectf(left, y() + 1, room + 1, h() - 2);
    // Light blue below -6 dB, yellow above: told apart by brightness too.
    const int level = Pixels(m_Level);
    const int knee = static_cast<int>(room * (1 - 6.0 / 60));
    fl_color(fl_rgb_color(80, 160, 255));
    fl_rectf(left, y() + 1, std::min(level, knee), h() - 2);
    if (level > knee) {
        fl_color(FL_YELLOW);
        fl_rectf(left + knee, y() + 1, level - knee, h() - 2);
    }
    fl_color(FL_WHITE);
    if (m_Hold > 0) fl_yxline(left + Pixels(m_Hold), y() + 1, y() + h() - 2);
}
