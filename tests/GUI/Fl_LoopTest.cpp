#include "WidgetTestSupport.h"

#include "GUI/Fl_Loop.h"

#include <FL/Fl_Box.H>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace WidgetTest;

namespace {

const Rgb TraceGreen{100, 155, 100};
const Rgb TraceWhite{255, 255, 255};
const Rgb Band{20, 60, 20};
const Rgb TickColour{155, 155, 50};

// What the display asked for, in order.
std::vector<std::string> g_Requests;

void Record(const std::string &name, int a = -1, int b = -1)
{
    g_Requests.push_back(name + " " + std::to_string(a) + " " + std::to_string(b));
}
void Cut(Fl_Loop *, int s, int e)
{
    Record("cut", s, e);
}
void Copy(Fl_Loop *, int s, int e)
{
    Record("copy", s, e);
}
void Paste(Fl_Loop *, int p)
{
    Record("paste", p);
}
void PasteMix(Fl_Loop *, int p)
{
    Record("mix", p);
}
void Zero(Fl_Loop *, int s, int e)
{
    Record("zero", s, e);
}
void Reverse(Fl_Loop *, int s, int e)
{
    Record("reverse", s, e);
}
void Halve(Fl_Loop *)
{
    Record("halve");
}
void Hold(Fl_Loop *)
{
    Record("hold");
}
void NewTrigger(Fl_Loop *)
{
    Record("trigger");
}
void Move(Fl_Loop *, int offset)
{
    Record("move", offset);
}

class LoopDisplayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OpenPrivateDisplay();
        g_Requests.clear();
        m_Sound.assign(1000, 0);
        m_Display.reset(new Fl_Loop(100, 100, 300, 300, "Loop"));
        m_Corner = new Fl_Box(FL_FLAT_BOX, 0, 0, 10, 10, nullptr);
        m_Display->end();
        m_Display->SetData(m_Sound.data());
        m_Display->SetLength(1000);
        ASSERT_TRUE(ShowAndDraw(m_Display.get()));
    }

    void Connect()
    {
        m_Display->SetCallbacks(Cut, Copy, Paste, PasteMix, Zero, Reverse, Halve, Hold, NewTrigger, Move);
    }

    // Whether the colour is drawn within a pixel of the point at this angle and radius.
    bool DrawnAt(const Image &image, double degrees, double radius, const Rgb &colour)
    {
        const double a = degrees * M_PI / 180;
        return image.Near((int)std::lround(150 + std::sin(a) * radius),
                          (int)std::lround(150 + std::cos(a) * radius), colour);
    }

    // Mouse press at window coordinates with the given button.
    int Press(int x, int y, int button = 1) { return SendMouse(m_Display.get(), FL_PUSH, x, y, button); }
    int DragTo(int x, int y, int button = 1) { return SendMouse(m_Display.get(), FL_DRAG, x, y, button); }

    std::vector<short> m_Sound;
    std::unique_ptr<Fl_Loop> m_Display;
    Fl_Box *m_Corner = nullptr;
};

} // namespace

TEST_F(LoopDisplayTest, SilenceGoesRoundTheMiddleOfTheRingOncePerThousandPoints)
{
    // 1000 samples: a full ring on the middle circle (radius 112 + 15).
    Image full(m_Display.get());
    for (double a : {36.0, 126.0, 216.0, 306.0})
        EXPECT_TRUE(DrawnAt(full, a, 127, TraceGreen)) << a;
    EXPECT_EQ(full.At(150 + 112 + 15, 150 - 40), Band); // nothing off the circle

    // 500 samples: half a ring, the left half is empty.
    m_Display->SetLength(500);
    RedrawNow(m_Display.get());
    Image half(m_Display.get());
    EXPECT_TRUE(DrawnAt(half, 36, 127, TraceGreen));
    EXPECT_TRUE(DrawnAt(half, 126, 127, TraceGreen));
    EXPECT_FALSE(DrawnAt(half, 216, 127, TraceGreen));
    EXPECT_FALSE(DrawnAt(half, 306, 127, TraceGreen));

    // 1500 samples still one point each: 540 degrees, the left half again.
    std::vector<short> longer(1500, 0);
    m_Display->SetData(longer.data());
    m_Display->SetLength(1500);
    RedrawNow(m_Display.get());
    EXPECT_TRUE(DrawnAt(Image(m_Display.get()), 216, 127, TraceGreen));

    // No sound memory draws a flat trace; no length draws nothing and returns.
    m_Display->SetData(nullptr);
    m_Display->SetLength(1000);
    RedrawNow(m_Display.get());
    EXPECT_TRUE(DrawnAt(Image(m_Display.get()), 306, 127, TraceGreen));
    m_Display->SetLength(0);
    RedrawNow(m_Display.get());
    Image empty(m_Display.get());
    EXPECT_EQ(empty.Count(TraceGreen, 0, 0, 299, 299), 0);
    EXPECT_EQ(empty.Count(TickColour, 0, 0, 299, 299), 0);
}

