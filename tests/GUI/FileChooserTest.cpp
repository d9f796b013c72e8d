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

// What the performer does while the chooser is open, from the toolkit's timer
// inside the chooser's own event loop.
struct WhileOpen
{
    Loop *playing;
    double lastPos;
    LoopGUI *closing;
    // Samples played, counted across the loop's wraps: the cycle is not
    // paced here, so a lap can pass while the chooser closes.
    float played = 0;
    int ticks = 0;
    std::string nested = "not asked";
};

// Some twenty blocks are played while the chooser waits, then the loop whose
// "Load" opened it is closed, another chooser asked for, and this one closed.
void Tick(void *data)
{
    WhileOpen *open = static_cast<WhileOpen *>(data);
    double step = open->playing->m_Pos - open->lastPos;
    open->played += step < 0 ? step + open->playing->m_LoopLength : step;
    open->lastPos = open->playing->m_Pos;
    if (open->played < 20 * KorvelInfo::BufferSize && ++open->ticks < 500)
        return Fl::repeat_timeout(0.01, Tick, data);
    open->closing->m_Display->do_callback();
    open->nested = FileChooser::Current()->Ask("Save loop as Wav file", "*.wav");
    for (Fl_Window *window = Fl::first_window(); window; window = Fl::next_window(window))
        if (window->label() && std::strcmp(window->label(), LoadTitle) == 0) return window->do_callback();
}

// The widget tests in this process use a display of their own.
class FileChooserTest : public AppTest
{
protected:
    void SetUp() override
    {
        WidgetTest::OpenPrivateDisplay();
        AppTest::SetUp();
    }
};

} // namespace

TEST_F(FileChooserTest, TheCycleRunsWhileAChooserWaitsAndALoopClosedMeanwhileOutlivesItsCallback)
{
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(1, 44100, [](int i) { return i % 100 - 50; });
    WhileOpen open{LoopAt(1), LoopAt(1)->m_Pos, PanelAt(0)};
    Fl::add_timeout(0.01, Tick, &open);

    PanelAt(0)->m_LoadBtn->do_callback();

    EXPECT_GE(open.played, 20 * KorvelInfo::BufferSize);
    EXPECT_EQ(open.nested, "");
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer.GetLength(), 0);
    EXPECT_FALSE(FileChooser::IsOpen());
    // Loop 0 was closed while its own "Load" waited: it goes only now.
    ASSERT_EQ(m_App->m_Loops.count(0), 1u);
    m_App->Run();
    EXPECT_EQ(m_App->m_Loops.count(0), 0u);
    EXPECT_EQ(m_App->m_Loops.count(1), 1u);
}
