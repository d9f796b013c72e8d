#include "System/MessageLog.h"

#include <iostream>

namespace {

// Lines kept until the windows take them; a flood keeps the latest.
const size_t MostLines = 200;

} // namespace

MessageLog::MessageLog() : m_Next(std::cerr.rdbuf(this))
{
}

MessageLog::~MessageLog()
{
    std::cerr.rdbuf(m_Next);
}

std::vector<std::string> MessageLog::Take()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    std::vector<std::string> lines;
    lines.swap(m_Lines);
    return lines;
}

int MessageLog::overflow(int c)
{
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char one = static_cast<char>(c);
    Collect(&one, 1);
    return m_Next->sputc(one);
}

std::streamsize MessageLog::xsputn(const char *text, std::streamsize count)
{
    Collect(text, count);
    return m_Next->sputn(text, count);
}

int MessageLog::sync()
{
    return m_Next->pubsync();
}

void MessageLog::Collect(const char *text, std::streamsize count)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    for (std::streamsize i = 0; i < count; i++) {
        if (text[i] != '\n') {
            m_Line += text[i];
            continue;
        }
        if (m_Lines.size() == MostLines) m_Lines.erase(m_Lines.begin());
        m_Lines.push_back(m_Line);
        m_Line.clear();
    }
}
