#ifndef FILE_CHOOSER_H
#define FILE_CHOOSER_H

#include <string>

// Asks the performer for a file. The one place the panels open FLTK's
// chooser, so tests can answer in its stead.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // Returns the chosen path, or an empty string when cancelled.
    virtual std::string Ask(const char *title, const char *pattern);

    static FileChooser *Current();
    static void SetCurrent(FileChooser *chooser);

private:
    static FileChooser *s_Current;
};

#endif
