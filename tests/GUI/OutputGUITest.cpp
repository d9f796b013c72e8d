#include "WidgetTestSupport.h"

#include "AppTestFixture.h"
#include "GUI/FileChooser.h"
#include "GUI/OutputGUI.h"
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
    void Click(bool down)
    {
        Fl_Button *record = m_App->m_OutputGUI.m_RecordBtn;
        record->value(down ? 1 : 0);
        record->do_callback();
    }
    bool Recording() { return m_App->m_Output.m_RecordFile.IsOpen(); }
    Answering m_Chooser;
};

} // namespace

TEST_F(OutputGUITest, RecordShowsOnExactlyWhileTheOutputRecords)
{
    TempDir dir;
    Fl_Button *record = m_App->m_OutputGUI.m_RecordBtn;
    // Released while its chooser waits: no take, and the button says so.
    m_Chooser.m_Path = dir.File("first.wav");
    m_Chooser.m_Meanwhile = [&] { Click(false); };
    Click(true);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(record->value(), 0);

    // A take, then Record pressed again over it: the old file ends, the new take goes into the new file.
    m_Chooser.m_Meanwhile = nullptr;
    Click(true);
    EXPECT_TRUE(Recording());
    EXPECT_EQ(record->value(), 1);
    m_Chooser.m_Path = dir.File("second.wav");
    Click(true);
    EXPECT_TRUE(Recording());
    EXPECT_TRUE(FileExists(dir.File("first.wav")));
    Click(false);
    EXPECT_FALSE(Recording());
    EXPECT_TRUE(FileExists(dir.File("second.wav")));

    // A file that cannot be written leaves the button up.
    m_Chooser.m_Path = dir.File("missing/third.wav");
    testing::internal::CaptureStderr();
    Click(true);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(Recording());
    EXPECT_EQ(record->value(), 0);
}
