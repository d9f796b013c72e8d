#ifndef RATE_CONVERTER_H
#define RATE_CONVERTER_H

#include <vector>

struct SRC_STATE_tag;

// Converts one channel of sound from one rate to another with libsamplerate's
// band-limited (sinc) converter, a chunk at a time.
class RateConverter
{
public:
    RateConverter();
    ~RateConverter();
    RateConverter(const RateConverter &) = delete;
    RateConverter &operator=(const RateConverter &) = delete;

    // Rates this far apart or closer can be converted.
    static constexpr int MaxRatio = 16;
    static bool CanConvert(int fromRate, int toRate);

    // False, with one line on standard error, when the converter cannot start.
    bool Start(int fromRate, int toRate);
    // Replaces out with the sound converted from the count values of in.
    // With last set, the converter also gives back what its filter still
    // holds; the stream then ends.
    bool Convert(const float *in, int count, bool last, std::vector<float> &out);

private:
    SRC_STATE_tag *m_State;
    double m_Ratio;
};

#endif
