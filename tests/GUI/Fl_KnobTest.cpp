#include "WidgetTestSupport.h"

#include "GUI/Fl_Knob.h"

#include <FL/Fl_Window.H>

#include <cmath>
#include <memory>

using namespace WidgetTest;

namespace {

// Counts the mouse events it gets, so a test can wait for each step of a gesture.
class ProbeKnob : public Fl_Knob
{
public:
    ProbeKnob(int x, int y, int w, int h) : Fl_Knob(x, y, w, h) {}
    int handle(int event) override
    {
        const int used = Fl_Knob::handle(event);
        if (event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE) m_Events++;
        return used;
    }
    int m_Events = 0;
};

class KnobTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OpenPrivateDisplay();
        m_Window.reset(new Fl_Window(40, 40, 200, 100));
        m_Knob = MakeKnob(10, 10, 45, 45);
        m_Small = MakeKnob(70, 10, 30, 30);
        m_Wide = MakeKnob(110, 10, 60, 30);
        m_Knob->callback(Changed, this);
        m_Window->end();
        ASSERT_TRUE(ShowAndDraw(m_Window.get()));
    }

    ProbeKnob *MakeKnob(int x, int y, int w, int h)
    {
        ProbeKnob *knob = new ProbeKnob(x, y, w, h);
        knob->color(139);
        knob->selection_color(FL_RED);
        return knob;
    }

    static void Changed(Fl_Widget *, void *data) { static_cast<KnobTest *>(data)->m_Callbacks++; }

    // Length and left end of the run of knob-face pixels on row y through column x.
    static int FaceRun(const Image &image, int x, int y, int *left)
    {
        const Rgb face = IndexColour(139);
        if (image.At(x, y) != face) return 0;
        int right = x;
        *left = x;
        while (image.At(*left - 1, y) == face)
            --*left;
        while (image.At(right + 1, y) == face)
            right++;
        return right - *left + 1;
    }

    // Presses at (px, py) relative to the big knob, drags to (qx, qy) and
    // releases, with the real pointer, waiting for each step to arrive.
    void Drag(int px, int py, int qx, int qy)
    {
        const int ox = m_Window->x() + m_Knob->x();
        const int oy = m_Window->y() + m_Knob->y();
        const std::string steps[] = {
            "mousemove " + std::to_string(ox + px) + " " + std::to_string(oy + py) + " mousedown 1",
            "mousemove " + std::to_string(ox + qx) + " " + std::to_string(oy + qy), "mouseup 1"};
        for (const std::string &step : steps) {
            const int events = m_Knob->m_Events;
            XDo(step);
            ASSERT_TRUE(WaitUntil([&] { return m_Knob->m_Events > events; })) << step;
        }
    }

    std::unique_ptr<Fl_Window> m_Window;
    ProbeKnob *m_Knob = nullptr;
    ProbeKnob *m_Small = nullptr;
    ProbeKnob *m_Wide = nullptr;
    int m_Callbacks = 0;
};

} // namespace

TEST_F(KnobTest, TopIsSideLessTwentyAcrossAndCentredInItsBox)
{
    // Measured through the centre of the big knob and just above it on the
    // small ones, clear of the cursor and the highlights.
    Image image(m_Window.get());
    int left;
    EXPECT_EQ(FaceRun(image, 10 + 22, 10 + 22, &left), 25);
    EXPECT_EQ(left, 10 + 10);
    EXPECT_EQ(FaceRun(image, 70 + 15, 10 + 14, &left), 10);
    EXPECT_EQ(left, 70 + 10);
    // A wide box draws a square knob of side h in its middle.
    EXPECT_EQ(FaceRun(image, 110 + 30, 10 + 14, &left), 10);
    EXPECT_EQ(left, 110 + 15 + 10);
}

