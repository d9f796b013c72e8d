#include "MidiBindings.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(MidiBindingsTest, FileKeepsBindingsAndSkipsEachDamagedLineWithOneLine)
{
    TempDir dir;
    const std::string path = dir.File("bindings");
    WriteFileBytes(path, "# mine\n\n"
                         "note 1 36 press loop 0 Record\n"
                         "cc 16 64 held loop 12 Record\n"
                         "pc 1 5 press main Main/New Loop \r\n"
                         "cc 17 1 press main Main/Snap\n"
                         "knob 1 1 press main Main/Snap\n"
                         "cc 1 2 press main\n"
                         "cc 1 x set main Output/Volume\n"
                         "note 1 37 press loop -1 Undo\n"
                         "cc 1 7 set main Output/Volume\n");
    MidiBindings bindings;
    testing::internal::CaptureStderr();
    bindings.Load(path);
    std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(bindings.m_Bindings.size(), 4u) << said;
    for (int line : {6, 7, 8, 9, 10})
        EXPECT_NE(said.find("line " + std::to_string(line) + " skipped"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 5) << said;
    EXPECT_EQ(bindings.m_Bindings[2].m_Control, "Main/New Loop");

    // A note-off finds its note's binding; a message takes its new control's place.
    MidiMessage release;
    release.m_Kind = MidiMessage::NoteOff;
    release.m_Number = 36;
    ASSERT_NE(bindings.Find(release), nullptr);
    EXPECT_EQ(bindings.Find(release)->m_LoopID, 0);
    MidiBinding feedback = bindings.m_Bindings[3];
    feedback.m_Control = "Delay/Feedback";
    bindings.Bind(feedback);
    EXPECT_TRUE(bindings.Unbind(12, "Record"));
    ASSERT_TRUE(bindings.Save());
    EXPECT_FALSE(FileExists(path + ".saving"));

    MidiBindings again;
    again.Load(path);
    ASSERT_EQ(again.m_Bindings.size(), 3u);
    EXPECT_EQ(MidiBindings::LineOf(again.m_Bindings[0]), "note 1 36 press loop 0 Record");
    EXPECT_EQ(MidiBindings::LineOf(again.m_Bindings[1]), "pc 1 5 press main Main/New Loop");
    EXPECT_EQ(MidiBindings::LineOf(again.m_Bindings[2]), "cc 1 7 set main Delay/Feedback");

    // A file that cannot be written leaves what was there.
    again.m_Path = dir.File("no-such-folder/bindings");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(again.Save());
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("MIDI bindings not saved (No such file or directory)"), std::string::npos) << said;
}
