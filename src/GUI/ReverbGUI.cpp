#include "GUI/ReverbGUI.h"

#include "Engine/AudioEngine.h"
#include "GUI/Fl_Knob.h"
#include "GUI/PanelLook.h"
#include "KorvelSound/Reverb.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>

#include <iostream>

namespace {

ReverbGUI *PanelOf(Fl_Widget *widget)
{
    return static_cast<ReverbGUI *>(widget->parent()->user_data());
}

template <typename F> void Change(Fl_Widget *widget, const F &change)
{
    AudioEngine::Post(PanelOf(widget)->m_Engine, change);
}

float KnobValue(Fl_Widget *widget)
{
    return static_cast<float>(static_cast<Fl_Knob *>(widget)->value());
}

void Time(Fl_Widget *widget, void *)
{
    Reverb *reverb = PanelOf(widget)->m_Reverb;
    const float time = KnobValue(widget);
    Change(widget, [reverb, time] { reverb->SetTime(time); });
}

void Feedback(Fl_Widget *widget, void *)
{
    Reverb *reverb = PanelOf(widget)->m_Reverb;
    const float feedback = KnobValue(widget);
    Change(widget, [reverb, feedback] { reverb->SetFeedback(feedback); });
}

// A new spread only shows once the stage times are drawn again, from the
// reverb's own time (which a loaded workspace may have set).
void Random(Fl_Widget *widget, void *)
{
    Reverb *reverb = PanelOf(widget)->m_Reverb;
    const float random = KnobValue(widget);
    Change(widget, [reverb, random] {
        reverb->m_Random = random;
        reverb->SetTime(reverb->m_Time);
    });
}

void Bypass(Fl_Widget *widget, void *)
{
    Reverb *reverb = PanelOf(widget)->m_Reverb;
    const bool bypass = static_cast<Fl_Button *>(widget)->value() != 0;
    Change(widget, [reverb, bypass] { reverb->m_Bypass = bypass; });
}

} // namespace

ReverbGUI::ReverbGUI(Reverb *reverb)
    : m_Reverb(reverb), m_Group(nullptr), m_FeedbackKnob(nullptr), m_TimeKnob(nullptr), m_RandomKnob(nullptr),
      m_BypassBtn(nullptr)
{
    if (!reverb) std::cerr << "WARNING: Reverb not correctly set up" << std::endl;
}

ReverbGUI::~ReverbGUI()
{
    delete m_Group;
}

void ReverbGUI::CreateGUI(int x, int y, const char *name)
{
    m_Group = PanelLook::Group(x, y, 300, 60, name, this);
    PanelLook::FitTitle(m_Group, 50);
    m_TimeKnob = PanelLook::Knob(x + 50, y + 5, "Time", 0.25, 0.01, 0);
    m_TimeKnob->callback(Time);
    m_FeedbackKnob = PanelLook::Knob(x + 100, y + 5, "FeedBack", 1, 0.01, 0.01);
    m_FeedbackKnob->callback(Feedback);
    m_RandomKnob = PanelLook::Knob(x + 150, y + 5, "Random", 0.01, 0.00001, 0.002);
    m_RandomKnob->callback(Random);
    m_BypassBtn = PanelLook::Toggle(x + 5, y + 25, 40, 20, "Bypass", 1);
    m_BypassBtn->callback(Bypass);
    m_Group->end();
}

void ReverbGUI::UpdateValues()
{
    if (!m_Group || !m_Reverb) return;
    m_TimeKnob->value(m_Reverb->m_Time);
    m_FeedbackKnob->value(m_Reverb->m_Feedback);
    m_RandomKnob->value(m_Reverb->m_Random);
    m_BypassBtn->value(m_Reverb->m_Bypass);
}
