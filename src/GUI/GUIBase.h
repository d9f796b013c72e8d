#ifndef GUI_BASE_H
#define GUI_BASE_H

// A panel: a group of widgets bound to one audio object. Callbacks write the
// object's fields directly; UpdateValues copies them back into the widgets.
class GUIBase
{
public:
    virtual ~GUIBase();
    // Builds the panel's widgets in the current group at window position (x, y).
    virtual void CreateGUI(int x, int y, const char *name);
    virtual void UpdateValues();
};

#endif
