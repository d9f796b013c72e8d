#include "ToneGenerator.h"

#include "HostSettings.h"
#include "PluginExport.h"

#include <FL/Fl_Group.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>

#include <cmath>

namespace {

const double TwoPi = 6.283185307179586;
const double FullScale = 32767.0;

void FrequencyMoved(Fl_Widget *widget, void *data)
{
    static_cast<ToneGenerator *>(data)->SetFrequency(static_cast<Fl_Value_Slider *>(widget)->value());
}

void LevelMoved(Fl_Widget *widget, void *data)
{
    static_cast<ToneGenerator *>(data)->SetLevel(static_cast<Fl_Value_Slider *>(widget)->value());
}

Fl_Value_Slider *Slider(int y, const char *label, double low, double high, double step, double value)
{
    Fl_Value_Slider *slider = new Fl_Value_Slider(80, y, 200, 20, label);
    slider->type(FL_HOR_NICE_SLIDER);
    slider->align(FL_ALIGN_LEFT);
    slider->labelsize(10);
    slider->textsize(10);
    slider->bounds(low, high);
    slider->step(step);
    slider->value(value);
    return slider;
}

ToneGenerator *s_Tone = nullptr;

} // namespace

ToneGenerator::ToneGenerator(int blockSize, int samplerate)
    : m_Block(blockSize), m_Samplerate(samplerate), m_Frequency(440.0), m_Level(0.5), m_Phase(0.0),
      m_Window(nullptr), m_FrequencySlider(nullptr), m_LevelSlider(nullptr)
{
}

ToneGenerator::~ToneGenerator()
{
    // The host never deletes the window; it must go before this code is unloaded.
    delete m_Window;
}

Fl_Window *ToneGenerator::CreateWindow()
{
    if (m_Window) return m_Window;
    Fl_Group::current(nullptr);
    m_Window = new Fl_Window(300, 70, "Tone Generator");
    m_FrequencySlider = Slider(10, "Frequency", 20.0, 5000.0, 1.0, m_Frequency);
    m_FrequencySlider->callback(FrequencyMoved, this);
    m_LevelSlider = Slider(40, "Level", 0.0, 1.0, 0.01, m_Level);
    m_LevelSlider->callback(LevelMoved, this);
    m_Window->end();
    return m_Window;
}

Sample *ToneGenerator::Run()
{
    const double step = TwoPi * m_Frequency / m_Samplerate;
    const double amplitude = m_Level * FullScale;
    for (int64_t i = 0; i < m_Block.m_Length; i++) {
        // Truncated toward zero; the amplitude never exceeds full scale, so no clamp is needed.
        m_Block.m_Data[i] = static_cast<short>(amplitude * std::sin(m_Phase));
        m_Phase += step;
        if (m_Phase >= TwoPi) m_Phase -= TwoPi;
    }
    return m_Block.AsSample();
}

void ToneGenerator::SetFrequency(double hz)
{
    if (hz > 0.0 && hz < m_Samplerate / 2.0) m_Frequency = hz;
}

void ToneGenerator::SetLevel(double level)
{
    if (level >= 0.0 && level <= 1.0) m_Level = level;
}

PLUGIN_EXPORT Fl_Window *Create__Fv()
{
    // Loading the same file twice hands back the running instance.
    if (!s_Tone) s_Tone = new ToneGenerator(HostSettings::BlockSize(), HostSettings::Samplerate());
    return s_Tone->CreateWindow();
}

PLUGIN_EXPORT Sample *Run__Fv()
{
    return s_Tone ? s_Tone->Run() : nullptr;
}

// The block touches no window: it may be made on the audio thread.
PLUGIN_EXPORT Sample *RunRealtime__Fv()
{
    return s_Tone ? s_Tone->Run() : nullptr;
}

PLUGIN_EXPORT void Destroy__Fv()
{
    delete s_Tone;
    s_Tone = nullptr;
}
