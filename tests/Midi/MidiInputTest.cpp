#include "Midi/MidiInput.h"
#include "Midi/MidiSource.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class Heard : public MidiInput::Listener
{
public:
    void Received(const MidiMessage &message) override { m_Messages.push_back(message); }
    void Clock(unsigned char byte) override { m_Clock.push_back(byte); }
    std::vector<MidiMessage> m_Messages;
    std::vector<unsigned char> m_Clock;
};

int Lines(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(MidiInputTest, MissingDeviceIsOneLineAndIsHeardOnceItAppears)
{
    TempDir dir;
    const std::string path = dir.File("midi");
    MidiInput input;
    Heard heard;
    input.m_RetryEvery = std::chrono::seconds(0);
    testing::internal::CaptureStderr();
    input.OpenDevice(path);
    input.Poll(heard);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    input.Poll(heard);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(said), 2) << said;
    EXPECT_NE(said.find("Can't open MIDI device (No such file or directory) [" + path + "]"),
              std::string::npos);
    ASSERT_TRUE(input.DeviceOpen());

    // A message split over two reads, running status across them.
    int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    const unsigned char first[] = {0x90, 36}, second[] = {100, 0xF8, 36, 0};
    ASSERT_EQ(write(writer, first, sizeof first), 2);
    input.Poll(heard);
    ASSERT_EQ(write(writer, second, sizeof second), 4);
    input.Poll(heard);
    close(writer);
    ASSERT_EQ(heard.m_Messages.size(), 2u);
    EXPECT_EQ(heard.m_Messages[1].m_Kind, MidiMessage::NoteOff);
    // The clock's tick inside the message goes to the clock, as it came.
    EXPECT_EQ(heard.m_Clock, std::vector<unsigned char>{0xF8});
}

TEST(MidiInputTest, DeviceThatGoesAwayWhilePlayingIsOneLine)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string path = ptsname(master);
    // Raw, so the terminal passes bytes on as they come.
    int slave = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios settings;
    ASSERT_EQ(tcgetattr(slave, &settings), 0);
    cfmakeraw(&settings);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);

    MidiInput input;
    Heard heard;
    auto pollUntil = [&](const std::function<bool()> &condition) {
        for (int i = 0; i < 5000 && !condition(); i++) {
            input.Poll(heard);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return condition();
    };
    testing::internal::CaptureStderr();
    input.OpenDevice(path);
    const unsigned char press[] = {0xB0, 64, 127};
    ASSERT_EQ(write(master, press, sizeof press), 3);
    EXPECT_TRUE(pollUntil([&] { return heard.m_Messages.size() == 1; }));
    close(master);
    close(slave);
    EXPECT_TRUE(pollUntil([&] { return !input.DeviceOpen(); }));
    for (int i = 0; i < 100; i++)
        input.Poll(heard);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "MIDI device failed (the device hung up) [" + path + "]; playing on without it\n");
}

TEST(MidiInputTest, OnePollTakesAWholeCyclesBurstButNoMore)
{
    // A controller that never stops sending a note-on.
    class Endless : public MidiSource
    {
    public:
        int Read(unsigned char *bytes, int size) override
        {
            for (int i = 0; i < size; i++, m_Sent++)
                bytes[i] = static_cast<unsigned char>(m_Sent % 3 == 0 ? 0x90 : m_Sent % 3 == 1 ? 36 : 100);
            return size;
        }
        std::string Failure() const override { return ""; }
        long m_Sent = 0;
    } endless;
    MidiInput input;
    Heard heard;
    input.AddSource(&endless);
    input.Poll(heard);
    // What MIDI brings in the longest cycle allowed: 65536 frames at 8000 Hz.
    EXPECT_GE(heard.m_Messages.size(), 3125u * 65536 / 8000 / 3);
    EXPECT_LE(endless.m_Sent, MidiInput::MostBytesPerPoll);
    input.RemoveSource(&endless);
}
