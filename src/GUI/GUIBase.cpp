#include "GUI/GUIBase.h"

GUIBase::~GUIBase() = default;

void GUIBase::CreateGUI(int, int, const char *)
{
}

void GUIBase::UpdateValues()
{
}