TEST_F(KnobTest, ScaleRunsOverTheTopWithAGapAtTheBottom)
{
    Image image(m_Window.get());
    const int cx = 32, cy = 32;
    const Rgb black{0, 0, 0}, white{255, 255, 255};
    // Eleven ticks from -60 to 240 degrees (from nine o'clock, clockwise),
    // black lines with a white one beside each.
    for (int k = 0; k <= 10; k++) {
        const double t = (30.0 * k - 60) * M_PI / 180;
        const int x = (int)std::lround(cx - 20 * std::cos(t));
        const int y = (int)std::lround(cy - 20 * std::sin(t));
        EXPECT_TRUE(image.Near(x, y, black) || image.Near(x, y, white)) << "tick " << k;
    }
    // No tick in the gap below the centre, outside the knob's outline.
    for (int y = cy + 18; y < cy + 23; y++) {
        for (int x = cx - 4; x <= cx + 4; x++) {
            EXPECT_NE(image.At(x, y), black) << x << ", " << y;
            EXPECT_NE(image.At(x, y), white) << x << ", " << y;
        }
    }
}

TEST_F(KnobTest, CursorTurnsClockwiseFromLowerLeftOverTheTop)
{
    // Centre of the red dot relative to the knob's centre.
    auto dot = [this](double value, double *dx, double *dy) {
        m_Knob->value(value);
        RedrawNow(m_Window.get());
        Image image(m_Window.get());
        double sx = 0, sy = 0;
        int n = 0;
        for (int y = 10; y < 55; y++)
            for (int x = 10; x < 55; x++)
                if (image.At(x, y) == (Rgb{255, 0, 0})) sx += x, sy += y, n++;
        ASSERT_GT(n, 0);
        *dx = sx / n - 32;
        *dy = sy / n - 32;
    };
    double dx, dy;
    dot(0.0, &dx, &dy); // 35 degrees: lower left
    EXPECT_LT(dx, -2);
    EXPECT_GT(dy, 4);
    dot(0.5, &dx, &dy); // 180 degrees: straight up
    EXPECT_NEAR(dx, 0, 1);
    EXPECT_LT(dy, -6);
    dot(1.0, &dx, &dy); // 325 degrees: lower right
    EXPECT_GT(dx, 2);
    EXPECT_GT(dy, 4);
}

TEST_F(KnobTest, DragFollowsThePointerAndStopsAtTheEndsInTheGap)
{
    // Straight above the centre is the middle of the range.
    Drag(22, 2, 22, 5);
    EXPECT_NEAR(m_Knob->value(), 0.5, 1e-4);
    EXPECT_GT(m_Callbacks, 0);

    // From the lower right into the gap below: the value stays at the maximum.
    Drag(37, 27, 22, 40);
    EXPECT_EQ(m_Knob->value(), 1.0);
    // From the lower left into the gap: the minimum.
    m_Knob->value(0.4);
    Drag(7, 27, 22, 40);
    EXPECT_EQ(m_Knob->value(), 0.0);

    // A press on the pointer centre changes nothing.
    m_Knob->value(0.3);
    const int callbacks = m_Callbacks;
    Drag(22, 22, 22, 22);
    EXPECT_EQ(m_Knob->value(), 0.3);
    EXPECT_EQ(m_Callbacks, callbacks);
}

TEST_F(KnobTest, WideBoxTurnsAboutTheMiddleOfTheBox)
{
    // Pointer centre of a 60x30 box at (110, 10) is (140, 25); straight above it is the middle.
    EXPECT_EQ(SendMouse(m_Wide, FL_PUSH, 140, 12), 1);
    EXPECT_NEAR(m_Wide->value(), 0.5, 1e-4);
    // Straight left of it is 90 degrees.
    SendMouse(m_Wide, FL_DRAG, 120, 25);
    EXPECT_NEAR(m_Wide->value(), (90.0 - 35) / 290, 1e-4);
    EXPECT_EQ(SendMouse(m_Wide, FL_RELEASE, 120, 25), 1);
    EXPECT_EQ(SendMouse(m_Wide, FL_ENTER, 120, 25), 0);
}
