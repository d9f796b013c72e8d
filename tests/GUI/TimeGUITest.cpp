#include "AppTestFixture.h"

#include "GUI/TimeGUI.h"
#include "TestSupport.h"
#include "WidgetTestSupport.h"

#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <string>

TEST_F(AppTest, ATempoIsTakenAsTypedWholeNotDigitByDigit)
{
    Fl_Window *main = m_App->CreateWindow();
    ASSERT_TRUE(WidgetTest::ShowAndDraw(main));
    const std::string window = std::to_string(fl_xid(main));
    // A person clicks into "Tempo" and types 120, then Enter.
    RunCommand("xdotool mousemove --window " + window + " 70 200 click 1 sleep 0.2 type 120");
    WidgetTest::WaitUntil([] { return false; }, 0.3);
    EXPECT_EQ(m_App->m_TimeGUI.m_Settings.m_Bpm, 0); // not yet entered
    RunCommand("xdotool key Return");
    EXPECT_TRUE(WidgetTest::WaitUntil([&] { return m_App->m_TimeGUI.m_Settings.m_Bpm == 120; }))
        << m_App->m_TimeGUI.m_Settings.m_Bpm;
}
