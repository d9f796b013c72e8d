#include "WidgetTestSupport.h"

#include "AppTestFixture.h"
#include "GUI/FileChooser.h"
#include "TestSupport.h"

#include <FL/Fl_Button.H>

#include <functional>

namespace {

// Answers with a path after doing what the performer does meanwhile.
class Answering : public FileChooser
{
public:
    std::string Ask(const char *, const char *) override
    {
        if (m_Meanwhile) m_Meanwhile();
        return m_Path;
    }
    std::string m_Path;
    std::function<void()> m_Meanwhile;
};

class OutputGUITest : public AppTest
{
protected:
    void SetUp() override
    {
        WidgetTest::OpenPrivateDisplay();
        AppTest::SetUp();
        FileChooser::SetCurrent(&m_Chooser);
    }
    void TearDown() override
    {
        FileChooser::SetCurrent(nullptr);
        AppTest::TearDown();
    }
    // The button's state after a click, and whether the output records.
    std::pair<int, bool> Click(bool down)
    {
        Fl_Button *record = m_App->m_OutputGUI.m_RecordBtn;
        record->value(down ? 1 : 0);
        record->do_callback();
        return {record->value(), m_App->m_Output.m_RecordFile.IsOpen()};
    }
    Answering m_Chooser;
};

} // namespace

TEST_F(OutputGUITest, RecordShowsDownExactlyWhileTheOutputRecords)
{
    TempDir dir;
    // Released while its chooser waits: no recording, and the button says so.
    m_Chooser.m_Path = dir.File("first.wav");
    m_Chooser.m_Meanwhile = [&] { Click(false); };
    EXPECT_EQ(Click(true), std::make_pair(0, false));

    // Pressed again over a recording: the old file ends, the new one starts.
    m_Chooser.m_Meanwhile = nullptr;
    EXPECT_EQ(Click(true), std::make_pair(1, true));
    m_Chooser.m_Path = dir.File("second.wav");
    EXPECT_EQ(Click(true), std::make_pair(1, true));
    EXPECT_TRUE(FileExists(dir.File("first.wav")));
    EXPECT_EQ(Click(false), std::make_pair(0, false));
    EXPECT_TRUE(FileExists(dir.File("second.wav")));

    // A file that cannot be written leaves the button up.
    m_Chooser.m_Path = dir.File("missing/third.wav");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Click(true), std::make_pair(0, false));
    testing::internal::GetCapturedStderr();
}
