#include "KorvelInfo.h"
#include "KorvelLoopsInfo.h"
#include "LoopsApp.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <cstdlib>
#include <ctime>

int main(int argc, char **argv)
{
    srand(time(NULL));
    KorvelLoopsInfo::Instance()->LoadResourceFile();
    // ./run chooses JACK here when a server answers, leaving the file alone.
    const char *output = std::getenv("KORVEL_OUTPUT");
    if (output && *output) KorvelInfo::OutputDevice = output;
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show(argc, argv);
    while (Fl::check()) app->Run();
    delete app;
    return 1;
}
