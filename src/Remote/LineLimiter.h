#ifndef LINE_LIMITER_H
#define LINE_LIMITER_H

#include <chrono>
#include <string>

// Lines about bad input, at most a few a second: a flood of bad messages
// must not bury the terminal and the status line, nor cost the GUI cycle
// its time. What is held back is counted and said in one line after.
class LineLimiter
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int MostPerSecond = 5;

    void Say(const std::string &line, Clock::time_point now = Clock::now());
    // Says how many were held back once their second is over.
    void Flush(Clock::time_point now = Clock::now());
    int Shown() const { return m_Total; }

private:
    Clock::time_point m_Start;
    int m_Shown = 0;
    int m_Held = 0;
    int m_Total = 0;
};

#endif
