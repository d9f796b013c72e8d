#ifndef WORKSPACE_H
#define WORKSPACE_H

class LoopsApp;

// Saving and loading whole performances.
class Workspace
{
public:
    static void Load(LoopsApp *app);
    static void Save(LoopsApp *app);
};

#endif
