#ifndef LIVE_INPUT_H
#define LIVE_INPUT_H

#include "HostSettings.h"
#include "InputDevice.h"
#include "LiveCapture.h"
#include "PluginBlock.h"

#include <string>

class Fl_Box;
class Fl_Value_Output;
class Fl_Value_Slider;
class Fl_Window;
class Sample;

// A microphone or instrument as the plug-in's signal: each block is what the
// sound device recorded since the last one, so loops can record it. When the
// host has an input of its own (JACK's, or its OSS device's capture), it is
// that input instead, block by block in order.
class LiveInput
{
public:
    LiveInput(int blockSize, int samplerate, const std::string &device);
    LiveInput(const LiveInput &) = delete;
    LiveInput &operator=(const LiveInput &) = delete;
    ~LiveInput();

    Fl_Window *CreateWindow();
    Sample *Run();
    // Run is these two: the block (no window touched, so it may be made on
    // the audio thread) and the window's state.
    Sample *Fill();
    void ShowState();
    void SetGain(double gain);

    InputDevice m_Device;
    LiveCapture m_Capture;
    // Set when the host has an input of its own: that is the signal.
    HostSettings::InputBlockFunc m_HostInput;
    PluginBlock m_Block;
    double m_Gain;
    Fl_Window *m_Window;
    Fl_Box *m_StatusBox;
    Fl_Value_Output *m_UnderrunOut;
    Fl_Value_Slider *m_GainSlider;
};

#endif