TEST_F(LoopDisplayTest, FullScaleReachesTheRingEdgesAndWaveSizeIsClamped)
{
    for (int i = 0; i < 1000; i++)
        m_Sound[i] = i < 500 ? 32767 : -32767;
    RedrawNow(m_Display.get());
    Image image(m_Display.get());
    EXPECT_TRUE(DrawnAt(image, 36, 142, TraceGreen));  // outer edge
    EXPECT_TRUE(DrawnAt(image, 216, 112, TraceGreen)); // inner edge
    EXPECT_FALSE(DrawnAt(image, 36, 127, TraceGreen));

    m_Display->SetWaveSize(0.5f);
    RedrawNow(m_Display.get());
    EXPECT_TRUE(DrawnAt(Image(m_Display.get()), 36, 134.5, TraceGreen));

    // Twice the gain still stops at the edge of the ring.
    m_Display->SetWaveSize(2.0f);
    RedrawNow(m_Display.get());
    Image loud(m_Display.get());
    EXPECT_TRUE(DrawnAt(loud, 36, 142, TraceGreen));
    EXPECT_FALSE(DrawnAt(loud, 36, 157, TraceGreen));
}

TEST_F(LoopDisplayTest, SelectedRangeIsWhiteAndSnapTicksMarkEveryStep)
{
    m_Display->m_StartAngle = 90;
    m_Display->m_EndAngle = 180;
    RedrawNow(m_Display.get());
    Image image(m_Display.get());
    EXPECT_TRUE(DrawnAt(image, 126, 127, TraceWhite));
    EXPECT_TRUE(DrawnAt(image, 36, 127, TraceGreen));
    EXPECT_TRUE(DrawnAt(image, 216, 127, TraceGreen));

    // Ticks every 45 degrees across the ring, snapping on or off.
    for (int a = 0; a < 360; a += 45)
        EXPECT_TRUE(DrawnAt(image, a, 120, TickColour)) << a;
    EXPECT_FALSE(DrawnAt(image, 30, 120, TickColour));
    m_Display->SetSnapAngle(90);
    RedrawNow(m_Display.get());
    Image coarse(m_Display.get());
    EXPECT_TRUE(DrawnAt(coarse, 90, 120, TickColour));
    EXPECT_FALSE(DrawnAt(coarse, 45, 120, TickColour));
    m_Display->SetSnapAngle(0);
    RedrawNow(m_Display.get());
    EXPECT_EQ(Image(m_Display.get()).Count(TickColour, 0, 0, 299, 299), 0);
}

