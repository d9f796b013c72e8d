#include "KorvelSound/Output.h"

#include "../JackTestServer.h"
#include "../SavedSettings.h"
#include "../TestSupport.h"
#include "AudioDevices/BlockRunner.h"
#include "AudioDevices/JackDevice.h"
#include "KorvelInfo.h"
#include "Midi/JackMidiSource.h"
#include "Midi/MidiParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The real device, but a clock that does not sleep.
class StoppedClock : public ReportingDevice
{
public:
    int64_t NowMicros() override { return m_Now; }
    void SleepUntilMicros(int64_t when) override { m_Now = std::max(m_Now, when), m_Sleeps++; }
    int64_t m_Now = 0;
    int m_Sleeps = 0;
};

// Output on the server with its left port fed back into its input: sample n
// of the output is n % 30000 + 1, so what comes back tells its delay.
struct Loopback
{
    explicit Loopback(JackTestServer &server, SoundDevice *device)
    {
        KorvelInfo::OutputDevice = "jack:" + server.Name();
        m_Output.reset(new Output(2, device));
        m_Output->m_Volume = 1.0f;
        m_Connected =
            server.Connect(JackTestServer::Program() + ":left", JackTestServer::Program() + ":input");
    }
    void Play(int blocks)
    {
        const int frames = KorvelInfo::BufferSize;
        Sample block(frames);
        for (int b = 0; b < blocks; b++, m_Blocks++) {
            for (int i = 0; i < frames; i++)
                block.Set(i, static_cast<short>((m_Blocks * frames + i) % 30000 + 1));
            m_Output->ClearBuffer();
            m_Output->Send(block, 1.0f, 1.0f);
            m_Output->Write();
            const short *in = m_Output->InputBlock().m_Data;
            m_Input.insert(m_Input.end(), in, in + frames);
        }
    }
    // Frames from a sample going out to its coming back, at the input's end.
    int64_t Delay() const
    {
        const int64_t k = static_cast<int64_t>(m_Input.size()) - 1;
        return m_Input.empty() || m_Input.back() == 0 ? -1
                                                      : ((k - (m_Input.back() - 1)) % 30000 + 30000) % 30000;
    }
    std::unique_ptr<Output> m_Output;
    std::vector<short> m_Input;
    int64_t m_Blocks = 0;
    bool m_Connected = false;
};

// Blocks made in the callback as the engine makes them (the input first, then
// the block out), the loopback's counting signal; refuses the blocks asked
// for while m_Held counts down, as an engine the GUI holds.
class CountingRunner : public BlockRunner
{
public:
    explicit CountingRunner(Output &output) : m_Output(output), m_Block(KorvelInfo::BufferSize)
    {
        m_Input.resize(400 * KorvelInfo::BufferSize);
    }
    bool RunBlock() override
    {
        if (m_Held.load() > 0) {
            m_Held--;
            return false;
        }
        const int frames = KorvelInfo::BufferSize, made = m_Made.load();
        if ((made + 1) * frames > static_cast<int>(m_Input.size())) return false;
        m_Output.TakeInput();
        for (int i = 0; i < frames; i++)
            m_Block.Set(i, static_cast<short>((made * frames + i) % 30000 + 1));
        m_Output.ClearBuffer();
        m_Output.Send(m_Block, 1.0f, 1.0f);
        m_Output.Write();
        std::copy(m_Output.InputBlock().m_Data, m_Output.InputBlock().m_Data + frames,
                  m_Input.begin() + made * frames);
        m_Made.store(made + 1);
        return true;
    }
    // Frames from a sample going out to its coming back, at input frame k.
    int64_t DelayAt(int64_t k) const
    {
        return m_Input[k] == 0 ? -1 : ((k - (m_Input[k] - 1)) % 30000 + 30000) % 30000;
    }
    Output &m_Output;
    Sample m_Block;
    std::vector<short> m_Input;
    std::atomic<int> m_Made{0}, m_Held{0};
};

