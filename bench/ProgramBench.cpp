// The whole program as main() runs it, with a given number of fully loaded
// loops, each in its window with its cursor drawn. The controls are set
// through their widgets' callbacks, as a performer's clicks would set them.
// The sound device is whatever the resource file names; bench/program_bench.sh
// preloads a stand-in for it that paces the cycle and counts late blocks.
//
// Usage: korvel-program-bench loops cycles
#include "FullyLoadedLoop.h"
#include "GUI/DelayGUI.h"
#include "GUI/Fl_Knob.h"
#include "GUI/Fl_LED_Button.h"
#include "GUI/LoopGUI.h"
#include "GUI/ReverbGUI.h"
#include "KorvelLoopsInfo.h"
#include "LoopsApp.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <cstdlib>

namespace {

void Set(Fl_Valuator *control, double value)
{
    control->value(value);
    control->do_callback();
}

void Press(Fl_Button *button, int value)
{
    button->value(value);
    button->do_callback();
}

void LoadFully(LoopGUI &panel)
{
    FullyLoaded::LoadSecondOfSound(*panel.m_Loop);
    panel.Refresh();
    Set(panel.m_CutoffSlider, FullyLoaded::CutoffSlider);
    Set(panel.m_EmphasisKnob, FullyLoaded::Emphasis);
    Set(panel.m_BalanceKnob, FullyLoaded::Balance);
    Press(panel.m_EffectsBtn, 1);
    Set(panel.m_DelayGUI->m_DelayKnob, FullyLoaded::DelayTime);
    Set(panel.m_DelayGUI->m_FeedbackKnob, FullyLoaded::DelayFeedback);
    Press(panel.m_DelayGUI->m_BypassBtn, 0);
    Set(panel.m_ReverbGUI->m_TimeKnob, FullyLoaded::ReverbTime);
    Press(panel.m_ReverbGUI->m_BypassBtn, 0);
    Press(panel.m_UpdateBtn, 1);
}

} // namespace

int main(int argc, char **argv)
{
    const int loops = argc > 1 ? std::atoi(argv[1]) : 16;
    const long cycles = argc > 2 ? std::atol(argv[2]) : 1000;
    // A fixed seed: the reverbs' random stage times are the same every run.
    std::srand(1);
    KorvelLoopsInfo::Instance()->LoadResourceFile();
    LoopsApp *app = new LoopsApp;
    Fl::visual(FL_DOUBLE);
    app->CreateWindow()->show();
    for (int i = 0; i < loops; i++) {
        app->NewLoop();
        LoadFully(*app->m_Loops.rbegin()->second->m_GUI);
    }
    // Every window mapped, exposed and drawn before the first cycle.
    for (int pass = 0; pass < 3; pass++) {
        Fl::check();
        XSync(fl_display, False);
    }
    for (long cycle = 0; cycle < cycles && Fl::check(); cycle++)
        app->Run();
    delete app;
    return 0;
}
