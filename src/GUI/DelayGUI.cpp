#include "GUI/DelayGUI.h"

#include "GUI/Fl_Knob.h"
#include "GUI/PanelLook.h"
#include "KorvelSound/Delay.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>

#include <iostream>

namespace {

Delay *BoundDelay(Fl_Widget *widget)
{
    return static_cast<DelayGUI *>(widget->parent()->user_data())->m_Delay;
}

void DelayTime(Fl_Widget *widget, void *)
{
    Delay *delay = BoundDelay(widget);
    float value = static_cast<float>(static_cast<Fl_Knob *>(widget)->value());
    delay->m_DelayL = value;
    delay->m_DelayR = value;
}

void Feedback(Fl_Widget *widget, void *)
{
    BoundDelay(widget)->m_Feedback = static_cast<float>(static_cast<Fl_Knob *>(widget)->value());
}

void Bypass(Fl_Widget *widget, void *)
{
    BoundDelay(widget)->m_Bypass = static_cast<Fl_Button *>(widget)->value() != 0;
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
