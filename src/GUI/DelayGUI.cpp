#include "GUI/DelayGUI.h"

#include "Engine/AudioEngine.h"
#include "GUI/Fl_Knob.h"
#include "GUI/PanelLook.h"
#include "KorvelSound/Delay.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>

#include <iostream>

namespace {

DelayGUI *PanelOf(Fl_Widget *widget)
{
    return static_cast<DelayGUI *>(widget->parent()->user_data());
}

template <typename F> void Change(Fl_Widget *widget, const F &change)
{
    AudioEngine::Post(PanelOf(widget)->m_Engine, change);
}

void DelayTime(Fl_Widget *widget, void *)
{
    Delay *delay = PanelOf(widget)->m_Delay;
    const float value = static_cast<float>(static_cast<Fl_Knob *>(widget)->value());
    Change(widget, [delay, value] {
        delay->m_DelayL = value;
        delay->m_DelayR = value;
    });
}

void Feedback(Fl_Widget *widget, void *)
{
    Delay *delay = PanelOf(widget)->m_Delay;
    const float feedback = static_cast<float>(static_cast<Fl_Knob *>(widget)->value());
    Change(widget, [delay, feedback] { delay->m_Feedback = feedback; });
}

void Bypass(Fl_Widget *widget, void *)
{
    Delay *delay = PanelOf(widget)->m_Delay;
    const bool bypass = static_cast<Fl_Button *>(widget)->value() != 0;
    Change(widget, [delay, bypass] { delay->m_Bypass = bypass; });
}

} // namespace

DelayGUI::DelayGUI(Delay *delay)
    : m_Delay(delay), m_Group(nullptr), m_DelayKnob(nullptr), m_FeedbackKnob(nullptr), m_BypassBtn(nullptr)
{
    if (!delay) std::cerr << "WARNING: Delay not correctly set up" << std::endl;
}

DelayGUI::~DelayGUI()
{
    delete m_Group;
}

void DelayGUI::CreateGUI(int x, int y, const char *name)
{
    m_Group = PanelLook::Group(x, y, 300, 60, name, this);
    m_DelayKnob = PanelLook::Knob(x + 50, y + 5, "Delay", 1, 0.01, 0.5);
    m_DelayKnob->callback(DelayTime);
    m_FeedbackKnob = PanelLook::Knob(x + 100, y + 5, "Feedback", 1, 0.01, 0.5);
    m_FeedbackKnob->callback(Feedback);
    m_BypassBtn = PanelLook::Toggle(x + 5, y + 25, 40, 20, "Bypass", 1);
    m_BypassBtn->callback(Bypass);
    m_Group->end();
}

void DelayGUI::UpdateValues()
{
    if (!m_Group || !m_Delay) return;
    m_DelayKnob->value(m_Delay->m_DelayL);
    m_FeedbackKnob->value(m_Delay->m_Feedback);
    m_BypassBtn->value(m_Delay->m_Bypass);
}
