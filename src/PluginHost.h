#ifndef PLUGIN_HOST_H
#define PLUGIN_HOST_H

#include "Engine/BlockSource.h"

class DynamicLoader;
class Fl_Window;
class Sample;

// Loads a plug-in (a shared object with Create, Run and Destroy entry
// points), keeps the one running and hands the application its block each
// cycle. A plug-in that cannot be used leaves the running one as it was.
class PluginHost : public BlockSource
{
public:
    typedef Fl_Window *(*CreateFunc)();
    typedef Sample *(*RunFunc)();
    typedef void (*DestroyFunc)();

    // A stand-in loader is for tests; by default the real one is used.
    explicit PluginHost(DynamicLoader *loader = nullptr);
    ~PluginHost() override;
    PluginHost(const PluginHost &) = delete;
    PluginHost &operator=(const PluginHost &) = delete;

    bool Load(const char *path);
    bool Link();
    // The "Load Plugin" flow after the chooser: load, link, create, first block.
    bool Start(const char *path);
    void Pause(bool paused) { m_Paused = paused; }
    // Destroys the running plug-in and closes its shared object.
    void Close();

    // Runs the plug-in for this cycle's block; null while none runs or it is paused.
    const Sample *Block() override;
    // What the loops record from: the plug-in's block, or null before one ran.
    const short *Input() const;

    CreateFunc m_Create;
    RunFunc m_Run;
    DestroyFunc m_Destroy;
    void *m_Handle;
    const char *m_LinkError;
    Sample *m_Output;
    Fl_Window *m_Window;
    bool m_Loaded;
    bool m_Linked;
    bool m_Paused;

private:
    DynamicLoader *m_Loader;
};

#endif