void WaitForBlocks(const CountingRunner &runner, int blocks)
{
    for (int waits = 0; waits < 1000 && runner.m_Made.load() < blocks; waits++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

TEST(JackOutputTest, BlocksMadeInTheCallbackKeepTheirDelayAfterPeriodsTheEngineWasHeld)
{
    SavedSettings saved;
    JackTestServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ReportingDevice device;
    testing::internal::CaptureStderr();
    Loopback loop(server, &device);
    ASSERT_TRUE(loop.m_Connected);
    CountingRunner runner(*loop.m_Output);
    loop.m_Output->Jack()->RunInCallback(&runner);
    WaitForBlocks(runner, 100);
    runner.m_Held = 3;
    WaitForBlocks(runner, 300);
    loop.m_Output->Jack()->RunInCallback(nullptr);
    ASSERT_GE(runner.m_Made.load(), 300);
    const int frames = KorvelInfo::BufferSize;
    const int64_t before = runner.DelayAt(100 * frames - 1), after = runner.DelayAt(300 * frames - 1);
    EXPECT_GT(before, 0);
    EXPECT_EQ(after, before) << "the input came later after the held periods";
    loop.m_Output.reset();
    testing::internal::GetCapturedStderr();
}

TEST(JackOutputTest, BlocksComeBackInOrderDropoutsAreCountedAndALostServerLeavesTheRecordingWhole)
{
    SavedSettings saved;
    JackTestServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    KorvelInfo::Samplerate = 48000; // the server's rate wins
    TempDir dir;
    StoppedClock clock;
    testing::internal::CaptureStderr();
    Loopback loop(server, &clock);
    Output *output = loop.m_Output.get();
    EXPECT_EQ(KorvelInfo::Samplerate, 44100);
    // What comes back must be what went out, in order, a fixed number of
    // frames later.
    ASSERT_TRUE(loop.m_Connected);
    output->Record(dir.File("rec.wav").c_str());
    loop.Play(200);
    const std::vector<short> &input = loop.m_Input;
    size_t first = 0;
    while (first < input.size() && input[first] == 0)
        first++;
    ASSERT_LT(first, input.size() / 2);
    // A dropout plays a period of silence and drops that period's input; so
    // does a cycle the server reports late (a busy machine). The silence may
    // come back too: a run of it is one break, and so is a jump.
    int breaks = 0;
    std::string where;
    for (size_t i = first + 1, last = first; i < input.size(); i++) {
        const bool silent = input[i] == 0;
        if (silent ? input[i - 1] != 0 : input[i] != input[last] % 30000 + 1) {
            if (breaks++ < 5) where += " " + std::to_string(i) + ": " + std::to_string(input[i]);
        }
        if (!silent) last = i;
    }
    EXPECT_LE(breaks, 2 * (output->Dropouts() + output->Xruns()))
        << "breaks at" << where << "; dropouts " << output->Dropouts() << ", xruns " << output->Xruns();

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
    loop.m_Output.reset();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("JACK runs at 44100 Hz: Samplerate 48000 is replaced by it for this run\n"),
              std::string::npos);
    EXPECT_NE(
        said.find("\nJACK server is gone: playing on silent until the program is restarted; recording goes "
                  "on\nJACK: "),
        std::string::npos)
        << said;
    EXPECT_EQ(ReadFileBytes(dir.File("rec.wav")).size(), 44u + written * KorvelInfo::BufferSize * 4u);
}

TEST(JackOutputTest, MidiPortHandsOnWholeEventsUntilTheServerGoes)
{
    SavedSettings saved;
    JackTestServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    KorvelInfo::OutputDevice = "jack:" + server.Name();
    KorvelInfo::WantMidi = true;
    ReportingDevice device;
    auto output = std::make_unique<Output>(2, &device);
    JackMidiSource source(output->Jack());
    // A sequencer of JACK's own: middle C, again and again.
    const std::string seq = "korvel-seq-" + std::to_string(getpid());
    const pid_t sequencer = server.Spawn({"jack_midiseq", seq, "4410", "0", "60", "2205"});
    bool connected = false;
    for (int tries = 0; tries < 100 && !connected; tries++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        connected = server.Connect(seq + ":out", JackTestServer::Program() + ":midi_in");
    }
    ASSERT_TRUE(connected) << server.Log();
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
    // Whole events, in order: the parser never sees half a message. A cycle
    // the server reports late (a busy machine) may lose a period's events.
    for (size_t i = 0; i < heard.size(); i++) {
        EXPECT_TRUE(heard[i] == on || heard[i] == off) << heard[i];
        if (i > 0 && output->Xruns() == 0) {
            EXPECT_NE(heard[i], heard[i - 1]) << i;
        }
    }
    server.StopChild(sequencer);
    server.Stop();
    EXPECT_EQ(source.Read(bytes, sizeof bytes), -1);
}

TEST(JackOutputTest, AFailedOpenSaysWhyInOneLineAndAServerThatDoesNotAnswerIsGivenUp)
{
    SavedSettings saved;
    JackTestServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ReportingDevice device;
    const std::string none = "korvel-none-" + std::to_string(getpid());
    KorvelInfo::OutputDevice = "jack:" + none;
    try {
        Output output(2, &device);
        ADD_FAILURE() << "opened a server that does not exist";
    } catch (const std::runtime_error &ended) {
        EXPECT_STREQ(ended.what(), ("the program would end with status 999: Can't open audio driver. [jack:" +
                                    none + ": no JACK server answers as \"" + none +
                                    "\": server not running or failed, failure (status 0x11)]\n")
                                       .c_str());
    }

    KorvelInfo::OutputDevice = "jack:" + server.Name();
    kill(server.Pid(), SIGSTOP);
    try {
        Output output(2, &device);
        ADD_FAILURE() << "opened a stopped server";
    } catch (const std::runtime_error &ended) {
        EXPECT_NE(std::string(ended.what())
                      .find("[jack:" + server.Name() + ": JACK server \"" + server.Name() +
                            "\" does not answer (waited 5 s)]\n"),
                  std::string::npos)
            << ended.what();
    }
}

TEST(JackOutputTest, APeriodThatGrowsWhilePlayingIsFollowed)
{
    SavedSettings saved;
    JackTestServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ReportingDevice device;
    testing::internal::CaptureStderr();
    Loopback loop(server, &device);
    loop.Play(20);
    ASSERT_TRUE(server.SetPeriod(2048));
    // A period longer than the ring once made every cycle a dropout.
    const int64_t before = loop.m_Output->Dropouts();
    for (int b = 0; b < 100 && loop.m_Output->Dropouts() - before < 20; b++)
        loop.Play(1);
    EXPECT_EQ(loop.m_Output->Jack()->PeriodFrames(), 2048);
    EXPECT_LE(loop.m_Output->Dropouts() - before, 4 + loop.m_Output->Xruns());
    EXPECT_GE(loop.Delay(), 0) << "nothing comes back";
    loop.m_Output.reset();
    testing::internal::GetCapturedStderr();
}

TEST(JackOutputTest, AServerStoppedForAWhileCostsCountedBlocksAndThePlayingKeepsItsDelay)
{
    SavedSettings saved;
    JackTestServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    ReportingDevice device;
    testing::internal::CaptureStderr();
    Loopback loop(server, &device);
    ASSERT_TRUE(loop.m_Connected);
    loop.Play(100);
    const int64_t delay = loop.Delay();
    ASSERT_GT(delay, 0);
    kill(server.Pid(), SIGSTOP);
    const auto stopped = std::chrono::steady_clock::now();
    int blocks = 0;
    for (; std::chrono::steady_clock::now() - stopped < std::chrono::seconds(2); blocks++)
        loop.Play(1);
    kill(server.Pid(), SIGCONT);
    // Every block the stopped server did not take is counted as lost (the
    // first may still have found room).
    EXPECT_GE(loop.m_Output->Jack()->LostBlocks(), blocks - 1);
    EXPECT_LE(loop.m_Output->Jack()->LostBlocks(), blocks);
    EXPECT_GE(loop.m_Output->Dropouts(), loop.m_Output->Jack()->LostBlocks());
    loop.Play(100);
    EXPECT_EQ(loop.Delay(), delay) << "the program fell behind";
    loop.m_Output.reset();
    testing::internal::GetCapturedStderr();
}
