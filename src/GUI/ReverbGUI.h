#ifndef REVERB_GUI_H
#define REVERB_GUI_H

#include "GUI/GUIBase.h"

class AudioEngine;
class Reverb;
class Fl_Button;
class Fl_Group;
class Fl_Knob;

// Time, feedback, random spread and bypass of one Reverb.
class ReverbGUI : public GUIBase
{
public:
    explicit ReverbGUI(Reverb *reverb);
    ~ReverbGUI() override;
    void CreateGUI(int x, int y, const char *name) override;
    void UpdateValues() override;

    Reverb *m_Reverb;
    // Changes go through it when set (see AudioEngine::Post).
    AudioEngine *m_Engine = nullptr;
    Fl_Group *m_Group;
    Fl_Knob *m_FeedbackKnob;
    Fl_Knob *m_TimeKnob;
    Fl_Knob *m_RandomKnob;
    Fl_Button *m_BypassBtn;
};

#endif
