#include "WidgetTestSupport.h"

#include "GUI/Fl_LED_Button.h"

#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

using namespace WidgetTest;

namespace {

class LedButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OpenPrivateDisplay();
        m_Window.reset(new Fl_Window(50, 50, 120, 50));
        m_Window->color(FL_BACKGROUND_COLOR); // (192, 192, 192)
        m_Led = new Fl_LED_Button(10, 10, 25, 25, "Play");
        m_Led->callback(Toggled, this);
        m_Window->end();
        ASSERT_TRUE(ShowAndDraw(m_Window.get()));
    }

    static void Toggled(Fl_Widget *, void *data) { static_cast<LedButtonTest *>(data)->m_Toggles++; }

    // Pixels of the LED area that differ from the window's background.
    std::set<std::pair<int, int>> Footprint(const Image &image) const
    {
        std::set<std::pair<int, int>> pixels;
        for (int y = 10; y < 35; y++)
            for (int x = 10; x < 31; x++)
                if (image.At(x, y) != IndexColour(FL_BACKGROUND_COLOR)) pixels.insert({x, y});
        return pixels;
    }

    std::unique_ptr<Fl_Window> m_Window;
    Fl_LED_Button *m_Led = nullptr;
    int m_Toggles = 0;
};

} // namespace

TEST_F(LedButtonTest, LitAndUnlitColoursFollowTheSelectionColour)
{
    // A 25x25 LED at (10, 10): d = 4, S = 17. The core disc starts at
    // (19, 20), the highlight spot at (19, 20), the shadow at (15, 16).
    Image unlit(m_Window.get());
    EXPECT_EQ(unlit.At(22, 23), (Rgb{125, 0, 0}));
    EXPECT_EQ(unlit.At(19, 20), (Rgb{255, 100, 100}));
    EXPECT_EQ(unlit.At(15, 22), (Rgb{102, 102, 102}));

    m_Led->value(1);
    RedrawNow(m_Window.get());
    Image lit(m_Window.get());
    EXPECT_EQ(lit.At(22, 23), (Rgb{255, 0, 0}));
    EXPECT_EQ(lit.At(19, 20), (Rgb{255, 250, 250}));
    EXPECT_EQ(lit.At(15, 22), (Rgb{102, 102, 102}));

    // Only the colours change with the value, never the shape.
    EXPECT_EQ(Footprint(lit), Footprint(unlit));
}

TEST_F(LedButtonTest, BodySitsBelowRightOfTheBoxCornerWithTheLabelBesideIt)
{
    Image image(m_Window.get());
    // The black outline round the body spans (x + 6, y + 7) to (x + 17, y + 18).
    int left = 100, top = 100, right = -1, bottom = -1;
    for (int y = 0; y < 50; y++) {
        for (int x = 0; x < 30; x++) {
            if (image.At(x, y) != (Rgb{0, 0, 0})) continue;
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x);
            bottom = std::max(bottom, y);
        }
    }
    EXPECT_EQ(left, 16);
    EXPECT_EQ(top, 17);
    EXPECT_EQ(right, 27);
    EXPECT_EQ(bottom, 28);
    EXPECT_EQ(image.At(26, 22), (Rgb{45, 0, 0})); // unlit body inside the outline

    // The label is drawn right of x + 21 and nowhere left of it.
    int labelLeft = 1000;
    for (int y = 0; y < 50; y++)
        for (int x = 28; x < 120; x++)
            if (image.At(x, y) != IndexColour(FL_BACKGROUND_COLOR)) labelLeft = std::min(labelLeft, x);
    EXPECT_GE(labelLeft, 31);
    EXPECT_LT(labelLeft, 40);
}

TEST_F(LedButtonTest, ShadowTakesTheParentColourClampedAtBlack)
{
    m_Window->color(fl_rgb_color(40, 120, 200));
    RedrawNow(m_Window.get());
    Image image(m_Window.get());
    EXPECT_EQ(image.At(15, 22), (Rgb{0, 30, 110}));
}

TEST_F(LedButtonTest, ClickTogglesTheValueAndFiresTheCallback)
{
    const int x = m_Window->x() + 22;
    const int y = m_Window->y() + 22;
    XDo("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    ASSERT_TRUE(WaitUntil([this] { return m_Toggles == 1; }));
    EXPECT_EQ(m_Led->value(), 1);
    XDo("click 1");
    ASSERT_TRUE(WaitUntil([this] { return m_Toggles == 2; }));
    EXPECT_EQ(m_Led->value(), 0);
    // Redrawn lit and unlit as the value went.
    EXPECT_TRUE(WaitUntil([this] { return Image(m_Window.get()).At(22, 23) == (Rgb{125, 0, 0}); }));
}
