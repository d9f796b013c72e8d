#ifndef WORKSPACE_H
#define WORKSPACE_H

#include <iosfwd>
#include <string>

class LoopsApp;

// Saving and loading whole performances: one text file of records and, beside
// it, one WAV file per loop named after the workspace and the loop's number.
class Workspace
{
public:
    // The main window's buttons: ask for a path, then save or load.
    static void Load(LoopsApp *app);
    static void Save(LoopsApp *app);

    // A file that does not read completely changes nothing.
    static bool LoadFrom(LoopsApp *app, const std::string &path);
    // Everything goes to temporary files first; the old files are replaced
    // only when all of them were written.
    static bool SaveTo(LoopsApp *app, const std::string &path);

    // The WAV file holding the sound of loop number id.
    static std::string CompanionName(const std::string &path, int id);

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
