#include "Midi/RawMidiDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

RawMidiDevice::~RawMidiDevice()
{
    Close();
}

bool RawMidiDevice::Open(const std::string &path)
{
    Close();
    m_Fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_Fd < 0) {
        m_Failure = std::strerror(errno);
        return false;
    }
    // A terminal that hangs up reads as its end; anything else at its end
    // (a pipe with no writer yet, /dev/null) merely has nothing to say.
    m_EndIsGone = isatty(m_Fd);
    return true;
}

void RawMidiDevice::Close()
{
    if (m_Fd >= 0) close(m_Fd);
    m_Fd = -1;
}

int RawMidiDevice::Read(unsigned char *bytes, int size)
{
    if (m_Fd < 0) return 0;
    ssize_t got = read(m_Fd, bytes, static_cast<size_t>(size));
    if (got > 0) return static_cast<int>(got);
    if (got == 0) {
        if (!m_EndIsGone) return 0;
        m_Failure = "the device hung up";
        return -1;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    // Unplugged or gone (ENODEV, EIO): nothing more will come from this descriptor.
    m_Failure = std::strerror(errno);
    return -1;
}
