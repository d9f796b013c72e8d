#ifndef ERROR_CAPTURE_H
#define ERROR_CAPTURE_H

#include <iostream>
#include <sstream>
#include <string>

// Collects what the program writes to std::cerr while it lives, so a harness
// can count the lines a bad input earns and keep the fuzzer's log readable.
class ErrorCapture
{
public:
    ErrorCapture() : m_Old(std::cerr.rdbuf(m_Text.rdbuf())) {}
    ~ErrorCapture() { std::cerr.rdbuf(m_Old); }
    ErrorCapture(const ErrorCapture &) = delete;
    ErrorCapture &operator=(const ErrorCapture &) = delete;

    std::string Text() const { return m_Text.str(); }
    int Lines() const
    {
        int lines = 0;
        for (char c : m_Text.str())
            if (c == '\n') lines++;
        return lines;
    }

private:
    std::ostringstream m_Text;
    std::streambuf *m_Old;
};

#endif
