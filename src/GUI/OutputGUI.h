#ifndef OUTPUT_GUI_H
#define OUTPUT_GUI_H

#include "GUI/GUIBase.h"

class AudioEngine;
class Output;
class Fl_Button;
class Fl_Group;
class Fl_Knob;
class Fl_Value_Output;

// Master volume and recording of the output to a WAV file.
class OutputGUI : public GUIBase
{
public:
    explicit OutputGUI(Output *output);
    void CreateGUI(int x, int y, const char *name) override;
    void UpdateValues() override;
    // Called every cycle: the dropouts JACK counted, shown only on JACK.
    void ShowDropouts();

    Output *m_Output;
    // Changes go through it when set (see AudioEngine::Post).
    AudioEngine *m_Engine = nullptr;
    Fl_Group *m_Group;
    Fl_Knob *m_VolumeKnob;
    Fl_Button *m_RecordBtn;
    Fl_Value_Output *m_DropoutsOut;
};

#endif
