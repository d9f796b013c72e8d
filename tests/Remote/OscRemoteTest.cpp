#include "AppTestFixture.h"

#include "GUI/LoopGUI.h"
#include "Remote/OscPort.h"
#include "Remote/OscRemote.h"
#include "TestSupport.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Value_Output.H>
#include <lo/lo.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// The program's port on a port the system picks, a remote on the test's
// application, and a client of the test's own that sends and hears answers.
class OscRemoteTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_TRUE(m_Port.Open(0, "127.0.0.1"));
        m_Remote.reset(new OscRemote(m_App.get(), &m_Port));
        m_Client = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        ASSERT_NE(m_Client, nullptr);
        lo_server_add_method(m_Client, nullptr, nullptr, Heard, this);
        m_To = lo_address_new("127.0.0.1", std::to_string(m_Port.Port()).c_str());
        m_Me = "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(m_Client)) + "/";
    }
    void TearDown() override
    {
        lo_address_free(m_To);
        lo_server_free(m_Client);
        m_Remote.reset();
        AppTest::TearDown();
    }
    static int Heard(const char *path, const char *, lo_arg **argv, int argc, lo_message message, void *data)
    {
        std::string text = path;
        const char *types = lo_message_get_types(message);
        for (int i = 0; i < argc; i++)
            text += types[i] == 'f'   ? " " + std::to_string(argv[i]->f)
                    : types[i] == 'i' ? " " + std::to_string(argv[i]->i)
                                      : " " + std::string(&argv[i]->s);
        static_cast<OscRemoteTest *>(data)->m_Heard.push_back(text);
        return 0;
    }
    void SendRaw(const void *bytes, size_t size)
    {
        const int out = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(m_Port.Port()));
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        sendto(out, bytes, size, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        close(out);
    }
    // The remote reads what came, the client hears what it answered.
    void Exchange()
    {
        for (int i = 0; i < 20; i++) {
            m_Remote->Poll();
            while (lo_server_recv_noblock(m_Client, 1) > 0) {
            }
        }
    }

    OscPort m_Port;
    std::unique_ptr<OscRemote> m_Remote;
    lo_server m_Client = nullptr;
    lo_address m_To = nullptr;
    std::string m_Me;
    std::vector<std::string> m_Heard;
};

} // namespace

TEST_F(OscRemoteTest, ControlsActAsTheirWidgetsAndAnswerBack)
{
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(0, 1000, [](int i) { return i; });
    lo_send(m_To, "/sl/-1/set", "sf", "wet", 0.25f);
    lo_send(m_To, "/sl/0/set", "si", "pan_1", 0);
    lo_send(m_To, "/korvel/loop/1/press", "s", "Effects");
    lo_send(m_To, "/korvel/main/set", "sf", "Main/Snap Points", 4.0f);
    lo_send(m_To, "/korvel/main/set", "sf", "Tempo", 97.0f);
    lo_send(m_To, "/korvel/loop/1/set", "sf", "Quantize", 2.0f);
    lo_send(m_To, "/sl/1/hit", "s", "mute");
    lo_send(m_To, "/sl/0/get", "sss", "wet", m_Me.c_str(), "/got");
    lo_send(m_To, "/ping", "ss", m_Me.c_str(), "/pong");
    // A host by a name is the sender's own: no name server is asked.
    const std::string named =
        "osc.udp://no.such.host.invalid:" + std::to_string(lo_server_get_port(m_Client)) + "/";
    lo_send(m_To, "/ping", "ss", named.c_str(), "/named");
    lo_send(m_To, "/korvel/loop/0/edit", "sii", "reverse", 0, 1000);
    Exchange();
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer[0], 999);
    // A range past the sound is kept within it.
    lo_send(m_To, "/korvel/loop/0/edit", "sii", "silence", -5, 2000000000);
    Exchange();
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer[0], 0);
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer[999], 0);
    TempDir dir;
    lo_send(m_To, "/korvel/output/record", "s", dir.File("out.wav").c_str());
    Exchange();
    EXPECT_TRUE(m_App->m_OutputGUI.m_RecordBtn->value());
    lo_send(m_To, "/korvel/output/stop", "");
    Exchange();
    EXPECT_FALSE(m_App->m_OutputGUI.m_RecordBtn->value());
    EXPECT_FALSE(ReadFileBytes(dir.File("out.wav")).empty());
    EXPECT_FLOAT_EQ(LoopAt(0)->m_Volume, 0.25f);
    EXPECT_FLOAT_EQ(LoopAt(0)->m_LeftVol, 1.0f);
    EXPECT_FLOAT_EQ(LoopAt(0)->m_RightVol, 0.0f);
    EXPECT_TRUE(LoopAt(1)->m_EffectsOn);
    EXPECT_EQ(m_App->m_SnapOut->value(), 4.0);
    EXPECT_EQ(m_App->m_TimeGUI.m_Settings.m_Bpm, 97.0);
    EXPECT_EQ(LoopAt(1)->m_Quantize, TempoMap::Bar);
    EXPECT_FLOAT_EQ(LoopAt(1)->m_Volume, 0.0f);
    lo_send(m_To, "/sl/1/hit", "s", "mute");
    Exchange();
    // Unmuted, the loop is back at the level set before.
    EXPECT_FLOAT_EQ(LoopAt(1)->m_Volume, 0.25f);
    EXPECT_EQ(m_Heard, (std::vector<std::string>{"/got 0 wet 0.250000", "/pong " + m_Port.Url() + " 2.0.0 2",
                                                 "/named " + m_Port.Url() + " 2.0.0 2"}));
}

