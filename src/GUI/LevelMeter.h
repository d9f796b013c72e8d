#ifndef LEVEL_METER_H
#define LEVEL_METER_H

#include <FL/Fl_Widget.H>

#include <chrono>

// A horizontal peak meter: the level of the last look, a line where the
// highest of the last moments stands, and a red "CLIP" once full scale was
// reached (for a few seconds). Its label is drawn inside, on the left of the bar.
class LevelMeter : public Fl_Widget
{
public:
    typedef std::chrono::steady_clock Clock;

    LevelMeter(int x, int y, int w, int h, const char *label = nullptr);
    // A peak of 0 ... 32767 read from the engine.
    void Show(int peak, Clock::time_point now = Clock::now());
    // 0 ... 1 of full scale, logarithmic over 60 dB.
    static double Fraction(int peak);

    double m_Level;
    double m_Hold;
    bool m_Clipped;

    static constexpr int HoldMillis = 1500;
    static constexpr int ClipMillis = 3000;

protected:
    void draw() override;

private:
    void DrawBar();
    int ClipWidth() const;
    int Pixels(double fraction) const;

    int m_LabelWidth = 0; // measured when drawn
    Clock::time_point m_HoldSince;
    Clock::time_point m_ClipSince;
};

#endif
