#ifndef JACK_TEST_SERVER_H
#define JACK_TEST_SERVER_H

#include "AudioDevices/SoundDevice.h"

#include <jack/jack.h>

#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

// A JACK server of one test's own: dummy backend, 44100 Hz, a unique name.
// JACK names a client's sockets in /dev/shm by client name and user alone,
// so clients of one name on two servers unlink each other's: as root the
// test process first gets a /dev/shm of its own (a mount namespace; call
// before anything starts threads), otherwise the program's client gets a
// unique name (KORVEL_JACK_CLIENT). Started and waited for; stopped by
// process id when the object goes, when the process exits, or by the kernel
// when the process dies. JACK's tools are not used: their clients' names
// are fixed.
class JackTestServer
{
public:
    explicit JackTestServer(int period = 256);
    ~JackTestServer();
    JackTestServer(const JackTestServer &) = delete;
    JackTestServer &operator=(const JackTestServer &) = delete;

    // Whether it answered; if not, Log() says why.
    bool Ready() const { return m_Client != nullptr; }
    const std::string &Name() const { return m_Name; }
    // The program's client name in this test, for its ports' names.
    static std::string Program();
    std::string Log() const;
    pid_t Pid() const { return m_Pid; }
    void Stop();

    // Through the test's own client.
    bool Connect(const std::string &from, const std::string &to);
    bool HasPort(const std::string &name);
    bool SetPeriod(int frames);

    // Another JACK client (a tool) on this server, stopped with it.
    pid_t Spawn(const std::vector<std::string> &argv);
    void StopChild(pid_t pid);

private:
    std::string m_Dir;
    std::string m_Name;
    pid_t m_Pid = -1;
    jack_client_t *m_Client = nullptr;
};

// The real device and clock, but the program's end on a failed open fails
// the test with the program's own line instead of ending the process.
class ReportingDevice : public SoundDevice
{
public:
    void Say(const std::string &line) override;
    [[noreturn]] void Exit(int status) override;

private:
    std::string m_Said;
};

#endif
