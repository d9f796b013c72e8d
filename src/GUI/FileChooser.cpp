#include "GUI/FileChooser.h"

#include <FL/Fl.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Window.H>

FileChooser *FileChooser::s_Current = nullptr;

namespace {

FileChooser::Cycle s_Cycle = nullptr;
void *s_CycleData = nullptr;
Fl_File_Chooser *s_Open = nullptr;
// Where the last chosen file was, for the next chooser to start in.
std::string s_Directory;

} // namespace

std::string FileChooser::Ask(const char *title, const char *pattern)
{
    if (s_Open) {
        s_Open->show();
        return std::string();
    }
    Fl_File_Chooser chooser(s_Directory.empty() ? nullptr : s_Directory.c_str(), pattern,
                            Fl_File_Chooser::CREATE, title);
    // Not modal: the performer keeps playing the other windows meanwhile.
    chooser.newButton->window()->clear_modal_states();
    chooser.show();
    s_Open = &chooser;
    while (chooser.shown()) {
        if (s_Cycle) {
            Fl::check();
            s_Cycle(s_CycleData);
        } else {
            Fl::wait();
        }
    }
    s_Open = nullptr;
    const char *chosen = chooser.value();
    std::string path = chosen ? chosen : "";
    if (!path.empty()) s_Directory = chooser.directory() ? chooser.directory() : "";
    return path;
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

void FileChooser::SetCycle(Cycle cycle, void *data)
{
    s_Cycle = cycle;
    s_CycleData = data;
}

bool FileChooser::IsOpen()
{
    return s_Open != nullptr;
}
