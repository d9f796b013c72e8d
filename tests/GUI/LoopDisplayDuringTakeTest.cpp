// Found by the soak test: a fresh take replaces and grows the loop's sound
// inside the audio cycle, and the ring went on drawing from the freed buffer
// (turning the Length knob during the take made that reach real memory).
#include "AppTestFixture.h"

#include "GUI/Fl_Knob.h"
#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>

TEST_F(AppTest, RingFollowsTheSoundWhileATakeReplacesAndGrowsIt)
{
    m_App->NewLoop();
    LoopGUI *panel = PanelAt(0);
    Loop *loop = LoopAt(0);
    Sample input(KorvelInfo::BufferSize);
    for (int i = 0; i < KorvelInfo::BufferSize; i++) input.Set(i, static_cast<short>(i * 50));
    loop->m_Input = input.GetBuffer();
    panel->m_Display->show();

    panel->m_RecordBtn->value(1);
    panel->m_RecordBtn->do_callback();
    for (int cycle = 0; cycle < 100; cycle++) {
        m_App->Run();
        // Mid-take the performer turns the Length knob, which shows what is there so far.
        if (cycle == 70) {
            panel->m_LengthKnob->value(0.9);
            panel->m_LengthKnob->do_callback();
        }
        ASSERT_EQ(panel->m_Display->m_Data, loop->m_StoreBuffer.GetBuffer()) << "cycle " << cycle;
        ASSERT_LE(panel->m_Display->m_Length, loop->m_StoreBuffer.GetLength()) << "cycle " << cycle;
        panel->m_Display->redraw();
        Fl::check();
    }
    panel->m_RecordBtn->value(0);
    panel->m_RecordBtn->do_callback();
    EXPECT_GT(loop->m_StoreBuffer.GetLength(), 3 * 16384);
    EXPECT_EQ(panel->m_Display->m_Data, loop->m_StoreBuffer.GetBuffer());
}
