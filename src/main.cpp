#include "KorvelInfo.h"
#include "KorvelLoopsInfo.h"
#include "LoopsApp.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <csignal>
#include <cstdlib>
#include <ctime>

int main(int argc, char **argv)
{
    // A write past the file-size limit then fails like one onto a full
    // disk, which every save handles, instead of ending the performance.
    std::signal(SIGXFSZ, SIG_IGN);
    srand(time(NULL));
    KorvelLoopsInfo::Instance()->LoadResourceFile();
    // ./run chooses JACK here when a server answers, leaving the file alone.
    const char *output = std::getenv("KORVEL_OUTPUT");
    if (output && *output) KorvelInfo::OutputDevice = output;
    Output::MixInCallback = true;
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show(argc, argv);
    // The sound runs on an audio thread from here on; the windows follow it.
    app->GoLive();
    while (app->Pass()) {
    }
    delete app;
    return 1;
}
