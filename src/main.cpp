#include "KorvelInfo.h"
#include "KorvelLoopsInfo.h"
#include "LoopsApp.h"
#include "Remote/NsmClient.h"
#include "Remote/OscPort.h"
#include "Remote/OscRemote.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

// The session manager ends its clients with SIGTERM: the program then ends
// as its main window's close would, without asking (the manager asked).
volatile std::sig_atomic_t g_Quit = 0;

void Quit(int)
{
    g_Quit = 1;
}

} // namespace

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

    // Under a session manager the session names the JACK client, so the
    // sound device waits until the manager has opened the session.
    OscPort port;
    std::unique_ptr<NsmClient> nsm;
    const char *nsmUrl = std::getenv("NSM_URL");
    if (nsmUrl && *nsmUrl) {
        // The manager needs a port to answer to, whatever the setting.
        port.Open(KorvelInfo::OscPortNumber, KorvelInfo::OscAddress);
        nsm.reset(new NsmClient(&port));
        std::signal(SIGTERM, Quit);
        if (nsm->Announce(nsmUrl, argv[0]) && nsm->WaitForOpen(10))
            setenv("KORVEL_JACK_CLIENT", nsm->ClientID().c_str(), 1);
    } else if (KorvelInfo::OscPortNumber != 0) {
        port.Open(KorvelInfo::OscPortNumber, KorvelInfo::OscAddress);
    }

    Output::MixInCallback = true;
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show(argc, argv);
    OscRemote remote(app, &port, nsm.get());
    app->m_Remote = &remote;
    if (nsm) nsm->Attach(app);
    // The sound runs on an audio thread from here on; the windows follow it.
    app->GoLive();
    while (app->Pass() && !g_Quit) {
    }
    app->m_Remote = nullptr;
    delete app;
    return 1;
}