TEST_F(OscRemoteTest, BadMessagesGetALineEachAtMostAndTheProgramPlaysOn)
{
    m_App->NewLoop();
    testing::internal::CaptureStderr();
    const char garbage[] = "\xff\x00\x01nothing OSC";
    SendRaw(garbage, sizeof garbage);
    const char cut[] = "/sl/0/set\0\0\0,sf\0wet\0"; // the value is missing
    SendRaw(cut, sizeof cut - 1);
    const char bundle[] = "#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40";
    SendRaw(bundle, sizeof bundle - 1);
    lo_send(m_To, "/sl/0/set", "ss", "wet", "loud");
    lo_send(m_To, "/sl/0/set", "sf", "wet", std::nanf(""));
    lo_send(m_To, "/sl/7/hit", "s", "record");
    lo_send(m_To, "/loop_del", "f", 1e30f);
    lo_send(m_To, "/korvel/loop/0/edit", "sff", "cut", std::nanf(""), 1e30f);
    lo_send(m_To, "/sl/99999999999/hit", "s", "record");
    lo_send(m_To, "/sl/0/hit", "s", "Load");
    lo_send(m_To, "/korvel/main/press", "s", "Save Workspace");
    lo_send(m_To, "/sl/0/register_auto_update", "siss", "state", 10, "http://elsewhere/", "/x");
    for (int i = 0; i < 3000; i++)
        lo_send(m_To, "/nowhere", "i", i);
    Exchange();
    // Bad input changes nothing, and a good message behind it still acts.
    EXPECT_FLOAT_EQ(LoopAt(0)->m_Volume, 1.0f);
    EXPECT_FALSE(PanelAt(0)->m_RecordBtn->value());
    lo_send(m_To, "/sl/0/set", "sf", "wet", 0.5f);
    for (int i = 0; i < 40 && LoopAt(0)->m_Volume == 1.0f; i++)
        Exchange();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FLOAT_EQ(LoopAt(0)->m_Volume, 0.5f);
    EXPECT_NE(said.find("not an OSC message"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), LineLimiter::MostPerSecond) << said;
    EXPECT_EQ(m_Remote->m_Feedback.Count(), 0u);

    // The held-back lines are counted in one line once their second is over.
    testing::internal::CaptureStderr();
    m_Remote->m_Lines.Flush(LineLimiter::Clock::now() + std::chrono::seconds(2));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("more bad messages"), std::string::npos);
}

TEST_F(OscRemoteTest, UpdatesFollowChangesAndStopWhenTheClientIsGone)
{
    m_App->NewLoop();
    lo_send(m_To, "/sl/0/register_update", "sss", "Volume", m_Me.c_str(), "/v");
    Exchange();
    PanelAt(0)->m_VolumeSlider->value(0.75);
    Exchange();
    Exchange();
    EXPECT_EQ(m_Heard, (std::vector<std::string>{"/v 0 Volume 0.000000", "/v 0 Volume 0.750000"}));

    // Its port closed, the client is dropped within a few updates.
    lo_server_free(m_Client);
    m_Client = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 5 && m_Remote->m_Feedback.Count() > 0; i++) {
        PanelAt(0)->m_VolumeSlider->value(i * 0.1);
        Exchange();
    }
    EXPECT_EQ(m_Remote->m_Feedback.Count(), 0u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("does not answer"), std::string::npos);
}
