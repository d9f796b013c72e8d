#include "GUI/LoopStrip.h"

#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <cstdio>

Fl_Color LoopStrip::Colour(State state)
{
    switch (state) {
    case Recording:
        return fl_rgb_color(220, 30, 30);
    case Overdubbing:
        return fl_rgb_color(255, 150, 0);
    case Playing:
        return fl_rgb_color(40, 90, 220);
    case Muted:
        return fl_rgb_color(110, 60, 140);
    case Empty:
        return fl_rgb_color(30, 30, 30);
    case Waiting:
        return fl_rgb_color(240, 210, 40);
    default:
        return fl_rgb_color(70, 70, 70);
    }
}

Fl_Color LoopStrip::TextColour(State state)
{
    // Orange is light: black on it reads better than white.
    if (state == Empty) return fl_rgb_color(140, 140, 140);
    return state == Overdubbing || state == Waiting ? FL_BLACK : FL_WHITE;
}

LoopStrip::LoopStrip(int x, int y, int w, int h) : Fl_Widget(x, y, w, h)
{
    box(FL_FLAT_BOX);
    color(FL_BLACK);
}

const char *LoopStrip::Word(State state)
{
    switch (state) {
    case Recording:
        return "REC";
    case Overdubbing:
        return "DUB";
    case Playing:
        return "PLAY";
    case Muted:
        return "MUTE";
    case Empty:
        return "empty";
    case Waiting:
        return "WAIT";
    default:
        return "stop";
    }
}

void LoopStrip::Show(const std::vector<Cell> &cells)
{
    // Levels to the bar's pixels: a change too small to see draws nothing.
    std::vector<Cell> shown = cells;
    for (Cell &cell : shown)
        cell.m_Level = std::floor(cell.m_Level * CellWidth) / CellWidth;
    if (shown == m_Cells) return;
    m_Cells = std::move(shown);
    redraw();
}

void LoopStrip::draw()
{
    draw_box();
    const int barHeight = 4;
    // Many loops share the row: narrower cells, then the number alone.
    const int count = static_cast<int>(m_Cells.size());
    const int width = count == 0 ? CellWidth : std::max(MinCellWidth, std::min(CellWidth, (w() - 4) / count));
    int left = x() + 2;
    for (const Cell &cell : m_Cells) {
        if (left + width > x() + w()) break;
        fl_color(Colour(cell.m_State));
        fl_rectf(left, y() + 1, width - 2, h() - barHeight - 3);
        char text[32];
        if (width >= CellWidth - 8)
            std::snprintf(text, sizeof text, "%d %s", cell.m_ID, Word(cell.m_State));
        else
            std::snprintf(text, sizeof text, "%d", cell.m_ID);
        fl_font(FL_HELVETICA_BOLD, 11);
        fl_color(TextColour(cell.m_State));
        fl_draw(text, left, y() + 1, width - 2, h() - barHeight - 3, FL_ALIGN_CENTER | FL_ALIGN_CLIP);
        fl_color(fl_rgb_color(80, 160, 255));
        fl_rectf(left, y() + h() - barHeight - 1, static_cast<int>((width - 2) * cell.m_Level), barHeight);
        left += width;
    }
}
