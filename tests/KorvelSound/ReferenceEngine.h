#ifndef REFERENCE_ENGINE_H
#define REFERENCE_ENGINE_H

// Straightforward value-by-value versions of the delay, the filter and a
// loop's playback path, written for clarity rather than speed. The engine's
// block loops must produce exactly what these produce.

#include "KorvelInfo.h"
#include "KorvelSound/Delay.h"
#include "KorvelSound/Filter.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace reference {

inline short Store(int64_t value)
{
    if (value > 32767) return 32767;
    if (value < -32767) return -32767;
    return static_cast<short>(value);
}

inline short StoreFloat(float value)
{
    return Store(static_cast<int64_t>(value));
}

struct Delay
{
    std::vector<short> left = std::vector<short>(MaxDelay, 0);
    std::vector<short> right = std::vector<short>(MaxDelay, 0);
    int64_t posL = 0;
    int64_t posR = 0;
    float delayL = 0.5f;
    float delayR = 0.5f;
    float feedback = 0.5f;
    int channels = 1;
    bool bypass = true;

    void CopySettings(const ::Delay &d)
    {
        delayL = d.m_DelayL;
        delayR = d.m_DelayR;
        feedback = d.m_Feedback;
        channels = d.m_Channels;
        bypass = d.m_Bypass;
    }

    void Process(std::vector<short> &data)
    {
        const int total = channels * KorvelInfo::BufferSize;
        if (bypass || total < 1) return;
        int64_t nL = static_cast<int64_t>(delayL * static_cast<float>(MaxDelay - 1));
        int64_t nR = static_cast<int64_t>(delayR * static_cast<float>(MaxDelay - 1));
        int i = 0;
        do {
            short v =
                StoreFloat(static_cast<float>(data.at(i)) + static_cast<float>(left.at(posL)) * feedback);
            left.at(posL) = v;
            data.at(i) = v;
            if (channels == 2) {
                short r = StoreFloat(static_cast<float>(data.at(i + 1)) +
                                     static_cast<float>(right.at(posR)) * feedback);
                right.at(posR) = r;
                data.at(i + 1) = r;
                i += 2;
            } else {
                i += 1;
            }
            posL = posL >= nL ? 0 : posL + 1;
            posR = posR >= nR ? 0 : posR + 1;
        } while (i < total);
    }
};

struct Filter
{
    double cutoff = -1.0;
    double resonance = 1.0;
    bool bypass = false;
    const std::vector<short> *cutoffMod = nullptr;
    bool cutoffModInvert = false;
    float coef[9] = {};
    float history[4] = {};

    void CopySettings(const ::Filter &f)
    {
        cutoff = f.m_Cutoff;
        resonance = f.m_Resonance;
        bypass = f.m_Bypass;
    }

    void Design(float fc, float q)
    {
        static const double proto[2][6] = {{1.0, 0.0, 0.0, 1.0, 0.765367, 1.0},
                                           {1.0, 0.0, 0.0, 1.0, 1.847759, 1.0}};
        float Q = q < 1.0f ? 1.0f : (q > 10.0f ? 10.0f : q);
        float F = fc < 500.0f ? 500.0f : (fc > 3000.0f ? 3000.0f : fc);
        double f = static_cast<double>((F / 1000.0f) * F);
        double fs = KorvelInfo::Samplerate;
        double k = 0.25;
        for (int s = 0; s < 2; s++) {
            double a0 = proto[s][0], a1 = proto[s][1], a2 = proto[s][2];
            double b0 = proto[s][3], b1 = proto[s][4] / Q, b2 = proto[s][5];
            double wp = 2.0 * fs * std::tan(4.0 * std::atan(1.0) * f / fs);
            a2 = a2 / (wp * wp);
            a1 = a1 / wp;
            b2 = b2 / (wp * wp);
            b1 = b1 / wp;
            double ad = 4.0 * a2 * fs * fs + 2.0 * a1 * fs + a0;
            double bd = 4.0 * b2 * fs * fs + 2.0 * b1 * fs + b0;
            k = k * ad / bd;
            coef[1 + 4 * s] = static_cast<float>((2.0 * b0 - 8.0 * b2 * fs * fs) / bd);
            coef[2 + 4 * s] = static_cast<float>((4.0 * b2 * fs * fs - 2.0 * b1 * fs + b0) / bd);
            coef[3 + 4 * s] = static_cast<float>((2.0 * a0 - 8.0 * a2 * fs * fs) / ad);
            coef[4 + 4 * s] = static_cast<float>((4.0 * a2 * fs * fs - 2.0 * a1 * fs + a0) / ad);
        }
        coef[0] = static_cast<float>(k);
    }

    void Process(std::vector<short> &data)
    {
        if (bypass || cutoff < 0) return;
        for (int i = 0; i < KorvelInfo::BufferSize; i++) {
            float fc = static_cast<float>(cutoff);
            if (cutoffMod) {
                float m = static_cast<float>(cutoffMod->at(i)) * KorvelInfo::SampleScale;
                fc += cutoffModInvert ? (1.0f - m) * 5000.0f : m * 5000.0f;
            }
            fc = fc * 0.5f;
            if (i % KorvelInfo::FilterGranularity == 0) Design(fc, static_cast<float>(resonance));
            float y = 2.0f * static_cast<float>(data.at(i)) * coef[0];
            for (int s = 0; s < 2; s++) {
                float h1 = history[2 * s], h2 = history[2 * s + 1];
                float w = y - h1 * coef[1 + 4 * s] - h2 * coef[2 + 4 * s];
                y = (coef[3 + 4 * s] * h1 + w) + h2 * coef[4 + 4 * s];
                history[2 * s + 1] = h1;
                history[2 * s] = w;
            }
            data.at(i) = StoreFloat(y);
        }
    }
};

// Sets a program-wide setting for one test and puts the old value back.
template <typename T> class ScopedSetting
{
public:
    ScopedSetting(T &setting, T value) : m_Setting(setting), m_Old(setting) { m_Setting = value; }
    ~ScopedSetting() { m_Setting = m_Old; }

private:
    T &m_Setting;
    T m_Old;
};

inline std::vector<short> Values(const Sample &s)
{
    return std::vector<short>(s.m_Data, s.m_Data + s.GetLength());
}

inline void CopyInto(Sample &s, const std::vector<short> &values)
{
    s.Allocate(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); i++)
        s[static_cast<int>(i)] = values[i];
}

inline std::vector<short> RandomBlock(std::mt19937 &random, int length, int amplitude = 32767)
{
    std::uniform_int_distribution<int> value(-amplitude, amplitude);
    std::vector<short> block(length);
    for (short &v : block)
        v = static_cast<short>(value(random));
    return block;
}

} // namespace reference

#endif
