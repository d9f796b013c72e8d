#include "AppTestFixture.h"

#include "GUI/Fl_Knob.h"
#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"
#include "TestSupport.h"
#include "WidgetTestSupport.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The application reading MIDI from a pipe that stands in for the device;
// loop 0 records a steady value from its input.
class MidiControlTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        const std::string device = m_Dir.File("midi");
        ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
        m_App->m_Midi.Start(device, m_Dir.File("bindings"));
        m_Pedals = open(device.c_str(), O_WRONLY | O_NONBLOCK);
        m_App->NewLoop();
        m_Input.assign(KorvelInfo::BufferSize, 1000);
        LoopAt(0)->m_Input = m_Input.data();
    }
    void TearDown() override
    {
        close(m_Pedals);
        AppTest::TearDown();
    }

    // Plays the bytes into the device and runs the cycles.
    void Play(std::vector<unsigned char> bytes, int cycles = 1)
    {
        ASSERT_EQ(write(m_Pedals, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        for (int i = 0; i < cycles; i++)
            m_App->Run();
    }
    // A person's mouse and keyboard on a window; FLTK handles them until they did what they should.
    void Person(Fl_Window *window, const std::string &actions, const std::function<bool()> &done)
    {
        RunCommand("xdotool mousemove --window " + std::to_string(fl_xid(window)) + " " + actions);
        EXPECT_TRUE(WidgetTest::WaitUntil(done)) << actions;
    }
    std::vector<short> Sound(int length)
    {
        const short *data = LoopAt(0)->m_StoreBuffer.m_Data;
        return std::vector<short>(data, data + length);
    }

    TempDir m_Dir;
    int m_Pedals = -1;
    std::vector<short> m_Input;
};

} // namespace

TEST_F(MidiControlTest, LearntPedalsRecordOverdubAndUndoALoop)
{
    Fl_Window *main = m_App->m_Window;
    Fl_Loop *window = PanelAt(0)->m_Display;
    window->position(0, 260);
    ASSERT_TRUE(WidgetTest::ShowAndDraw(main) && WidgetTest::ShowAndDraw(window));
    MidiControl &midi = m_App->m_Midi;
    Person(main, "150 115 click 1", [&] { return midi.m_Learning; }); // "MIDI Learn"
    // The click only chooses Record; the pedal (note 36) is bound to it.
    Person(window, "105 207 click 1", [&] { return midi.m_Chosen; });
    EXPECT_FALSE(LoopAt(0)->m_Recording);
    Play({0x90, 36, 100, 36, 0});
    Person(window, "150 30 key ctrl+u", [&] { return midi.m_Chosen; });
    Play({0x90, 38, 100});
    Person(main, "150 115 click 1", [&] { return !midi.m_Learning; });
    const std::string file = ReadFileBytes(m_Dir.File("bindings"));
    EXPECT_NE(file.find("\nnote 1 36 press loop 0 Record\nnote 1 38 press loop 0 Undo\n"), std::string::npos)
        << file;

    // A take of four blocks (a note-off presses nothing), then an overdub.
    Loop *loop = LoopAt(0);
    Play({0x90, 36, 100});
    EXPECT_TRUE(loop->m_Recording);
    EXPECT_EQ(PanelAt(0)->m_RecordBtn->value(), 1);
    Play({0x80, 36, 0}, 3);
    Play({0x90, 36, 100});
    EXPECT_FALSE(loop->m_Recording);
    const int take = static_cast<int>(loop->m_LoopLength);
    EXPECT_GE(take, 4 * KorvelInfo::BufferSize);
    const std::vector<short> before = Sound(take);
    Play({0x90, 36, 100}, 3);
    Play({0x90, 36, 100});
    EXPECT_FALSE(loop->m_Recording);
    EXPECT_NE(Sound(take), before);
    Play({0x90, 38, 100});
    ASSERT_EQ(loop->m_LoopLength, take);
    EXPECT_EQ(Sound(take), before);
}

TEST_F(MidiControlTest, ControllersSpanKnobsAndSlidersAndHoldRecord)
{
    MidiControl &midi = m_App->m_Midi;
    LoopGUI *panel = PanelAt(0);
    Loop *loop = LoopAt(0);
    midi.SetLearning(true);
    midi.Choose(0, "Speed", MidiBinding::Set);
    Play({0xB0, 1, 0});
    midi.Choose(0, "Volume", MidiBinding::Set);
    Play({0xB0, 2, 0});
    midi.Choose(0, "Record", MidiBinding::Held);
    Play({0xB0, 64, 127});
    midi.Choose(-1, "Main/New Loop", MidiBinding::Press);
    Play({0xB0, 20, 127});
    midi.SetLearning(false);

    // The Speed knob's 0 to 3 spans the controller; the loop and read-out follow.
    for (int value = 0; value <= 127; value++) {
        Play({0xB0, 1, static_cast<unsigned char>(value)});
        ASSERT_NEAR(panel->m_SpeedKnob->value(), 3.0 * value / 127, 0.0001) << value;
        ASSERT_FLOAT_EQ(loop->m_Speed, static_cast<float>(panel->m_SpeedKnob->value()));
        ASSERT_EQ(panel->m_SpeedOut->value(), panel->m_SpeedKnob->value());
    }
    // A slider's top is 127: full volume.
    Play({0xB0, 2, 127});
    EXPECT_EQ(panel->m_VolumeSlider->value(), 0);
    EXPECT_FLOAT_EQ(loop->m_Volume, 1.0f);

    // Held: recording while the pedal is down, however many values it sends.
    Play({0xB0, 64, 127, 64, 90}, 3);
    EXPECT_TRUE(loop->m_Recording);
    Play({0xB0, 64, 0});
    EXPECT_FALSE(loop->m_Recording);
    EXPECT_EQ(panel->m_RecordBtn->value(), 0);
    EXPECT_GE(loop->m_LoopLength, 3 * KorvelInfo::BufferSize);

    // A pedal pressing a button presses once each time it crosses 64.
    Play({0xB0, 20, 127, 20, 100});
    EXPECT_EQ(m_App->m_Loops.size(), 2u);
    Play({0xB0, 20, 0, 20, 127});
    EXPECT_EQ(m_App->m_Loops.size(), 3u);

    // An unbound control is left alone; a closed loop takes nothing.
    midi.SetLearning(true);
    midi.Choose(0, "Speed", MidiBinding::Set);
    midi.UnbindChosen();
    midi.SetLearning(false);
    Play({0xB0, 1, 0});
    EXPECT_EQ(panel->m_SpeedKnob->value(), 3);
    loop->m_Delete = true;
    const unsigned char press[] = {0xB0, 64, 127};
    ASSERT_EQ(write(m_Pedals, press, sizeof press), 3);
    midi.Poll();
    EXPECT_FALSE(loop->m_Recording);
}
