#include "KorvelSound/Filter.h"

#include "KorvelInfo.h"
#include "KorvelSound/SampleClamp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// An analog second-order section (a0 + a1 s + a2 s^2) / (b0 + b1 s + b2 s^2).
struct PrototypeSection
{
    double a0, a1, a2, b0, b1, b2;
};

// The two pole pairs of the fourth-order Butterworth low-pass.
const PrototypeSection Prototype[] = {
    {1.0, 0.0, 0.0, 1.0, 0.765367, 1.0},
    {1.0, 0.0, 0.0, 1.0, 1.847759, 1.0},
};
const unsigned PrototypeSections = sizeof(Prototype) / sizeof(Prototype[0]);
const int CoefCount = 4 * PrototypeSections + 1;

// The cascade's gain starts here before the sections multiply in; with the
// doubled input it makes the pass band gain 0.5.
const double StartGain = 0.25;

int Granularity()
{
    return std::max(KorvelInfo::FilterGranularity, 1);
}

void AllocateHistory(FilterInstance &f)
{
    if (f.history) return;
    f.history = new (std::nothrow) float[2 * f.length]();
    if (!f.history) {
        std::printf("\nUnable to allocate history array in iir_filter\n");
        std::exit(1);
    }
}

float Limit(float value, float low, float high)
{
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

} // namespace

Filter::Filter()
    : m_Instances(nullptr), m_Coef(nullptr), m_SampleRate(KorvelInfo::Samplerate), m_Cutoff(-1.0),
      m_Resonance(1.0), m_LastCutoff(0.0), m_LastResonance(1.0), m_Section(0), m_A0(0.0), m_A1(0.0),
      m_A2(0.0), m_B0(0.0), m_B1(0.0), m_B2(0.0), m_K(1.0), m_CutoffModInvert(false),
      m_ResonanceModInvert(false), m_Bypass(false), m_CutoffMod(nullptr), m_ResonanceMod(nullptr),
      // The loop always uses the first instance, so there is at least one.
      m_InstanceCount(std::max(KorvelInfo::Polyphony, 1)), m_DesignValid(false), m_DesignQ(0.0f),
      m_DesignF(0.0f), m_DesignRate(0.0), m_DesignK(0.0), m_DesignCoef()
{
    m_Instances = new FilterInstance[m_InstanceCount];
}

Filter::~Filter()
{
    delete[] m_Instances;
}

float Filter::DesignFrequency(float cutoff)
{
    float F = Limit(cutoff * 0.5f, 500.0f, 3000.0f);
    return (F / 1000.0f) * F;
}

float Filter::iir_filter(float input, FilterInstance &f)
{
    AllocateHistory(f);
    const float *coef = f.coef + 1;
    float *history = f.history;
    float y = input * f.coef[0];
    for (unsigned s = 0; s < f.length; s++) {
        float h1 = history[0];
        float h2 = history[1];
        float w = y - h1 * coef[0] - h2 * coef[1];
        y = (coef[2] * h1 + w) + h2 * coef[3];
        history[1] = h1;
        history[0] = w;
        history += 2;
        coef += 4;
    }
    return y;
}

void Filter::Transform(double a0, double a1, double a2, double b0, double b1, double b2, double f)
{
    const double fs = m_SampleRate;
    const double pi = 4.0 * std::atan(1.0);

    // Pre-warp so the digital cutoff lands where the analog one was.
    double wp = 2.0 * fs * std::tan(pi * f / fs);
    a2 = a2 / (wp * wp);
    a1 = a1 / wp;
    b2 = b2 / (wp * wp);
    b1 = b1 / wp;

    // Bilinear transform.
    double ad = 4.0 * a2 * fs * fs + 2.0 * a1 * fs + a0;
    double bd = 4.0 * b2 * fs * fs + 2.0 * b1 * fs + b0;
    m_K = m_K * ad / bd;

    m_Coef[0] = static_cast<float>((2.0 * b0 - 8.0 * b2 * fs * fs) / bd);
    m_Coef[1] = static_cast<float>((4.0 * b2 * fs * fs - 2.0 * b1 * fs + b0) / bd);
    m_Coef[2] = static_cast<float>((2.0 * a0 - 8.0 * a2 * fs * fs) / ad);
    m_Coef[3] = static_cast<float>((4.0 * a2 * fs * fs - 2.0 * a1 * fs + a0) / ad);
    m_Coef += 4;
}

