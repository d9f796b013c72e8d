#include "AppTestFixture.h"

#include "Remote/NsmClient.h"
#include "Remote/OscPort.h"
#include "TestSupport.h"

#include <FL/Fl_Button.H>
#include <lo/lo.h>

#include <chrono>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// A session manager of the test's own on 127.0.0.1: answers the
// announcement, opens a session in a folder of the test's, and keeps what
// the client tells it.
class FakeManager
{
public:
    explicit FakeManager(const std::string &prefix) : m_Prefix(prefix)
    {
        m_Thread = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_thread_add_method(m_Thread, nullptr, nullptr, Heard, this);
        lo_server_thread_start(m_Thread);
    }
    ~FakeManager()
    {
        lo_server_thread_stop(m_Thread);
        lo_server_thread_free(m_Thread);
        if (m_Client) lo_address_free(m_Client);
    }
    std::string Url() const
    {
        return "osc.udp://127.0.0.1:" + std::to_string(lo_server_thread_get_port(m_Thread)) + "/";
    }
    void Send(const char *path)
    {
        lo_send_from(m_Client, lo_server_thread_get_server(m_Thread), LO_TT_IMMEDIATE, path, "");
    }
    std::vector<std::string> Heard()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Heard;
    }

private:
    static int Heard(const char *path, const char *types, lo_arg **argv, int argc, lo_message message,
                     void *data)
    {
        FakeManager *manager = static_cast<FakeManager *>(data);
        std::string text = path;
        for (int i = 0; i < argc; i++)
            text += types[i] == 's' ? " " + std::string(&argv[i]->s) : " " + std::to_string(argv[i]->i);
        std::lock_guard<std::mutex> lock(manager->m_Lock);
        manager->m_Heard.push_back(text);
        if (text.compare(0, 20, "/nsm/server/announce") != 0) return 0;
        lo_address from = lo_message_get_source(message);
        manager->m_Client = lo_address_new(lo_address_get_hostname(from), lo_address_get_port(from));
        lo_server server = lo_server_thread_get_server(manager->m_Thread);
        lo_send_from(manager->m_Client, server, LO_TT_IMMEDIATE, "/reply", "ssss", "/nsm/server/announce",
                     "hi", "Fake Manager", ":server-control:");
        lo_send_from(manager->m_Client, server, LO_TT_IMMEDIATE, "/nsm/client/open", "sss",
                     manager->m_Prefix.c_str(), "KorvelLoops", "nKRVL");
        return 0;
    }

    std::string m_Prefix;
    lo_server_thread m_Thread;
    lo_address m_Client = nullptr;
    std::mutex m_Lock;
    std::vector<std::string> m_Heard;
};

bool Exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

} // namespace

using NsmClientTest = AppTest;

TEST_F(NsmClientTest, OpensSavesAndReportsDirtyToItsManager)
{
    TempDir dir;
    const std::string folder = dir.File("KorvelLoops.nKRVL");
    FakeManager manager(folder);
    OscPort port;
    ASSERT_TRUE(port.Open(0, "127.0.0.1"));
    NsmClient nsm(&port);
    ASSERT_TRUE(nsm.Announce(manager.Url(), "KorvelLoops"));
    ASSERT_TRUE(nsm.WaitForOpen(5));
    EXPECT_EQ(nsm.ClientID(), "nKRVL");
    EXPECT_EQ(nsm.ManagerName(), "Fake Manager");

    nsm.Attach(m_App.get());
    EXPECT_TRUE(Exists(folder));
    m_App->NewLoop();
    FillLoop(0, 1000, [](int i) { return i; });
    LoopAt(0)->Reverse(0, 1000);
    nsm.Tick();
    manager.Send("/nsm/client/save");
    for (int i = 0; i < 200 && !Exists(nsm.WorkspacePath()); i++) {
        port.Poll(nsm, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(Exists(folder + "/sessionLoop0.wav"));
    // The main window's button saves within the session, without asking.
    std::remove(nsm.WorkspacePath().c_str());
    m_App->m_SaveWorkspaceBtn->do_callback();
    EXPECT_TRUE(Exists(nsm.WorkspacePath()));

    std::vector<std::string> heard;
    for (int i = 0; i < 200 && heard.size() < 5; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        heard = manager.Heard();
    }
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard[0].substr(0, 44), "/nsm/server/announce KorvelLoops :dirty: Kor");
    EXPECT_EQ(std::vector<std::string>(heard.begin() + 1, heard.end()),
              (std::vector<std::string>{"/reply /nsm/client/open Session open", "/nsm/client/is_dirty",
                                        "/reply /nsm/client/save Saved", "/nsm/client/is_clean"}));
}
