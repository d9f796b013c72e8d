#include "KorvelSound/Reverb.h"

#include <cstdlib>

namespace {
const int StageCount = 5;
}

Reverb::Reverb() : m_Time(0.0f), m_Feedback(0.2f), m_Random(0.01f), m_Bypass(true)
{
    for (int s = 0; s < StageCount; s++) {
        Delay *stage = new Delay;
        stage->m_DelayL = RandRange(0.02f, 0.2f);
        stage->m_DelayR = RandRange(0.02f, 0.2f);
        stage->m_Bypass = false;
        m_Delays.push_back(stage);
    }
}

Reverb::~Reverb()
{
    for (Delay *stage : m_Delays)
        delete stage;
    m_Delays.clear();
}

float Reverb::RandRange(float min, float max)
{
    int r = std::rand();
    float range = max - min;
    return static_cast<float>(static_cast<double>(min) +
                              static_cast<double>(range) * ((r % 10000) / 10000.0));
}

void Reverb::SetTime(float t)
{
    m_Time = t;
    for (size_t s = 0; s < m_Delays.size(); s++) {
        // The nominal time is formed before the jitter is drawn.
        const float fraction = static_cast<float>(s) / 5.0f;
        float nominal = t * fraction;
        m_Delays[s]->m_DelayL = RandRange(-m_Random, m_Random) + nominal;
        nominal = fraction * t;
        m_Delays[s]->m_DelayR = RandRange(-m_Random, m_Random) + nominal;
    }
}

void Reverb::SetFeedback(float f)
{
    m_Feedback = f;
    for (Delay *stage : m_Delays)
        stage->m_Feedback = f;
}

void Reverb::SetChannels(int n)
{
    for (Delay *stage : m_Delays)
        stage->m_Channels = n;
}

void Reverb::Prefetch() const
{
    if (m_Time == 0.0f || m_Bypass) return;
    for (const Delay *stage : m_Delays)
        stage->Prefetch();
}

void Reverb::Process(Sample &data)
{
    if (m_Time == 0.0f || m_Bypass) return;
    Delay::ProcessSeries(m_Delays.data(), static_cast<int>(m_Delays.size()), data);
}

// Workspace records.

#include <ostream>

std::ostream &operator<<(std::ostream &out, const Reverb &reverb)
{
    out << reverb.m_Time << ' ' << reverb.m_Feedback << ' ' << reverb.m_Random << ' ' << reverb.m_Bypass
        << ' ';
    return out;
}

