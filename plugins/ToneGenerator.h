#ifndef TONE_GENERATOR_H
#define TONE_GENERATOR_H

#include "PluginBlock.h"

class Fl_Value_Slider;
class Fl_Window;
class Sample;

// A sine tone with a frequency and a level control: something to record a
// first loop from, and a known signal for checking the host.
class ToneGenerator
{
public:
    ToneGenerator(int blockSize, int samplerate);
    ~ToneGenerator();
    ToneGenerator(const ToneGenerator &) = delete;
    ToneGenerator &operator=(const ToneGenerator &) = delete;

    // Builds the window once; later calls return the same one.
    Fl_Window *CreateWindow();
    // Computes the next block, continuing the wave where the last one ended.
    Sample *Run();

    void SetFrequency(double hz);
    void SetLevel(double level);

    PluginBlock m_Block;
    int m_Samplerate;
    double m_Frequency; // Hz
    double m_Level;     // 0 … 1 of full scale
    double m_Phase;     // radians, 0 … 2π
    Fl_Window *m_Window;
    Fl_Value_Slider *m_FrequencySlider;
    Fl_Value_Slider *m_LevelSlider;
};

#endif
