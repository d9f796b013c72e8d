#include "GUI/ScopeGUI.h"

#include "GUI/PanelLook.h"
#include "GUI/ScopeWidget.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>

namespace {

void Bypass(Fl_Widget *widget, void *)
{
    static_cast<ScopeGUI *>(widget->parent()->user_data())->m_Bypass =
        static_cast<Fl_Button *>(widget)->value() != 0;
}

} // namespace

ScopeGUI::ScopeGUI() : m_Bypass(false), m_Group(nullptr), m_BypassBtn(nullptr), m_Scope(nullptr)
{
}

void ScopeGUI::CreateGUI(int x, int y, const char *name)
{
    m_Group = PanelLook::Group(x, y, 225, 110, name, this);
    m_Scope = new ScopeWidget(x + 5, y + 20, 210, 85, "Scope");
    m_BypassBtn = PanelLook::Toggle(x + 175, y + 3, 40, 16, "Bypass", 0);
    m_BypassBtn->callback(Bypass);
    m_Group->end();
}

void ScopeGUI::Display(const short *data)
{
    if (!m_Scope) return;
    m_Scope->m_Data = data;
    if (!m_Bypass) m_Scope->redraw();
}
