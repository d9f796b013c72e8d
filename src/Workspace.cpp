#include "Workspace.h"

void Workspace::Load(LoopsApp *) {}

void Workspace::Save(LoopsApp *) {}
