#include "GUI/FileChooser.h"

#include <FL/Fl_File_Chooser.H>

FileChooser *FileChooser::s_Current = nullptr;

std::string FileChooser::Ask(const char *title, const char *pattern)
{
    const char *chosen = fl_file_chooser(title, pattern, nullptr, 0);
    return chosen ? std::string(chosen) : std::string();
}

FileChooser *FileChooser::Current()
{
    static FileChooser system;
    return s_Current ? s_Current : &system;
}

void FileChooser::SetCurrent(FileChooser *chooser)
{
    s_Current = chooser;
}
