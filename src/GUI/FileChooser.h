#ifndef FILE_CHOOSER_H
#define FILE_CHOOSER_H

#include <string>

// Asks the performer for a file. The one place the panels open FLTK's
// chooser, so tests can answer in its stead. While it waits the audio cycle
// keeps running, between event passes, as in the program's main loop.
class FileChooser
{
public:
    typedef void (*Cycle)(void *data);

    virtual ~FileChooser() = default;
    // Returns the chosen path, or an empty string when cancelled. Only one
    // chooser is open at a time: asking while one is open brings that one
    // forward and returns an empty string.
    virtual std::string Ask(const char *title, const char *pattern);

    static FileChooser *Current();
    static void SetCurrent(FileChooser *chooser);
    // What runs between two event passes while a chooser is open: the
    // application's audio cycle. None: the chooser just waits for events.
    static void SetCycle(Cycle cycle, void *data);
    // True while a chooser waits; what callers hold on the stack meanwhile
    // (a loop's panel, say) must not be destroyed.
    static bool IsOpen();

private:
    static FileChooser *s_Current;
};

#endif
