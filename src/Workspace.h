#ifndef WORKSPACE_H
#define WORKSPACE_H

#include <iosfwd>
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

    // Master timing a loop can be matched to: a length an int holds and a
    // speed the Speed knob can give.
    static bool MasterTimingFits(float length, float speed, float period);
    // Numbers the loop counter can give and still count on from: 0 up to
    // the largest int less one.
    static bool LoopNumberFits(long long id);

    // Whether count records of at least valuesPerRecord values each could
    // still follow in the stream; a count no file could hold is refused
    // before anything is built for it.
    static bool CountFits(std::istream &in, long long count, int valuesPerRecord);

    static const char *Header;
    // Values of the smallest loop entry (number, loop record, panel record
    // with no markers) and of a trigger record.
    static const int LoopEntryValues = 30;
    static const int TriggerValues = 10;
};

#endif
