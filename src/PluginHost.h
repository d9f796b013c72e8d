#ifndef PLUGIN_HOST_H
#define PLUGIN_HOST_H

#include "Engine/BlockSource.h"
#include "Engine/SpscQueue.h"
#include "KorvelSound/Sample.h"

#include <cstdint>
#include <memory>
#include <string>

class DynamicLoader;
class Fl_Window;

// Loads a plug-in (a shared object with Create, Run and Destroy entry
// points), keeps the one running and hands the application its block each
// cycle. A plug-in that cannot be used leaves the running one as it was.
// A plug-in whose sound may be made on the audio thread also has
// RunRealtime (the block, touching no window) and may have ShowState (its
// window, called on the GUI side at display rate). While the engine runs on
// an audio thread, a plug-in with only Run is run on the GUI side and its
// blocks reach the engine through a ring, a little later.
class PluginHost : public BlockSource
{
public:
    typedef Fl_Window *(*CreateFunc)();
    typedef Sample *(*RunFunc)();
    typedef void (*DestroyFunc)();
    typedef void (*ShowStateFunc)();

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

    // The engine runs on an audio thread (set while the engine is held).
    void SetLive(bool live);
    // GUI side, often: runs a plug-in with only Run ahead into the ring, and
    // shows the state of one that has ShowState.
    void Fill();
    void ShowState();
    bool Realtime() const { return m_RunRealtime != nullptr; }

    CreateFunc m_Create;
    RunFunc m_Run;
    DestroyFunc m_Destroy;
    RunFunc m_RunRealtime;     // optional
    ShowStateFunc m_ShowState; // optional
    void *m_Handle;
    const char *m_LinkError;
    // The shared object the running plug-in came from (a workspace keeps it).
    std::string m_Path;
    Sample *m_Output;
    Fl_Window *m_Window;
    bool m_Loaded;
    bool m_Linked;
    bool m_Paused;

private:
    // Only Run on the GUI side: it is run ahead this many blocks.
    static const int RingBlocks = 8;
    bool Ringed() const { return m_Live && !m_RunRealtime; }

    DynamicLoader *m_Loader;
    bool m_Live;
    // Blocks of a Run-only plug-in, made on the GUI side, copied into
    // m_RingBlock on the audio thread; the slots go round through the queues.
    std::unique_ptr<Sample[]> m_Slots;
    std::unique_ptr<SpscQueue<uint32_t>> m_Free;
    std::unique_ptr<SpscQueue<uint32_t>> m_Full;
    Sample m_RingBlock;
    int64_t m_Starved;
};

#endif
