#ifndef WORKSPACE_H
#define WORKSPACE_H

#include <string>

class LoopsApp;

// Saving and loading whole performances: one text file of records and, beside
// it, one WAV file per loop named after the workspace and the loop's number.
// A save replaces all of these files or none: a journal beside the workspace
// lets a save cut short be completed when the workspace is next used. Saves
// and loads hold a lock beside the workspace, so two instances of the
// program take turns; a path that is a symbolic link stands for its target.
class Workspace
{
public:
    // The main window's buttons: ask for a path, then save or load.
    static void Load(LoopsApp *app);
    static void Save(LoopsApp *app);

    // A file that does not read completely changes nothing.
    static bool LoadFrom(LoopsApp *app, const std::string &path);
    // Everything goes to temporary files first, onto the disk; the old files
    // are replaced only when all of them were written, the loop files first
    // and the workspace last.
    static bool SaveTo(LoopsApp *app, const std::string &path);
    // Finishes the renames of a save of this workspace that was cut short
    // after all its files were written (one line says so); false, with one
    // line, when they cannot be done.
    static bool CompleteCutShortSave(const std::string &path);

    // The WAV file holding the sound of loop number id. Two workspaces never
    // share one: a name ending in ".lws" gives the names stored performances
    // use (the name less ".lws", "Loop", the number, ".wav"); any other name
    // gets the name, "-loop-", the number and ".wav".
    static std::string CompanionName(const std::string &path, int id);

    static const char *Header;
};

#endif
