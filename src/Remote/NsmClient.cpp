#include "Remote/NsmClient.h"

#include "LoopsApp.h"
#include "Workspace.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The session manager's error codes.
const int GeneralError = -1;
const int SaveFailed = -4;
const int NoSuchFile = -5;

} // namespace

bool NsmClient::Announce(const std::string &url, const std::string &executable)
{
    if (!m_Port->IsOpen() || !OscPort::Resolve(url, m_Server)) {
        std::cerr << "NSM: cannot reach the session manager at " << url << std::endl;
        return false;
    }
    lo_message message = lo_message_new();
    lo_message_add_string(message, "KorvelLoops");
    lo_message_add_string(message, ":dirty:");
    lo_message_add_string(message, executable.c_str());
    lo_message_add_int32(message, 1);
    lo_message_add_int32(message, 2);
    lo_message_add_int32(message, static_cast<int>(getpid()));
    const bool sent = m_Port->Send(m_Server, "/nsm/server/announce", message);
    lo_message_free(message);
    if (!sent) std::cerr << "NSM: cannot reach the session manager at " << url << std::endl;
    return sent;
}

bool NsmClient::WaitForOpen(double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Opened() && std::chrono::steady_clock::now() < end) {
        if (m_Port->Poll(*this, 64) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!Opened())
        std::cerr << "NSM: the session manager did not open a session: playing without one" << std::endl;
    return Opened();
}

void NsmClient::Attach(LoopsApp *app)
{
    m_App = app;
    if (!Opened()) return;
    app->m_SessionWorkspace = WorkspacePath();
    if (m_OpenPending) Open();
}

void NsmClient::Received(const char *path, lo_message message, const OscPort::Sender &from)
{
    Take(path, message, from);
}

bool NsmClient::Take(const char *path, lo_message message, const OscPort::Sender &from)
{
    const std::string text(path);
    if (text.compare(0, 12, "/nsm/client/") != 0 && text != "/reply" && text != "/error") return false;
    const char *types = lo_message_get_types(message);
    lo_arg **argv = lo_message_get_argv(message);
    // Only the manager speaks here; anyone else's "save" or "open" is not
    // its. The port tells it: its host may have more than one name.
    const sockaddr_in *sender = reinterpret_cast<const sockaddr_in *>(&from.m_Address);
    const sockaddr_in *server = reinterpret_cast<const sockaddr_in *>(&m_Server.m_Address);
    if (sender->sin_port != server->sin_port) return false;
    if (text == "/reply" && std::strncmp(types, "sss", 3) == 0 &&
        std::strcmp(&argv[0]->s, "/nsm/server/announce") == 0) {
        m_Manager = &argv[2]->s;
        std::cerr << "NSM: under " << m_Manager << std::endl;
    } else if (text == "/error" && std::strncmp(types, "sis", 3) == 0) {
        std::cerr << "NSM: the session manager refused " << &argv[0]->s << ": " << &argv[2]->s << std::endl;
    } else if (text == "/nsm/client/open" && std::strcmp(types, "sss") == 0) {
        m_Folder = &argv[0]->s;
        m_ClientID = &argv[2]->s;
        m_OpenPending = true;
        if (m_App) {
            m_App->m_SessionWorkspace = WorkspacePath();
            Open();
        }
    } else if (text == "/nsm/client/save") {
        Save();
    }
    return true;
}

void NsmClient::Open()
{
    m_OpenPending = false;
    if (mkdir(m_Folder.c_str(), 0777) != 0 && errno != EEXIST) {
        std::cerr << "NSM: cannot make the session's folder (" << std::strerror(errno) << ") [" << m_Folder
                  << "]" << std::endl;
        return Error("/nsm/client/open", NoSuchFile, "cannot make the session's folder");
    }
    struct stat info;
    if (stat(WorkspacePath().c_str(), &info) == 0) {
        // Another session's loops go first.
        m_App->ClearLoops();
        if (!Workspace::LoadFrom(m_App, WorkspacePath()))
            return Error("/nsm/client/open", GeneralError, "the session's workspace did not load");
    }
    m_Dirty = -1;
    Reply("/nsm/client/open", "Session open");
}

void NsmClient::Save()
{
    if (!m_App || !Opened()) return Error("/nsm/client/save", GeneralError, "no session open");
    // All or nothing, as every workspace save.
    if (!Workspace::SaveTo(m_App, WorkspacePath()))
        return Error("/nsm/client/save", SaveFailed, "the workspace was not saved");
    Reply("/nsm/client/save", "Saved");
    Tick();
}

void NsmClient::Tick()
{
    if (!m_App || !Opened()) return;
    const int dirty = m_App->Unsaved() ? 1 : 0;
    if (dirty == m_Dirty) return;
    m_Dirty = dirty;
    lo_message message = lo_message_new();
    m_Port->Send(m_Server, dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean", message);
    lo_message_free(message);
}

void NsmClient::Reply(const char *path, const std::string &text)
{
    lo_message message = lo_message_new();
    lo_message_add_string(message, path);
    lo_message_add_string(message, text.c_str());
    m_Port->Send(m_Server, "/reply", message);
    lo_message_free(message);
}

void NsmClient::Error(const char *path, int code, const std::string &text)
{
    lo_message message = lo_message_new();
    lo_message_add_string(message, path);
    lo_message_add_int32(message, code);
    lo_message_add_string(message, text.c_str());
    m_Port->Send(m_Server, "/error", message);
    lo_message_free(message);
}
