#include "Remote/OscReturn.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

OscReturn::OscReturn(const std::string &url, const OscPort::Sender *from) : m_Url(url), m_Socket(-1)
{
    OscPort::Sender to;
    if (!OscPort::Resolve(url, to, from)) {
        m_Failure = "not an osc.udp:// address";
        return;
    }
    m_Socket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_Socket >= 0 &&
        connect(m_Socket, reinterpret_cast<const sockaddr *>(&to.m_Address), to.m_Length) != 0) {
        m_Failure = std::strerror(errno);
        close(m_Socket);
        m_Socket = -1;
    }
}

OscReturn::~OscReturn()
{
    if (m_Socket >= 0) close(m_Socket);
}

bool OscReturn::Send(const char *path, lo_message message)
{
    if (m_Socket < 0) return false;
    size_t size = 0;
    void *data = lo_message_serialise(message, path, nullptr, &size);
    if (!data) return false;
    const ssize_t sent = send(m_Socket, data, size, 0);
    const int error = errno;
    std::free(data);
    // A full socket buffer loses this update only; a refusal means the
    // client is gone.
    if (sent < 0 && error != EAGAIN && error != EWOULDBLOCK) {
        m_Failure = std::strerror(error);
        return false;
    }
    return true;
}
