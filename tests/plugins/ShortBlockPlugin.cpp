// A plug-in for the host tests whose blocks are half as long as the host's.
#include "HostSettings.h"
#include "PluginBlock.h"
#include "PluginExport.h"

#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>

extern "C" {
PLUGIN_VISIBLE int ShortBlockPluginRuns = 0;
PLUGIN_VISIBLE int ShortBlockPluginDestroys = 0;
// Whether its window was still shown when Destroy came.
PLUGIN_VISIBLE int ShortBlockPluginShownAtDestroy = -1;
}

namespace {

PluginBlock *s_Block = nullptr;
Fl_Window *s_Window = nullptr;

} // namespace

PLUGIN_EXPORT Fl_Window *Create__Fv()
{
    s_Block = new PluginBlock(HostSettings::BlockSize() / 2);
    Fl_Group::current(nullptr);
    s_Window = new Fl_Window(200, 40, "Short Block Plugin");
    s_Window->end();
    return s_Window;
}

PLUGIN_EXPORT Sample *Run__Fv()
{
    ShortBlockPluginRuns++;
    return s_Block->AsSample();
}

PLUGIN_EXPORT void Destroy__Fv()
{
    ShortBlockPluginDestroys++;
    ShortBlockPluginShownAtDestroy = s_Window->shown() ? 1 : 0;
    delete s_Window;
    s_Window = nullptr;
    delete s_Block;
    s_Block = nullptr;
}
