// The whole program under load on JACK, for the dropout figure: the
// application with its main window and a window per loop, each loop playing
// a second of sound through an active filter, its delay and its reverb, the
// master delay and reverb on, for a given number of seconds of sound.
//
//     korvel-jack-load <BufferSize> <seconds> [loops [plug-in]]
//
// Needs an X server and a JACK server (JACK_DEFAULT_SERVER). Prints the
// program's JACK lines and, last, "dropouts N in S s, BufferSize B, L loops".
// With a plug-in (the live input, say) it is loaded first and mixed in, so
// korvel-jack-probe can measure the round trip through it.

#include "GUI/Fl_LED_Button.h"
#include "GUI/LoopGUI.h"
#include "KorvelInfo.h"
#include "Loop.h"
#include "LoopsApp.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: korvel-jack-load <BufferSize> <seconds> [loops]\n");
        return 2;
    }
    KorvelInfo::BufferSize = std::atoi(argv[1]);
    const double seconds = std::atof(argv[2]);
    const int loops = argc > 3 ? std::atoi(argv[3]) : 16;
    KorvelInfo::OutputDevice = "jack";

    Output::MixInCallback = true;
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show();
    app->m_Delay.m_Bypass = false;
    app->m_Reverb.m_Bypass = false;
    if (argc > 4 && !app->StartPlugin(argv[4])) return 1;
    for (int id = 0; id < loops; id++) {
        app->NewLoop();
        Loop *loop = app->m_Loops.at(id)->m_Loop;
        const int length = 44100;
        loop->AllocateMem(length);
        for (int i = 0; i < length; i++)
            loop->m_StoreBuffer.Set(
                i, static_cast<short>(8000 * std::sin(2 * M_PI * (110 + 20 * id) * i / 44100.0)));
        loop->m_LoopLength = length;
        loop->m_Filter.m_Cutoff = 2510;
        loop->m_Filter.m_Bypass = false;
        loop->m_Filter.m_Resonance = 6;
        loop->m_EffectsOn = true;
        loop->m_Delay.m_Bypass = false;
        loop->m_Reverb.SetTime(0.25f);
        loop->m_Reverb.m_Bypass = false;
        loop->SetPan(0.7f);
        app->m_Loops.at(id)->m_GUI->Refresh();
    }

    // Every cursor drawn, as a performer would have them.
    for (auto &item : app->m_Loops) {
        item.second->m_GUI->m_UpdateBtn->value(1);
        item.second->m_GUI->m_UpdateBtn->do_callback();
    }
    app->GoLive();
    // The start (windows mapped, first drawing) is not part of the figure.
    using Clock = std::chrono::steady_clock;
    const auto settled = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < settled && app->Pass()) {
    }
    const int64_t before = app->m_Output.Dropouts();
    const auto end = Clock::now() + std::chrono::milliseconds(std::lround(seconds * 1000));
    while (Clock::now() < end && app->Pass()) {
    }
    std::printf("dropouts %lld in %.0f s, BufferSize %d, %d loops\n",
                static_cast<long long>(app->m_Output.Dropouts() - before), seconds, KorvelInfo::BufferSize,
                loops);
    delete app;
    return 0;
}
