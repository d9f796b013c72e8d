#include "Midi/MidiInput.h"

#include <algorithm>
#include <iostream>

MidiInput::MidiInput() : m_RetryEvery(std::chrono::seconds(2)), m_DeviceFeed(&m_Device)
{
}

MidiInput::~MidiInput() = default;

void MidiInput::OpenDevice(const std::string &path, bool quiet)
{
    m_DevicePath = path;
    m_DeviceFeed.m_Parser.Reset();
    m_DeviceFeed.m_Start = m_DeviceFeed.m_End = 0;
    if (!m_Device.Open(path)) {
        if (!quiet)
            std::cerr << "Can't open MIDI device (" << m_Device.Failure() << ") [" << path
                      << "]; playing on without it" << std::endl;
        m_NextTry = std::chrono::steady_clock::now() + m_RetryEvery;
    }
}

void MidiInput::AddSource(MidiSource *source)
{
    m_Sources.emplace_back(new Feed(source));
}

void MidiInput::RemoveSource(MidiSource *source)
{
    for (auto it = m_Sources.begin(); it != m_Sources.end(); ++it) {
        if ((*it)->m_Source == source) {
            m_Sources.erase(it);
            return;
        }
    }
}

void MidiInput::Poll(Listener &listener)
{
    if (!m_DevicePath.empty() && !m_Device.IsOpen()) RetryDevice();
    if (m_Device.IsOpen()) PollFeed(m_DeviceFeed, listener);
    for (size_t i = 0; i < m_Sources.size(); i++)
        if (!m_Sources[i]->m_Failed) PollFeed(*m_Sources[i], listener);
}

void MidiInput::PollFeed(Feed &feed, Listener &listener)
{
    // The bytes wait in the feed, not on the stack: a listener that polls
    // again takes the rest of them first, so nothing is read twice or late.
    int budget = MostBytesPerPoll;
    for (;;) {
        while (feed.m_Start < feed.m_End) {
            const unsigned char byte = feed.m_Bytes[feed.m_Start++];
            if (byte == 0xF8 || byte == 0xFA || byte == 0xFB || byte == 0xFC) listener.Clock(byte);
            MidiMessage message;
            if (feed.m_Parser.Feed(byte, message)) listener.Received(message);
        }
        if (feed.m_Failed || budget <= 0) return;
        // Read until the source has nothing more: a busy stream read a
        // buffer a cycle would fall seconds behind the pedal.
        const int got = feed.m_Source->Read(feed.m_Bytes, std::min<int>(sizeof feed.m_Bytes, budget));
        if (got < 0) {
            FeedFailed(feed);
            return;
        }
        if (got == 0) return;
        feed.m_Start = 0;
        feed.m_End = got;
        budget -= got;
    }
}

void MidiInput::FeedFailed(Feed &feed)
{
    feed.m_Start = feed.m_End = 0;
    feed.m_Parser.Reset();
    if (&feed != &m_DeviceFeed) {
        std::cerr << "MIDI input failed (" << feed.m_Source->Failure() << "); playing on without it"
                  << std::endl;
        feed.m_Failed = true;
        return;
    }
    std::cerr << "MIDI device failed (" << m_Device.Failure() << ") [" << m_DevicePath
              << "]; playing on without it" << std::endl;
    m_Device.Close();
    m_NextTry = std::chrono::steady_clock::now() + m_RetryEvery;
}

void MidiInput::RetryDevice()
{
    const auto now = std::chrono::steady_clock::now();
    if (now < m_NextTry) return;
    m_NextTry = now + m_RetryEvery;
    if (m_Device.Open(m_DevicePath))
        std::cerr << "MIDI device opened again [" << m_DevicePath << "]" << std::endl;
}
