#include "Remote/LineLimiter.h"

#include <iostream>

void LineLimiter::Say(const std::string &line, Clock::time_point now)
{
    Flush(now);
    if (m_Shown == 0) m_Start = now;
    if (m_Shown >= MostPerSecond) {
        m_Held++;
        return;
    }
    m_Shown++;
    m_Total++;
    std::cerr << "OSC: " << line << std::endl;
}

void LineLimiter::Flush(Clock::time_point now)
{
    if (m_Shown == 0 || now - m_Start < std::chrono::seconds(1)) return;
    if (m_Held > 0) {
        std::cerr << "OSC: " << m_Held << " more bad messages in that second were not shown" << std::endl;
        m_Total++;
    }
    m_Shown = 0;
    m_Held = 0;
}
