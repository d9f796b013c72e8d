#ifndef OSC_PORT_H
#define OSC_PORT_H

#include <lo/lo_lowlevel.h>

#include <netinet/in.h>
#include <string>

// The program's OSC socket: UDP on one address and port, read without
// waiting from the GUI cycle, so no thread of its own is needed and every
// message acts between two looks of the windows. liblo checks and decodes
// the packets; the socket is the program's own so that it can be bound to
// one address (the loopback interface unless the performer opens it).
class OscPort
{
public:
    // Where a message came from, to answer it.
    struct Sender
    {
        sockaddr_storage m_Address;
        socklen_t m_Length = 0;
    };
    class Listener
    {
    public:
        virtual ~Listener() = default;
        // A well-formed message (the message and its arguments are lent).
        virtual void Received(const char *path, lo_message message, const Sender &from) = 0;
        // A packet that is no OSC message; reason says why.
        virtual void Malformed(const std::string &reason, const Sender &from) = 0;
    };

    OscPort() = default;
    ~OscPort();
    OscPort(const OscPort &) = delete;
    OscPort &operator=(const OscPort &) = delete;

    // Binds the first free port from port on (port 0: one the system picks),
    // trying a hundred; false with one line when none can be had.
    bool Open(int port, const std::string &address);
    bool IsOpen() const { return m_Socket >= 0; }
    int Port() const { return m_Port; }
    int Socket() const { return m_Socket; }
    // osc.udp://<address>:<port>/
    std::string Url() const;

    // Reads at most `most` packets that have arrived; returns how many.
    int Poll(Listener &listener, int most);
    // From this port (as session managers expect); false when it cannot go.
    bool Send(const Sender &to, const char *path, lo_message message);
    bool Send(const std::string &url, const char *path, lo_message message, const Sender *from = nullptr);

    // The address an OSC URL names ("osc.udp://host:port/"), or false.
    // Given the message's sender, a host that is no address (nor
    // "localhost") is taken to be the sender's: a name server that does not
    // answer would hold up the windows.
    static bool Resolve(const std::string &url, Sender &to, const Sender *from = nullptr);
    static std::string UrlOf(const Sender &from);

private:
    void Unpack(Listener &listener, char *data, size_t size, const Sender &from, int depth);

    int m_Socket = -1;
    int m_Port = 0;
    std::string m_Address;
};

#endif
