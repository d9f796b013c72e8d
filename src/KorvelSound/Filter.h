#ifndef FILTER_H
#define FILTER_H

#include "KorvelSound/FilterInstance.h"
#include "KorvelSound/Sample.h"
#include <iosfwd>

// Fourth-order resonant low-pass: two biquad sections designed from an analog
// Butterworth prototype by pre-warping and the bilinear transform.
class Filter
{
public:
    Filter();
    ~Filter();
    Filter(const Filter &) = delete;
    Filter &operator=(const Filter &) = delete;

    // Filters the first BufferSize samples of data in place with one instance.
    void Process(int instance, Sample &data);

    static float iir_filter(float input, FilterInstance &f);

    // The frequency (Hz) the sections are designed for at a cutoff setting:
    // half the setting, held to 500 ... 3000, squared over 1000.
    static float DesignFrequency(float cutoff);

    // The cutoff the panel stores with its slider at zero, where it also
    // bypasses the filter.
    static const double BypassCutoff;

    FilterInstance *m_Instances; // Polyphony of them
    float *m_Coef;               // cursor into the coefficients during an update
    double m_SampleRate;
    double m_Cutoff;    // -1 until set: the filter then does nothing
    double m_Resonance; // 1 ... 11
    double m_LastCutoff;
    double m_LastResonance;
    unsigned m_Section;
    double m_A0, m_A1, m_A2, m_B0, m_B1, m_B2;
    double m_K;
    bool m_CutoffModInvert;
    bool m_ResonanceModInvert;
    bool m_Bypass;
    const Sample *m_CutoffMod;
    const Sample *m_ResonanceMod;

private:
    void UpdateCoefficients(FilterInstance &instance, float cutoff, float resonance);
    void Transform(double a0, double a1, double a2, double b0, double b1, double b2, double f);
    // The sample-by-sample walk, for modulated settings and unusual instances.
    void ProcessEachSample(FilterInstance &instance, Sample &data);
    void FilterRun(FilterInstance &instance, short *values, int count);
    int m_InstanceCount;

    // The last design, reused while its inputs stay the same: settings move
    // far less often than every FilterGranularity samples.
    bool m_DesignValid;
    float m_DesignQ;
    float m_DesignF;
    double m_DesignRate;
    double m_DesignK;
    float m_DesignCoef[9];
};

// Workspace record: cutoff, resonance and the two modulation-invert flags.
std::ostream &operator<<(std::ostream &out, const Filter &filter);

#endif
