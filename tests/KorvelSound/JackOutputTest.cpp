#include "KorvelSound/Output.h"

#include "../SavedSettings.h"
#include "../TestSupport.h"
#include "JackMidiSource.h"
#include "KorvelInfo.h"
#include "KorvelSound/SoundDevice.h"
#include "MidiParser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A JACK server of the test's own: dummy backend, private name.
class PrivateJackServer
{
public:
    PrivateJackServer() : m_Name("korvel-test-" + std::to_string(getpid()))
    {
        m_Pid = std::stoi(RunCommand("jackd -n " + m_Name + " -d dummy -r 44100 -p 256 >" +
                                     m_Dir.File("jackd.log") + " 2>&1 & echo $!"));
        for (int tries = 0; tries < 100 && Command("jack_lsp") != 0 && kill(m_Pid, 0) == 0; tries++)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~PrivateJackServer()
    {
        Stop();
        // The semaphore of a client whose server went first stays behind.
        RunCommand("rm -f /dev/shm/jack_sem.*_" + m_Name + "_*");
    }
    // A server that does not end by itself keeps its entry in JACK's
    // registry of servers, which holds only eight: one leaked a run fills it
    // within a few runs.
    void Stop()
    {
        kill(m_Pid, SIGTERM);
        for (int tries = 0; tries < 100 && kill(m_Pid, 0) == 0; tries++)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(m_Pid, SIGKILL);
    }
    // Why it did not answer, for the failure message.
    std::string Log() const { return ReadFileBytes(m_Dir.File("jackd.log")); }
    int Command(const std::string &command)
    {
        int status = -1;
        RunCommand("JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=" + m_Name + " " + command +
                       " >/dev/null 2>&1",
                   &status);
        return status;
    }
    TempDir m_Dir;
    std::string m_Name;
    pid_t m_Pid;
};

// The real device, but a clock that does not sleep.
class StoppedClock : public SoundDevice
{
public:
    int64_t NowMicros() override { return m_Now; }
    void SleepUntilMicros(int64_t when) override { m_Now = std::max(m_Now, when), m_Sleeps++; }
    int64_t m_Now = 0;
    int m_Sleeps = 0;
};

} // namespace

TEST(JackOutputTest, BlocksComeBackInOrderDropoutsAreCountedAndALostServerLeavesTheRecordingWhole)
{
    SavedSettings saved;
    PrivateJackServer server;
    ASSERT_EQ(server.Command("jack_lsp"), 0) << server.Log();
    KorvelInfo::OutputDevice = "jack:" + server.m_Name;
    KorvelInfo::Samplerate = 48000; // the server's rate wins
    TempDir dir;
    StoppedClock clock;
    testing::internal::CaptureStderr();
    auto output = std::make_unique<Output>(2, &clock);
    EXPECT_EQ(KorvelInfo::Samplerate, 44100);
    // The output fed back into the input: what comes back must be what went
    // out, in order, a fixed number of frames later.
    ASSERT_EQ(server.Command("jack_connect KorvelLoops:left KorvelLoops:input"), 0);
    output->Record(dir.File("rec.wav").c_str());
    output->m_Volume = 1.0f;
    const int frames = KorvelInfo::BufferSize;
    Sample block(frames);
    std::vector<short> input;
    for (int b = 0; b < 200; b++) {
        for (int i = 0; i < frames; i++)
            block.Set(i, static_cast<short>((b * frames + i) % 30000 + 1));
        output->ClearBuffer();
        output->Send(block, 1.0f, 1.0f);
        output->Write();
        input.insert(input.end(), output->InputBlock().m_Data, output->InputBlock().m_Data + frames);
    }
    size_t first = 0;
    while (first < input.size() && input[first] == 0)
        first++;
    ASSERT_LT(first, input.size() / 2);
    int breaks = 0;
    for (size_t i = first + 1; i < input.size(); i++)
        if (input[i] != input[i - 1] % 30000 + 1) breaks++;
    // A dropout plays a period of silence and drops that period's input; so
    // does a cycle the server reports late (a busy machine).
    EXPECT_LE(breaks, 2 * (output->Dropouts() + output->Xruns()));

    // Not writing for a while is what a dropout is.
    const int64_t before = output->Dropouts();
    for (int waits = 0; waits < 500 && output->Dropouts() == before; waits++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(output->Dropouts(), before);

    server.Stop();
    int written = 200;
    for (; written < 400 && clock.m_Sleeps == 0; written++)
        output->Write();
    EXPECT_GT(clock.m_Sleeps, 0) << "the cycle is not paced after the server went";
    for (int b = 0; b < 5; b++, written++)
        output->Write();
    EXPECT_EQ(output->m_RecordFile.Close(), 1);
    output.reset();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("JACK runs at 44100 Hz: Samplerate 48000 is replaced by it for this run\n"),
              std::string::npos);
    EXPECT_NE(
        said.find("\nJACK server is gone: playing on silent until the program is restarted; recording goes "
                  "on\nJACK: "),
        std::string::npos)
        << said;
    EXPECT_EQ(ReadFileBytes(dir.File("rec.wav")).size(), 44u + written * frames * 4u);
}

TEST(JackOutputTest, MidiPortHandsOnWholeEventsUntilTheServerGoes)
{
    SavedSettings saved;
    PrivateJackServer server;
    ASSERT_EQ(server.Command("jack_lsp"), 0) << server.Log();
    KorvelInfo::OutputDevice = "jack:" + server.m_Name;
    KorvelInfo::WantMidi = true;
    testing::internal::CaptureStderr();
    auto output = std::make_unique<Output>(2);
    ASSERT_TRUE(output->OnJack());
    JackMidiSource source(output->Jack());
    // A sequencer of JACK's own: middle C, again and again.
    RunCommand("JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=" + server.m_Name +
               " jack_midiseq seq 4410 0 60 2205 >/dev/null 2>&1 & echo $!");
    int connected = -1;
    for (int tries = 0; tries < 100 && connected != 0; tries++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        connected = server.Command("jack_connect seq:out KorvelLoops:midi_in");
    }
    ASSERT_EQ(connected, 0);
    MidiParser parser;
    std::vector<std::string> heard;
    unsigned char bytes[64];
    for (int waits = 0; waits < 200 && heard.size() < 4; waits++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (int got = source.Read(bytes, sizeof bytes), i = 0; i < got; i++) {
            MidiMessage message;
            if (parser.Feed(bytes[i], message))
                heard.push_back(std::to_string(message.m_Kind) + " " + std::to_string(message.m_Number));
        }
    }
    const std::string on = std::to_string(MidiMessage::NoteOn) + " 60";
    const std::string off = std::to_string(MidiMessage::NoteOff) + " 60";
    ASSERT_EQ(heard.size(), 4u);
    // Whole events, in order: the parser never sees half a message.
    EXPECT_TRUE(heard == std::vector<std::string>({on, off, on, off}) ||
                heard == std::vector<std::string>({off, on, off, on}));
    // A client that vanishes while its server shuts down makes the server
    // die without leaving JACK's registry: the server goes when seq is gone.
    RunCommand("pkill -f 'jack_midiseq seq 4410' >/dev/null 2>&1");
    for (int tries = 0; tries < 100 && server.Command("jack_lsp | grep -q seq:out") == 0; tries++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.Stop();
    EXPECT_EQ(source.Read(bytes, sizeof bytes), -1);
    output.reset();
    testing::internal::GetCapturedStderr();
}