TEST_F(LoopDisplayTest, PlayCursorMovesWithoutLeavingATraceAndSurvivesRedraws)
{
    std::atomic<double> position{250}; // a quarter: the right-hand side
    m_Display->SetPos(&position, nullptr);
    Image before(m_Display.get());

    m_Display->DrawPosMarker(); // not enabled yet
    EXPECT_TRUE(Image(m_Display.get()) == before);

    m_Display->SetUpdate(true);
    m_Display->DrawPosMarker();
    Image right(m_Display.get());
    int changed = 0;
    for (int y = 0; y < 300; y++) {
        for (int x = 0; x < 300; x++) {
            if (right.At(x, y) == before.At(x, y)) continue;
            changed++;
            EXPECT_TRUE(x >= 150 + 112 && x <= 150 + 142 && y == 150) << x << ", " << y;
        }
    }
    EXPECT_GE(changed, 30);

    // Moving it to the top puts the right-hand side back exactly as it was.
    position = 500;
    m_Display->DrawPosMarker();
    Image top(m_Display.get());
    for (int x = 150 + 112; x <= 150 + 142; x++)
        EXPECT_EQ(top.At(x, 150), before.At(x, 150)) << x;
    int moved = 0;
    for (int y = 150 - 142; y <= 150 - 112; y++)
        for (int x = 149; x <= 150; x++)
            moved += top.At(x, y) != before.At(x, y);
    EXPECT_GE(moved, 30);

    // A control redrawing itself, and a full redraw, keep the cursor where it is.
    m_Corner->redraw();
    Fl::flush();
    EXPECT_TRUE(Image(m_Display.get()) == top);
    RedrawNow(m_Display.get());
    EXPECT_TRUE(Image(m_Display.get()) == top);

    // Nothing is drawn while the skip window is current, or while hidden.
    m_Display->SetSkipWindow(m_Display.get());
    position = 750;
    m_Display->DrawPosMarker();
    EXPECT_TRUE(Image(m_Display.get()) == top);
    m_Display->SetSkipWindow(nullptr);
    m_Display->hide();
    const int lastX = m_Display->m_CursorX2;
    m_Display->DrawPosMarker();
    EXPECT_EQ(m_Display->m_CursorX2, lastX);
}

TEST_F(LoopDisplayTest, LeftDragSelectsByAngleAndCanEndOnTheSeam)
{
    m_Display->SetLength(720); // two samples per degree, exact in single precision
    struct Point
    {
        int x, y;
        float angle;
    };
    // The bottom is the seam: coming from 0 it may read 0 or 360.
    EXPECT_EQ(Press(150, 250), 1);
    EXPECT_NEAR(std::fmod(m_Display->m_Angle, 360.0f), 0, 1e-3);
    for (Point p : {Point{250, 150, 90}, Point{150, 50, 180}, Point{50, 150, 270}}) {
        EXPECT_EQ(Press(p.x, p.y), 1);
        EXPECT_NEAR(m_Display->m_Angle, p.angle, 1e-3) << p.x << ", " << p.y;
        EXPECT_EQ(m_Display->m_StartAngle, m_Display->m_Angle);
        EXPECT_EQ(m_Display->m_EndAngle, m_Display->m_Angle);
    }
    // The exact centre has no angle: nothing changes.
    EXPECT_EQ(Press(150, 150), 1);
    EXPECT_NEAR(m_Display->m_Angle, 270, 1e-3);

    // From the left down through the seam at the bottom: the range ends at 360.
    Press(50, 150);
    DragTo(80, 220);
    DragTo(150, 250);
    EXPECT_NEAR(m_Display->m_StartAngle, 270, 1e-3);
    EXPECT_NEAR(m_Display->m_EndAngle, 360, 1e-3);
    EXPECT_EQ(m_Display->m_RangeStart, 540);
    EXPECT_EQ(m_Display->m_RangeEnd, 720);

    // Going back below the start moves the start instead.
    Press(250, 150);
    DragTo(150, 50);
    DragTo(220, 220);
    EXPECT_NEAR(m_Display->m_StartAngle, 45, 1e-3);
    EXPECT_NEAR(m_Display->m_EndAngle, 180, 1e-3);
    EXPECT_EQ(m_Display->m_RangeStart, 90);
    EXPECT_EQ(m_Display->m_RangeEnd, 360);
    EXPECT_EQ(SendMouse(m_Display.get(), FL_RELEASE, 220, 220), 1);
}

TEST_F(LoopDisplayTest, SnappingLowersTheAngleToTheStepKeepingTheFraction)
{
    Press(250, 150); // 90 degrees, so the next point needs no unwrapping
    Press(248, 131);
    const float raw = m_Display->m_Angle;
    ASSERT_GT(raw, 100);
    ASSERT_LT(raw, 101);

    m_Display->SetSnap(true);
    Press(250, 150);
    Press(248, 131);
    EXPECT_NEAR(m_Display->m_Angle, raw - 10, 1e-4);
    EXPECT_NEAR(m_Display->m_StartAngle, raw - 10, 1e-4);

    // A zero step does not snap (and does not divide by zero).
    m_Display->SetSnapAngle(0);
    Press(250, 150);
    Press(248, 131);
    EXPECT_NEAR(m_Display->m_Angle, raw, 1e-4);
}

