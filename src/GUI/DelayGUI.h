#ifndef DELAY_GUI_H
#define DELAY_GUI_H

#include "GUI/GUIBase.h"

class AudioEngine;
class Delay;
class Fl_Button;
class Fl_Group;
class Fl_Knob;

// Time, feedback and bypass of one Delay.
class DelayGUI : public GUIBase
{
public:
    explicit DelayGUI(Delay *delay);
    ~DelayGUI() override;
    void CreateGUI(int x, int y, const char *name) override;
    void UpdateValues() override;

    Delay *m_Delay;
    // Changes go through it when set (see AudioEngine::Post).
    AudioEngine *m_Engine = nullptr;
    Fl_Group *m_Group;
    Fl_Knob *m_DelayKnob;
    Fl_Knob *m_FeedbackKnob;
    Fl_Button *m_BypassBtn;
};

#endif