void Filter::UpdateCoefficients(FilterInstance &instance, float cutoff, float resonance)
{
    const float Q = Limit(resonance, 1.0f, 10.0f);
    const float F = Limit(cutoff, 500.0f, 3000.0f);
    const double f = static_cast<double>((F / 1000.0f) * F);
    const unsigned sections = std::min(instance.length, PrototypeSections);
    const bool fullDesign = sections == PrototypeSections;

    if (fullDesign && m_DesignValid && Q == m_DesignQ && F == m_DesignF && m_SampleRate == m_DesignRate) {
        std::memcpy(instance.coef, m_DesignCoef, sizeof(m_DesignCoef));
        m_K = m_DesignK;
        m_Coef = instance.coef + CoefCount;
        m_Section = sections;
    } else {
        for (m_Section = 0; m_Section < sections; m_Section++) {
            const PrototypeSection &p = Prototype[m_Section];
            m_A0 = p.a0;
            m_A1 = p.a1;
            m_A2 = p.a2;
            m_B0 = p.b0;
            m_B1 = p.b1 / Q;
            m_B2 = p.b2;
            Transform(m_A0, m_A1, m_A2, m_B0, m_B1, m_B2, f);
        }
        instance.coef[0] = static_cast<float>(m_K);
        if (fullDesign) {
            std::memcpy(m_DesignCoef, instance.coef, sizeof(m_DesignCoef));
            m_DesignK = m_K;
            m_DesignQ = Q;
            m_DesignF = F;
            m_DesignRate = m_SampleRate;
            m_DesignValid = true;
        }
    }
    m_LastCutoff = m_Cutoff;
    m_LastResonance = m_Resonance;
}

void Filter::Process(int instance, Sample &data)
{
    if (m_Bypass || m_Cutoff < 0) return;
    const int B = KorvelInfo::BufferSize;
    if (B < 1 || instance < 0 || instance >= m_InstanceCount) return;
    FilterInstance &voice = m_Instances[instance];

    if (m_CutoffMod || m_ResonanceMod || voice.length != PrototypeSections) {
        ProcessEachSample(voice, data);
        return;
    }

    // A short block ends the program with the message element access gives.
    (void)data[B - 1];
    AllocateHistory(voice);

    // Unmodulated settings are the same for every sample of the block.
    const float cutoff = static_cast<float>(m_Cutoff) * 0.5f;
    const float resonance = static_cast<float>(m_Resonance);
    const int G = Granularity();
    // The updates every G samples would design the same sections again from
    // the same settings: one design serves the whole block, and the samples
    // run through it without a stop.
    m_Coef = voice.coef + 1;
    m_K = StartGain;
    UpdateCoefficients(voice, cutoff, resonance);
    FilterRun(voice, data.GetBuffer(), B);

    // Leave the working values as the block's last sample left them.
    if ((B - 1) % G != 0) {
        m_Coef = voice.coef + 1;
        m_K = StartGain;
    }
}

void Filter::FilterRun(FilterInstance &instance, short *values, int count)
{
    const float *c = instance.coef;
    const float gain = c[0];
    const float b1a = c[1], b2a = c[2], a1a = c[3], a2a = c[4];
    const float b1b = c[5], b2b = c[6], a1b = c[7], a2b = c[8];
    float *history = instance.history;
    float h1a = history[0], h2a = history[1], h1b = history[2], h2b = history[3];
    for (int k = 0; k < count; k++) {
        float y = (2.0f * static_cast<float>(values[k])) * gain;
        float w = y - h1a * b1a - h2a * b2a;
        y = (a1a * h1a + w) + h2a * a2a;
        h2a = h1a;
        h1a = w;
        w = y - h1b * b1b - h2b * b2b;
        y = (a1b * h1b + w) + h2b * a2b;
        h2b = h1b;
        h1b = w;
        values[k] = ClampSample(y);
    }
    history[0] = h1a;
    history[1] = h2a;
    history[2] = h1b;
    history[3] = h2b;
}

void Filter::ProcessEachSample(FilterInstance &instance, Sample &data)
{
    const int B = KorvelInfo::BufferSize;
    const int G = Granularity();
    for (int i = 0; i < B; i++) {
        m_Coef = instance.coef + 1;
        m_K = StartGain;
        float fc = static_cast<float>(m_Cutoff);
        float q = static_cast<float>(m_Resonance);
        if (m_CutoffMod) {
            float m = static_cast<float>((*m_CutoffMod)[i]) * KorvelInfo::SampleScale;
            fc += m_CutoffModInvert ? (1.0f - m) * 5000.0f : m * 5000.0f;
        }
        if (m_ResonanceMod) {
            float m = static_cast<float>((*m_ResonanceMod)[i]) * KorvelInfo::SampleScale;
            q += m_ResonanceModInvert ? (1.0f - m) * 10.0f : m * 10.0f;
        }
        fc = fc * 0.5f;
        if (i % G == 0) UpdateCoefficients(instance, fc, q);
        float y = iir_filter(2.0f * static_cast<float>(data[i]), instance);
        data.Set(i, ClampSample(y));
    }
}

// Workspace records.

#include <ostream>

const double Filter::BypassCutoff = 10010.0;

std::ostream &operator<<(std::ostream &out, const Filter &filter)
{
    out << filter.m_Cutoff << ' ' << filter.m_Resonance << ' ' << filter.m_CutoffModInvert << ' '
        << filter.m_ResonanceModInvert << ' ';
    return out;
}

