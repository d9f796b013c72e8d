#ifndef NSM_CLIENT_H
#define NSM_CLIENT_H

#include "Remote/OscPort.h"

#include <string>

class LoopsApp;

// Under a session manager (NSM_URL set): the program announces itself,
// waits to be told its session's folder and client id, keeps its workspace
// and loop files in that folder, saves there when told, and reports whether
// there is sound not saved (dirty) or not (clean).
class NsmClient : public OscPort::Listener
{
public:
    explicit NsmClient(OscPort *port) : m_Port(port) {}

    // Sends the announcement; false (with one line) when the URL is unusable.
    bool Announce(const std::string &url, const std::string &executable);
    // Reads the port until the manager says where the session is, at most
    // `seconds`; false with one line when it does not.
    bool WaitForOpen(double seconds);
    // The program is up: the session's workspace is loaded and the manager
    // told the session is open.
    void Attach(LoopsApp *app);
    // Once in a while: dirty or clean, when that changed.
    void Tick();
    // A message for the client; false for any other.
    bool Take(const char *path, lo_message message, const OscPort::Sender &from);
    void Received(const char *path, lo_message message, const OscPort::Sender &from) override;
    void Malformed(const std::string &, const OscPort::Sender &) override {}

    bool Opened() const { return !m_Folder.empty(); }
    const std::string &ClientID() const { return m_ClientID; }
    // The session's workspace, in its folder.
    std::string WorkspacePath() const { return m_Folder + "/session.lws"; }
    const std::string &ManagerName() const { return m_Manager; }

private:
    void Open();
    void Save();
    void Reply(const char *path, const std::string &message);
    void Error(const char *path, int code, const std::string &message);

    OscPort *m_Port;
    LoopsApp *m_App = nullptr;
    OscPort::Sender m_Server;
    std::string m_Folder;
    std::string m_ClientID;
    std::string m_Manager;
    bool m_OpenPending = false;
    int m_Dirty = -1;
};

#endif
