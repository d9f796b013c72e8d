// A plug-in for the host tests that lacks its Run entry point.
#include "PluginExport.h"

#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>

extern "C" {
PLUGIN_VISIBLE int NoRunPluginCreates = 0;
PLUGIN_VISIBLE int NoRunPluginDestroys = 0;
}

PLUGIN_EXPORT Fl_Window *Create__Fv()
{
    NoRunPluginCreates++;
    Fl_Group::current(nullptr);
    Fl_Window *window = new Fl_Window(200, 40, "No Run Plugin");
    window->end();
    return window;
}

PLUGIN_EXPORT void Destroy__Fv()
{
    NoRunPluginDestroys++;
}