TEST_F(LoopDisplayTest, MiddleButtonSetsThePlayPosition)
{
    Press(248, 131, 2); // without a position: nothing to set
    static double position = 0;
    std::atomic<double> shown{0};
    m_Display->SetPos(&shown, [](Fl_Loop *, double to) { position = to; });
    Press(250, 150, 2);
    EXPECT_NEAR(position, 250, 0.01);
    DragTo(150, 50, 2);
    EXPECT_NEAR(position, 500, 0.01);
    EXPECT_EQ(Fl_Loop::s_Button, 2);
    EXPECT_EQ(m_Display->m_StartAngle, 0); // the selection is left alone

    m_Display->SetLength(0);
    Press(50, 150, 2);
    EXPECT_EQ(position, 0);
}

TEST_F(LoopDisplayTest, RightDragMovesTheSoundBySamplesPassed)
{
    Connect();
    m_Display->SetLength(360); // one sample per degree
    Press(250, 150, 3);
    DragTo(250, 148, 3); // about one degree anticlockwise
    DragTo(250, 150, 3);
    m_Display->SetLength(1000);
    Press(250, 150, 3);
    DragTo(150, 50, 3);
    EXPECT_EQ(g_Requests, (std::vector<std::string>{"move 0 -1", "move -1 -1", "move 1 -1", "move 0 -1",
                                                    "move -250 -1"}));
    // Other buttons are used but do nothing.
    EXPECT_EQ(Press(250, 150, 4), 1);
    EXPECT_EQ(g_Requests.size(), 5u);
}

TEST_F(LoopDisplayTest, ControlChordsRequestEditsOfTheSelectedRange)
{
    // Before the requests are installed, chords do nothing (but select all).
    XDo("windowfocus --sync " + std::to_string(fl_xid(m_Display.get())));
    XDo("key ctrl+c ctrl+a");
    ASSERT_TRUE(WaitUntil([this] { return m_Display->m_RangeEnd == 1000; }));
    EXPECT_TRUE(g_Requests.empty());

    Connect();
    m_Display->m_StartAngle = 90;
    m_Display->m_EndAngle = 180;
    m_Display->SetLength(720);
    const char *keys = "cvxbzrhst";
    const char *expected[] = {"copy 180 360", "paste 180 -1", "cut 180 360",
                              "mix 180 -1",   "zero 180 360", "reverse 180 360",
                              "halve -1 -1",  "hold -1 -1",   "trigger -1 -1"};
    for (int i = 0; keys[i]; i++) {
        XDo(std::string("key ctrl+") + keys[i]);
        ASSERT_TRUE(WaitUntil([i] { return (int)g_Requests.size() == i + 1; })) << keys[i];
        EXPECT_EQ(g_Requests.back(), expected[i]);
    }

    // Without Control a letter fires nothing, but is still used up.
    XDo("key c ctrl+h");
    ASSERT_TRUE(WaitUntil([] { return g_Requests.size() == 10; }));
    EXPECT_EQ(g_Requests.back(), "halve -1 -1");
    Fl::e_keysym = 'c';
    EXPECT_EQ(static_cast<Fl_Widget *>(m_Display.get())->handle(FL_KEYDOWN), 1);
    EXPECT_EQ(g_Requests.size(), 10u);

    // Ctrl+A selects everything; the whole trace turns white.
    XDo("key ctrl+a");
    ASSERT_TRUE(WaitUntil([this] { return m_Display->m_StartAngle == 0; }));
    EXPECT_EQ(m_Display->m_EndAngle, 360);
    EXPECT_EQ(m_Display->m_RangeStart, 0);
    EXPECT_EQ(m_Display->m_RangeEnd, 720);
    EXPECT_TRUE(WaitUntil([this] {
        Image image(m_Display.get());
        return DrawnAt(image, 36, 127, TraceWhite) && DrawnAt(image, 216, 127, TraceWhite);
    }));
    EXPECT_EQ(g_Requests.size(), 10u);
}
