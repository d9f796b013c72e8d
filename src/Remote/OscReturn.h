#ifndef OSC_RETURN_H
#define OSC_RETURN_H

#include "Remote/OscPort.h"

#include <lo/lo_lowlevel.h>

#include <string>

// A client's address that updates go to, over a socket of its own connected
// to it, so that the system reports a client that has gone (its port
// closed: "connection refused") and its updates can stop.
class OscReturn
{
public:
    // from: the sender of the registration (see OscPort::Resolve).
    OscReturn(const std::string &url, const OscPort::Sender *from);
    ~OscReturn();
    OscReturn(const OscReturn &) = delete;
    OscReturn &operator=(const OscReturn &) = delete;

    bool IsOpen() const { return m_Socket >= 0; }
    // False when the client cannot be reached; the reason is kept.
    bool Send(const char *path, lo_message message);
    const std::string &Url() const { return m_Url; }
    const std::string &Failure() const { return m_Failure; }

private:
    std::string m_Url;
    std::string m_Failure;
    int m_Socket;
};

#endif
