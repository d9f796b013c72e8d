#ifndef SCOPE_GUI_H
#define SCOPE_GUI_H

#include "GUI/GUIBase.h"

class Fl_Button;
class Fl_Group;
class ScopeWidget;

// Oscilloscope of the output block.
class ScopeGUI : public GUIBase
{
public:
    ScopeGUI();
    void CreateGUI(int x, int y, const char *name) override;
    // Called once per cycle with the block just mixed.
    void Display(const short *data);

    bool m_Bypass;
    Fl_Group *m_Group;
    Fl_Button *m_BypassBtn;
    ScopeWidget *m_Scope;
};

#endif
