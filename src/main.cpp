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
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show(argc, argv);
    while (Fl::check()) app->Run();
    delete app;
    return 1;
}
