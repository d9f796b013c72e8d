// A plug-in for the host tests: counts its calls and fills each block with
// the number of its Run call, so a test can tell which block went where.
#include "HostSettings.h"
#include "PluginBlock.h"
#include "PluginExport.h"

#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>

extern "C" {
PLUGIN_VISIBLE int CountingPluginCreates = 0;
PLUGIN_VISIBLE int CountingPluginRuns = 0;
PLUGIN_VISIBLE int CountingPluginDestroys = 0;
}

namespace {

PluginBlock *s_Block = nullptr;
Fl_Window *s_Window = nullptr;

} // namespace

PLUGIN_EXPORT Fl_Window *Create__Fv()
{
    CountingPluginCreates++;
    if (!s_Block) s_Block = new PluginBlock(HostSettings::BlockSize());
    if (!s_Window) {
        Fl_Group::current(nullptr);
        s_Window = new Fl_Window(200, 40, "Counting Plugin");
        s_Window->end();
    }
    return s_Window;
}

PLUGIN_EXPORT Sample *Run__Fv()
{
    CountingPluginRuns++;
    for (int64_t i = 0; i < s_Block->m_Length; i++)
        s_Block->m_Data[i] = static_cast<short>(CountingPluginRuns);
    return s_Block->AsSample();
}

PLUGIN_EXPORT void Destroy__Fv()
{
    CountingPluginDestroys++;
    delete s_Window;
    s_Window = nullptr;
    delete s_Block;
    s_Block = nullptr;
}
