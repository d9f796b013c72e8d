#include "WidgetTestSupport.h"

#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace WidgetTest;

namespace {

const Rgb White{255, 255, 255};

// Counts the mouse events it gets, so a test can wait for each step of a gesture.
class ProbeTrigger : public Fl_Trigger
{
public:
    ProbeTrigger() : Fl_Trigger(0, 0, 20, 20) {}
    int handle(int event) override
    {
        const int used = Fl_Trigger::handle(event);
        if (event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE) m_Events++;
        return used;
    }
    int m_Events = 0;
};

// A marker on a loop display, as the loop panel makes them.
class TriggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OpenPrivateDisplay();
        m_Sound.assign(1000, 0);
        m_Display.reset(new Fl_Loop(100, 100, 300, 300));
        m_Marker = new ProbeTrigger;
        m_Marker->m_CentreX = m_Marker->m_CentreY = 150;
        m_Marker->m_Radius = 125;
        m_Display->end();
        m_Display->SetData(m_Sound.data());
        m_Display->m_EndAngle = 0; // nothing selected: no white in the trace
        ASSERT_TRUE(ShowAndDraw(m_Display.get()));
    }

    // Runs xdotool steps on the display, waiting for the marker to see each.
    void Gesture(const std::vector<std::string> &steps)
    {
        for (const std::string &step : steps) {
            const int events = m_Marker->m_Events;
            XDo(step);
            ASSERT_TRUE(WaitUntil([&] { return m_Marker->m_Events > events; })) << step;
        }
    }

    std::string At(int x, int y) const
    {
        return std::to_string(m_Display->x() + x) + " " + std::to_string(m_Display->y() + y);
    }

    std::vector<short> m_Sound;
    std::unique_ptr<Fl_Loop> m_Display;
    ProbeTrigger *m_Marker = nullptr;
};

} // namespace

TEST_F(TriggerTest, MarkerSitsOnItsCircleWithTargetAboveAndCountBeside)
{
    for (float angle : {0.0f, 90.0f, 180.0f, 270.0f}) {
        m_Marker->m_Angle = angle;
        RedrawNow(m_Display.get());
        const double a = angle * M_PI / 180;
        const int cx = (int)std::lround(150 + std::sin(a) * 125);
        const int cy = (int)std::lround(150 + std::cos(a) * 125);
        EXPECT_NEAR(m_Marker->x() + 10, cx, 1) << angle;
        EXPECT_NEAR(m_Marker->y() + 10, cy, 1) << angle;

        const int x = m_Marker->x(), y = m_Marker->y();
        Image image(m_Display.get());
        // A white ring, hollow in the middle.
        EXPECT_EQ(image.At(x, y + 10), White) << angle;
        EXPECT_EQ(image.At(x + 19, y + 10), White) << angle;
        EXPECT_EQ(image.At(x + 10, y), White) << angle;
        EXPECT_NE(image.At(x + 10, y + 10), White) << angle;
        // "0" above the circle and "0" to its right, nothing on its left.
        EXPECT_GT(image.CountBright(200, x + 6, y - 10, x + 16, y - 1), 3) << angle;
        EXPECT_GT(image.CountBright(200, x + 21, y + 3, x + 32, y + 13), 3) << angle;
        EXPECT_EQ(image.CountBright(200, x - 12, y + 3, x - 2, y + 13), 0) << angle;
    }
}

TEST_F(TriggerTest, MiddleClicksCycleTheTargetAndRightClicksTheCount)
{
    RedrawNow(m_Display.get());
    XDo("mousemove " + At(150, 275));
    std::vector<int> targets;
    for (int i = 0; i < 11; i++) {
        Gesture({"click 2"});
        targets.push_back(m_Marker->m_TargetID);
    }
    EXPECT_EQ(targets, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
    m_Marker->m_MaxCount = 2;
    std::vector<int> counts;
    for (int i = 0; i < 4; i++) {
        Gesture({"click 3"});
        counts.push_back(m_Marker->m_Count);
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 0, 1}));
    // The clicks belonged to the marker, not to the display under it.
    EXPECT_EQ(m_Display->m_EndAngle, 0);
    EXPECT_EQ(Fl_Trigger::s_Button, 3);

    // The display shows the new numbers at once, with nothing of the old ones left.
    m_Marker->m_TargetID = 8;
    Gesture({"click 2"});
    ASSERT_EQ(m_Marker->m_TargetID, 9);
    Image image(m_Display.get());
    // Taken before the event loop has flushed anything: the click itself
    // redrew the display, so a fresh full redraw changes nothing.
    RedrawNow(m_Display.get());
    EXPECT_TRUE(Image(m_Display.get()) == image);
}

TEST_F(TriggerTest, LeftDragCarriesTheMarkerRoundAndLeavesNoTraceBehind)
{
    Gesture({"mousemove " + At(150, 275) + " mousedown 1", "mousemove " + At(250, 200),
             "mousemove " + At(275, 150)});
    EXPECT_TRUE(m_Marker->m_Dragging);
    EXPECT_NEAR(m_Marker->m_Angle, 90, 1e-3);
    Gesture({"mouseup 1"});
    EXPECT_FALSE(m_Marker->m_Dragging);

    // The release redraws the display: the bottom of the ring is clean again.
    Image image(m_Display.get());
    EXPECT_EQ(image.Count(White, 130, 250, 170, 299), 0);
    EXPECT_EQ(image.At(m_Marker->x(), m_Marker->y() + 10), White);
}

TEST_F(TriggerTest, DragSnapsAndCanRestOnTheSeam)
{
    // Left of the centre, then down through the seam at the bottom.
    SendMouse(m_Marker, FL_PUSH, 25, 150);
    EXPECT_NEAR(m_Marker->m_Angle, 270, 1e-3);
    SendMouse(m_Marker, FL_DRAG, 62, 238);
    SendMouse(m_Marker, FL_DRAG, 150, 275);
    EXPECT_NEAR(m_Marker->m_Angle, 360, 1e-3);
    SendMouse(m_Marker, FL_RELEASE, 150, 275);

    m_Marker->m_Angle = 90;
    SendMouse(m_Marker, FL_PUSH, 248, 131);
    const float raw = m_Marker->m_Angle;
    ASSERT_GT(raw, 100);
    ASSERT_LT(raw, 101);
    m_Marker->m_Angle = 90;
    m_Marker->SetSnap(true);
    SendMouse(m_Marker, FL_DRAG, 248, 131);
    EXPECT_NEAR(m_Marker->m_Angle, raw - 10, 1e-4);

    // Only the left button drags.
    SendMouse(m_Marker, FL_PUSH, 150, 25, 2);
    EXPECT_EQ(SendMouse(m_Marker, FL_DRAG, 150, 25, 2), 1);
    EXPECT_NEAR(m_Marker->m_Angle, raw - 10, 1e-4);
    EXPECT_EQ(SendMouse(m_Marker, FL_ENTER, 150, 25), 0);
}
