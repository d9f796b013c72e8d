#ifndef LOOP_STRIP_H
#define LOOP_STRIP_H

#include <FL/Fl_Widget.H>

#include <string>
#include <vector>

// Every loop's state in a row of cells in the main window, so a performer
// whose loop windows lie behind others still sees them all: its number, a
// word and a colour (red recording, orange overdubbing, blue playing, purple
// muted (playing at no volume), grey stopped, dark empty; told apart by
// word and brightness as well as hue) and a bar of its level.
class LoopStrip : public Fl_Widget
{
public:
    enum State
    {
        Stopped,
        Playing,
        Recording,
        Overdubbing,
        Muted,
        Empty,
        Waiting // for a quantize line
    };
    struct Cell
    {
        int m_ID;
        State m_State;
        double m_Level; // 0 ... 1
        bool operator==(const Cell &other) const
        {
            return m_ID == other.m_ID && m_State == other.m_State && m_Level == other.m_Level;
        }
    };

    LoopStrip(int x, int y, int w, int h);
    void Show(const std::vector<Cell> &cells);
    static const char *Word(State state);
    static Fl_Color Colour(State state);
    static Fl_Color TextColour(State state);

    std::vector<Cell> m_Cells;
    static constexpr int CellWidth = 58;
    static constexpr int MinCellWidth = 16;

protected:
    void draw() override;
};

#endif
