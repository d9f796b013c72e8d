#include "Remote/OscPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// The largest datagram UDP carries.
const size_t MostPacket = 65536;
// Bundles within bundles, as deep as a sane client nests them.
const int MostDepth = 4;

uint32_t BigEndian32(const char *at)
{
    uint32_t value;
    std::memcpy(&value, at, 4);
    return ntohl(value);
}

} // namespace

OscPort::~OscPort()
{
    if (m_Socket >= 0) close(m_Socket);
}

bool OscPort::Open(int port, const std::string &address)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        std::cerr << "OSC: " << address << " is no IPv4 address: no OSC server" << std::endl;
        return false;
    }
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        std::cerr << "OSC: no socket (" << std::strerror(errno) << "): no OSC server" << std::endl;
        return false;
    }
    const int tries = port == 0 ? 1 : 100;
    for (int i = 0; i < tries && port + i <= 65535; i++) {
        where.sin_port = htons(static_cast<uint16_t>(port + i));
        if (bind(socket, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) continue;
        socklen_t length = sizeof where;
        getsockname(socket, reinterpret_cast<sockaddr *>(&where), &length);
        m_Socket = socket;
        m_Port = ntohs(where.sin_port);
        m_Address = address;
        if (port != 0 && m_Port != port) std::cerr << "OSC: port " << port << " is taken" << std::endl;
        std::cerr << "OSC: listening on " << Url() << std::endl;
        return true;
    }
    std::cerr << "OSC: no free port from " << port << " on " << address << ": no OSC server" << std::endl;
    close(socket);
    return false;
}

std::string OscPort::Url() const
{
    return "osc.udp://" + m_Address + ":" + std::to_string(m_Port) + "/";
}

int OscPort::Poll(Listener &listener, int most)
{
    if (m_Socket < 0) return 0;
    static std::vector<char> buffer(MostPacket);
    int count = 0;
    for (; count < most; count++) {
        Sender from;
        from.m_Length = sizeof from.m_Address;
        const ssize_t size = recvfrom(m_Socket, buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr *>(&from.m_Address), &from.m_Length);
        if (size < 0) break;
        Unpack(listener, buffer.data(), static_cast<size_t>(size), from, 0);
    }
    return count;
}

void OscPort::Unpack(Listener &listener, char *data, size_t size, const Sender &from, int depth)
{
    if (size >= 16 && std::memcmp(data, "#bundle", 8) == 0) {
        if (depth >= MostDepth) return listener.Malformed("bundles nested too deep", from);
        // The time tag is not followed: every element acts now.
        for (size_t at = 16; at < size;) {
            const uint32_t length = at + 4 <= size ? BigEndian32(data + at) : 0;
            if (length == 0 || length % 4 != 0 || length > size - at - 4)
                return listener.Malformed("a bundle's element runs past its end", from);
            Unpack(listener, data + at + 4, length, from, depth + 1);
            at += 4 + length;
        }
        return;
    }
    int result = 0;
    lo_message message = lo_message_deserialise(data, size, &result);
    if (!message)
        return listener.Malformed("not an OSC message (liblo error " + std::to_string(result) + ")", from);
    listener.Received(data, message, from);
    lo_message_free(message);
}

bool OscPort::Send(const Sender &to, const char *path, lo_message message)
{
    if (m_Socket < 0) return false;
    size_t size = 0;
    void *data = lo_message_serialise(message, path, nullptr, &size);
    if (!data) return false;
    const ssize_t sent =
        sendto(m_Socket, data, size, 0, reinterpret_cast<const sockaddr *>(&to.m_Address), to.m_Length);
    std::free(data);
    return sent == static_cast<ssize_t>(size);
}

bool OscPort::Send(const std::string &url, const char *path, lo_message message, const Sender *from)
{
    Sender to;
    return Resolve(url, to, from) && Send(to, path, message);
}

bool OscPort::Resolve(const std::string &url, Sender &to, const Sender *from)
{
    if (url.compare(0, 10, "osc.udp://") != 0) return false;
    char *host = lo_url_get_hostname(url.c_str());
    char *port = lo_url_get_port(url.c_str());
    bool found = false;
    if (host && port && *port) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        const std::string name = !*host || std::strcmp(host, "localhost") == 0 ? "127.0.0.1" : host;
        if (from) hints.ai_flags = AI_NUMERICHOST;
        addrinfo *list = nullptr;
        if (getaddrinfo(name.c_str(), port, &hints, &list) == 0 && list) {
            std::memcpy(&to.m_Address, list->ai_addr, list->ai_addrlen);
            to.m_Length = list->ai_addrlen;
            found = true;
        } else if (from && from->m_Address.ss_family == AF_INET && std::atoi(port) > 0) {
            to = *from;
            reinterpret_cast<sockaddr_in *>(&to.m_Address)->sin_port =
                htons(static_cast<uint16_t>(std::atoi(port)));
            found = true;
        }
        if (list) freeaddrinfo(list);
    }
    std::free(host);
    std::free(port);
    return found;
}

std::string OscPort::UrlOf(const Sender &from)
{
    const sockaddr_in *where = reinterpret_cast<const sockaddr_in *>(&from.m_Address);
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &where->sin_addr, host, sizeof host);
    return "osc.udp://" + std::string(host) + ":" + std::to_string(ntohs(where->sin_port)) + "/";
}
