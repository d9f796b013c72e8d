#include "AppTestFixture.h"

#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"
#include "TestSupport.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/x.H>

#include <chrono>
#include <string>

namespace {

// Lets FLTK handle whatever the X server has queued for a while.
void Pump(int milliseconds)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until) Fl::wait(0.01);
}

class LoopGUIGestureTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_App->NewLoop();
        m_Panel = PanelAt(0);
        m_Loop = LoopAt(0);
        FillLoop(0, 4 * KorvelInfo::BufferSize, [](int i) { return i; });
        m_Panel->Refresh();
        m_Panel->m_Display->position(300, 300);
        Pump(300);
    }

    // Runs xdotool against the loop window, as a person's mouse and keyboard.
    void Person(const std::string &actions)
    {
        std::string window = std::to_string(fl_xid(m_Panel->m_Display));
        int status = 0;
        std::string command = "xdotool " + actions;
        for (size_t at = command.find("%W"); at != std::string::npos; at = command.find("%W"))
            command.replace(at, 2, window);
        RunCommand(command + " 2>&1", &status);
        ASSERT_EQ(status, 0) << command;
        Pump(300);
    }

    // Presses on the right of the ring (90 degrees) and drags over the top
    // (180): the second quarter of the sound. One step at a time, as a hand
    // moves, so every motion reaches the display as a drag.
    void SelectSecondQuarter()
    {
        Person("mousemove --window %W 277 150 mousedown 1");
        Person("mousemove --window %W 240 60");
        Person("mousemove --window %W 150 23");
        Person("mouseup 1");
    }

    LoopGUI *m_Panel = nullptr;
    Loop *m_Loop = nullptr;
};

} // namespace

TEST_F(LoopGUIGestureTest, SelectingAQuarterAndCuttingThenPastingMovesThatSound)
{
    ASSERT_TRUE(m_Panel->m_Display->shown());
    int block = KorvelInfo::BufferSize;
    SelectSecondQuarter();
    EXPECT_EQ(m_Panel->m_Display->m_RangeStart, block);
    EXPECT_EQ(m_Panel->m_Display->m_RangeEnd, 2 * block);

    Person("mousemove --window %W 150 150 windowfocus %W key ctrl+x");
    ASSERT_EQ(m_Loop->m_StoreBuffer.GetLength(), 3 * block);
    EXPECT_EQ(m_Loop->m_StoreBuffer[block], 2 * block);
    EXPECT_EQ(m_Panel->m_Display->m_Length, 3 * block);

    // The selection is kept as angles: on the shorter sound a quarter turn is
    // 384 samples, and that is where the cut sound goes back in.
    int start = m_Panel->m_Display->m_RangeStart;
    ASSERT_EQ(start, 3 * block / 4);
    Person("key ctrl+v");
    ASSERT_EQ(m_Loop->m_StoreBuffer.GetLength(), 4 * block);
    for (int i = 0; i < block; i++) ASSERT_EQ(m_Loop->m_StoreBuffer[start + i], block + i) << i;
    EXPECT_EQ(m_Loop->m_StoreBuffer[start - 1], start - 1);
    EXPECT_EQ(m_Loop->m_StoreBuffer[start + block], start);
    EXPECT_EQ(m_Panel->m_Display->m_Data, m_Loop->m_StoreBuffer.GetBuffer());

    // Without Control the same letters do nothing.
    Person("key x");
    EXPECT_EQ(m_Loop->m_StoreBuffer.GetLength(), 4 * block);
}

TEST_F(LoopGUIGestureTest, ChordsReachReverseSilenceAndNewMarker)
{
    int block = KorvelInfo::BufferSize;
    SelectSecondQuarter();
    Person("mousemove --window %W 150 150 windowfocus %W key ctrl+r");
    EXPECT_EQ(m_Loop->m_StoreBuffer[block], 2 * block - 1);
    EXPECT_EQ(m_Loop->m_StoreBuffer[2 * block - 1], block);
    Person("key ctrl+z");
    EXPECT_EQ(m_Loop->m_StoreBuffer[block], 0);
    EXPECT_EQ(m_Loop->m_StoreBuffer[2 * block - 1], 0);
    EXPECT_EQ(m_Loop->m_StoreBuffer[2 * block], 2 * block);
    EXPECT_EQ(m_Loop->m_StoreBuffer[block - 1], block - 1);
    Person("key ctrl+t");
    EXPECT_EQ(m_Panel->m_Triggers.size(), 1u);
}

TEST_F(LoopGUIGestureTest, EscapeKeepsTheWindowAlsoAfterAButtonWasClicked)
{
    Person("mousemove --window %W 105 225 click 1"); // "Double"
    ASSERT_EQ(m_Loop->m_StoreBuffer.GetLength(), 8 * KorvelInfo::BufferSize);
    Person("mousemove --window %W 150 30 key Escape");
    EXPECT_FALSE(m_Loop->m_Delete);
    EXPECT_TRUE(m_Panel->m_Display->shown());
}

TEST_F(LoopGUIGestureTest, CtrlUUndoesAndCtrlYRedoesEvenDuringATake)
{
    int block = KorvelInfo::BufferSize;
    Person("mousemove --window %W 150 150 windowfocus %W key ctrl+h");
    ASSERT_EQ(m_Loop->m_StoreBuffer.GetLength(), 2 * block);
    Person("key ctrl+u");
    ASSERT_EQ(m_Loop->m_StoreBuffer.GetLength(), 4 * block);
    EXPECT_EQ(m_Loop->m_StoreBuffer[3 * block], 3 * block);
    EXPECT_EQ(m_Panel->m_Display->m_Data, m_Loop->m_StoreBuffer.GetBuffer());
    Person("key ctrl+y");
    EXPECT_EQ(m_Panel->m_Display->m_Length, 2 * block);

    // Record goes down, and undo brings it up again, ending the take.
    Person("mousemove --window %W 105 207 click 1");
    ASSERT_TRUE(m_Loop->m_Recording);
    Person("mousemove --window %W 150 150 key ctrl+u");
    EXPECT_FALSE(m_Loop->m_Recording);
    EXPECT_EQ(m_Panel->m_RecordBtn->value(), 0);
}
