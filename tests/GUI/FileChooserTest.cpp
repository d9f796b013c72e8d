#include "WidgetTestSupport.h"

#include "GUI/FileChooser.h"

#include "AppTestFixture.h"
#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>

#include <cstring>

namespace {

const char *const LoadTitle = "Pick a Wav file to load";

// What the performer does while the chooser is open, run from the toolkit's
// timer inside the chooser's own event loop.
struct WhileOpen
{
    AppTest *test;
    Loop *playing;
    float startPos;
    LoopGUI *closing;
    int ticks = 0;
    std::string nested = "not asked";
};

Fl_Window *WindowTitled(const char *title)
{
    for (Fl_Window *window = Fl::first_window(); window; window = Fl::next_window(window))
        if (window->label() && std::strcmp(window->label(), title) == 0) return window;
    return nullptr;
}

} // namespace

class FileChooserTest : public AppTest
{
protected:
    // The widget tests in this process use a display of their own.
    void SetUp() override
    {
        WidgetTest::OpenPrivateDisplay();
        AppTest::SetUp();
    }

    static void Tick(void *data)
    {
        WhileOpen *open = static_cast<WhileOpen *>(data);
        // Some twenty blocks played while the chooser waits, then the loop is
        // closed, another chooser asked for, and this one cancelled.
        if (open->playing->m_Pos - open->startPos < 20 * KorvelInfo::BufferSize && ++open->ticks < 500) {
            Fl::repeat_timeout(0.01, Tick, data);
            return;
        }
        open->closing->m_Display->do_callback();
        open->nested = FileChooser::Current()->Ask("Save loop as Wav file", "*.wav");
        // As the window manager's close box does.
        if (Fl_Window *chooser = WindowTitled(LoadTitle)) chooser->do_callback();
    }
};

TEST_F(FileChooserTest, TheCycleRunsWhileAChooserWaitsAndALoopClosedMeanwhileOutlivesItsCallback)
{
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(1, 44100, [](int i) { return i % 100 - 50; });
    WhileOpen open{this, LoopAt(1), LoopAt(1)->m_Pos, PanelAt(0)};
    Fl::add_timeout(0.01, Tick, &open);

    PanelAt(0)->m_LoadBtn->do_callback();

    EXPECT_GE(open.playing->m_Pos - open.startPos, 20 * KorvelInfo::BufferSize);
    EXPECT_EQ(open.nested, "");
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer.GetLength(), 0);
    EXPECT_FALSE(FileChooser::IsOpen());
    // Loop 0 was closed while its own "Load" waited: it goes only now.
    ASSERT_EQ(m_App->m_Loops.count(0), 1u);
    EXPECT_TRUE(LoopAt(0)->m_Delete);
    m_App->Run();
    EXPECT_EQ(m_App->m_Loops.count(0), 0u);
    EXPECT_EQ(m_App->m_Loops.count(1), 1u);
}
