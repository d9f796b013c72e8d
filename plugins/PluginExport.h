#ifndef PLUGIN_EXPORT_H
#define PLUGIN_EXPORT_H

// Plug-ins are built with hidden symbols so that their classes never clash
// with the program's; only what the host looks up is exported.
#define PLUGIN_VISIBLE __attribute__((visibility("default")))
#define PLUGIN_EXPORT extern "C" PLUGIN_VISIBLE

#endif
