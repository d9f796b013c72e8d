#include "JackTestServer.h"

#include "AudioDevices/JackDevice.h"
#include "TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <mutex>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

void Quiet(const char *)
{
}

// Whether this process has a /dev/shm of its own; tried once.
bool PrivateShm()
{
    static const bool isolated = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                                 mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
    return isolated;
}

// Ends a child: asks, then kills; a stopped child is woken to hear it.
void EndChild(pid_t pid)
{
    kill(pid, SIGTERM);
    kill(pid, SIGCONT);
    for (int tries = 0; tries < 100; tries++) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The children and folders still live: an exit() from inside the code
// under test ends them too. A crash leaves the children to the kernel
// (PR_SET_PDEATHSIG).
struct Leftovers
{
    std::mutex m_Mutex;
    std::set<pid_t> m_Children;
    std::set<std::string> m_Dirs;
    ~Leftovers()
    {
        for (pid_t pid : m_Children)
            EndChild(pid);
        for (const std::string &dir : m_Dirs)
            RunCommand("rm -rf '" + dir + "'");
    }
};

Leftovers &Live()
{
    static Leftovers live;
    return live;
}

pid_t SpawnWithLog(const std::vector<std::string> &argv, const std::string &server, const std::string &log)
{
    // Everything the child needs is made before fork: other threads may
    // hold locks then.
    std::vector<std::string> env = {"JACK_NO_START_SERVER=1", "JACK_DEFAULT_SERVER=" + server};
    for (char **e = environ; *e; e++)
        if (std::strncmp(*e, "JACK_", 5) != 0) env.push_back(*e);
    std::vector<char *> args, envp;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    std::lock_guard<std::mutex> lock(Live().m_Mutex);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (out >= 0) dup2(out, 1), dup2(out, 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (out >= 0) close(out);
    if (pid > 0) Live().m_Children.insert(pid);
    return pid;
}

} // namespace

JackTestServer::JackTestServer(int period)
{
    const bool isolated = PrivateShm();
    if (!isolated) setenv("KORVEL_JACK_CLIENT", ("KorvelLoops-" + std::to_string(getpid())).c_str(), 1);
    // In a /dev/shm of its own the log goes with the process, however it ends.
    char pattern[] = "/dev/shm/korvel-jackd.XXXXXX";
    if (isolated && mkdtemp(pattern))
        m_Dir = pattern;
    else
        m_Dir = TempDir().Release();
    {
        std::lock_guard<std::mutex> lock(Live().m_Mutex);
        Live().m_Dirs.insert(m_Dir);
    }
    static int count = 0;
    m_Name = "korvel-test-" + std::to_string(getpid()) + "-" + std::to_string(count++);
    m_Pid = SpawnWithLog({"jackd", "-n", m_Name, "-d", "dummy", "-r", "44100", "-p", std::to_string(period)},
                         m_Name, m_Dir + "/jackd.log");
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    const std::string client = "korvel-test-" + std::to_string(getpid());
    for (int tries = 0; tries < 200 && !m_Client && m_Pid > 0; tries++) {
        if (waitpid(m_Pid, nullptr, WNOHANG) == m_Pid) {
            std::lock_guard<std::mutex> lock(Live().m_Mutex);
            Live().m_Children.erase(m_Pid);
            m_Pid = -1;
            break;
        }
        m_Client =
            jack_client_open(client.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                             nullptr, m_Name.c_str());
        if (!m_Client) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (m_Client) jack_activate(m_Client);
}

JackTestServer::~JackTestServer()
{
    Stop();
    std::lock_guard<std::mutex> lock(Live().m_Mutex);
    RunCommand("rm -rf '" + m_Dir + "'");
    Live().m_Dirs.erase(m_Dir);
}

std::string JackTestServer::Program()
{
    return JackDevice::ClientName();
}

std::string JackTestServer::Log() const
{
    return "jackd " + m_Name + " said:\n" + ReadFileBytes(m_Dir + "/jackd.log");
}

void JackTestServer::Stop()
{
    // The server first: closing a client waits for an answer, which a
    // stopped server never gives.
    if (m_Pid > 0) StopChild(m_Pid);
    m_Pid = -1;
    if (m_Client) jack_client_close(m_Client);
    m_Client = nullptr;
    // Semaphores of clients whose server went first stay behind; they carry
    // this server's name, which no other server has.
    glob_t found;
    if (glob(("/dev/shm/jack_sem.*_" + m_Name + "_*").c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; i++)
            unlink(found.gl_pathv[i]);
        globfree(&found);
    }
}

bool JackTestServer::Connect(const std::string &from, const std::string &to)
{
    if (!m_Client) return false;
    const int result = jack_connect(m_Client, from.c_str(), to.c_str());
    return result == 0 || result == EEXIST;
}

bool JackTestServer::HasPort(const std::string &name)
{
    return m_Client && jack_port_by_name(m_Client, name.c_str()) != nullptr;
}

bool JackTestServer::SetPeriod(int frames)
{
    return m_Client && jack_set_buffer_size(m_Client, static_cast<jack_nframes_t>(frames)) == 0;
}

pid_t JackTestServer::Spawn(const std::vector<std::string> &argv)
{
    return SpawnWithLog(argv, m_Name, m_Dir + "/jackd.log");
}

void JackTestServer::StopChild(pid_t pid)
{
    EndChild(pid);
    std::lock_guard<std::mutex> lock(Live().m_Mutex);
    Live().m_Children.erase(pid);
}

void ReportingDevice::Say(const std::string &line)
{
    SoundDevice::Say(line);
    m_Said += line;
}

void ReportingDevice::Exit(int status)
{
    throw std::runtime_error("the program would end with status " + std::to_string(status) + ": " + m_Said);
}
