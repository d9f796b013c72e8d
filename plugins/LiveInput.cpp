#include "LiveInput.h"

#include "HostSettings.h"
#include "PluginExport.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Value_Output.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/Fl_Window.H>

#include <algorithm>
#include <cmath>

namespace {

const double MaxGain = 8.0;

void GainMoved(Fl_Widget *widget, void *data)
{
    static_cast<LiveInput *>(data)->SetGain(static_cast<Fl_Value_Slider *>(widget)->value());
}

LiveInput *s_Input = nullptr;

} // namespace

LiveInput::LiveInput(int blockSize, int samplerate, const std::string &device)
    : m_Capture(&m_Device, blockSize, samplerate), m_HostInput(HostSettings::InputBlock()),
      m_Block(blockSize), m_Gain(1.0), m_Window(nullptr), m_StatusBox(nullptr), m_UnderrunOut(nullptr),
      m_GainSlider(nullptr)
{
    if (m_HostInput && m_HostInput())
        m_Capture.m_Status = "Recording from the program's input";
    else
        m_Capture.Open(device);
}

LiveInput::~LiveInput()
{
    // The host never deletes the window; it must go before this code is unloaded.
    delete m_Window;
}

Fl_Window *LiveInput::CreateWindow()
{
    if (m_Window) return m_Window;
    Fl_Group::current(nullptr);
    m_Window = new Fl_Window(300, 90, "Live Input");
    m_StatusBox = new Fl_Box(10, 5, 280, 20);
    m_StatusBox->labelsize(10);
    m_StatusBox->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    m_StatusBox->copy_label(m_Capture.m_Status.c_str());
    m_GainSlider = new Fl_Value_Slider(80, 30, 200, 20, "Gain");
    m_GainSlider->type(FL_HOR_NICE_SLIDER);
    m_GainSlider->align(FL_ALIGN_LEFT);
    m_GainSlider->labelsize(10);
    m_GainSlider->textsize(10);
    m_GainSlider->bounds(0.0, MaxGain);
    m_GainSlider->step(0.05);
    m_GainSlider->value(m_Gain);
    m_GainSlider->callback(GainMoved, this);
    m_UnderrunOut = new Fl_Value_Output(80, 60, 90, 20, "Underruns");
    m_UnderrunOut->labelsize(10);
    m_UnderrunOut->textsize(10);
    m_Window->end();
    return m_Window;
}

Sample *LiveInput::Run()
{
    Sample *block = Fill();
    ShowState();
    return block;
}

Sample *LiveInput::Fill()
{
    const short *hostBlock = m_HostInput ? m_HostInput() : nullptr;
    if (hostBlock)
        std::copy(hostBlock, hostBlock + m_Block.m_Length, m_Block.m_Data);
    else
        m_Capture.Fill(m_Block.m_Data);
    if (m_Gain != 1.0) {
        for (int64_t i = 0; i < m_Block.m_Length; i++) {
            double value = std::trunc(m_Block.m_Data[i] * m_Gain);
            m_Block.m_Data[i] = static_cast<short>(value > 32767.0    ? 32767.0
                                                   : value < -32767.0 ? -32767.0
                                                                      : value);
        }
    }
    return m_Block.AsSample();
}

void LiveInput::ShowState()
{
    // value() redraws only when the count changed.
    if (m_UnderrunOut) m_UnderrunOut->value(static_cast<double>(m_Capture.m_Underruns));
    if (m_StatusBox) {
        const char *shown = m_StatusBox->label();
        if (!shown || m_Capture.m_Status != shown) m_StatusBox->copy_label(m_Capture.m_Status.c_str());
    }
}

void LiveInput::SetGain(double gain)
{
    if (gain >= 0.0 && gain <= MaxGain) m_Gain = gain;
}

PLUGIN_EXPORT Fl_Window *Create__Fv()
{
    // Loading the same file twice hands back the running instance.
    if (!s_Input)
        s_Input =
            new LiveInput(HostSettings::BlockSize(), HostSettings::Samplerate(), HostSettings::Device());
    return s_Input->CreateWindow();
}

PLUGIN_EXPORT Sample *Run__Fv()
{
    return s_Input ? s_Input->Run() : nullptr;
}

PLUGIN_EXPORT Sample *RunRealtime__Fv()
{
    return s_Input ? s_Input->Fill() : nullptr;
}

PLUGIN_EXPORT void ShowState__Fv()
{
    if (s_Input) s_Input->ShowState();
}

PLUGIN_EXPORT void Destroy__Fv()
{
    delete s_Input;
    s_Input = nullptr;
}
