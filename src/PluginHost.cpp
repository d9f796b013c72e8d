#include "PluginHost.h"

#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"
#include "System/DynamicLoader.h"

#include <FL/Fl_Window.H>

#include <dlfcn.h>

#include <algorithm>
#include <iostream>

PluginHost::PluginHost(DynamicLoader *loader)
    : m_Create(nullptr), m_Run(nullptr), m_Destroy(nullptr), m_RunRealtime(nullptr), m_ShowState(nullptr),
      m_Handle(nullptr), m_LinkError(nullptr), m_Output(nullptr), m_Window(nullptr), m_Loaded(false),
      m_Linked(false), m_Paused(false), m_Loader(loader), m_Live(false), m_Slots(new Sample[RingBlocks]),
      m_Free(new SpscQueue<uint32_t>(RingBlocks)), m_Full(new SpscQueue<uint32_t>(RingBlocks)), m_Starved(0)
{
    static DynamicLoader systemLoader;
    if (!m_Loader) m_Loader = &systemLoader;
    m_RingBlock.Allocate(KorvelInfo::BufferSize);
    m_RingBlock.Zero();
    for (uint32_t slot = 0; slot < static_cast<uint32_t>(RingBlocks); slot++) {
        m_Slots[slot].Allocate(KorvelInfo::BufferSize);
        m_Free->TryPush(slot);
    }
}

PluginHost::~PluginHost()
{
    Close();
}

void PluginHost::Close()
{
    if (m_Loaded && m_Linked) {
        m_Destroy();
        m_Loaded = false;
        m_Linked = false;
        m_Loader->Close(m_Handle);
    }
}

bool PluginHost::Load(const char *path)
{
    void *handle = m_Loader->Open(path, RTLD_NOW);
    if (!handle) {
        // A running plug-in keeps its handle, so it is still closed at shutdown.
        std::cerr << "Error loading plugin:" << std::endl;
        const char *error = m_Loader->Error();
        std::cerr << (error ? error : "") << std::flush;
        return false;
    }
    m_Handle = handle;
    m_Loaded = true;
    return true;
}

bool PluginHost::Link()
{
    m_Loader->Error(); // forget any earlier error, so only these look-ups count
    void *destroy = m_Loader->Symbol(m_Handle, "Destroy__Fv");
    void *create = m_Loader->Symbol(m_Handle, "Create__Fv");
    void *run = m_Loader->Symbol(m_Handle, "Run__Fv");
    m_LinkError = m_Loader->Error();
    if (m_LinkError || !destroy || !create || !run) {
        // The entry points of a plug-in already running stay as they were.
        std::cerr << "Error linking to plugin:" << std::endl;
        std::cerr << (m_LinkError ? m_LinkError : "missing entry point") << std::flush;
        return false;
    }
    m_Destroy = reinterpret_cast<DestroyFunc>(destroy);
    m_Create = reinterpret_cast<CreateFunc>(create);
    m_Run = reinterpret_cast<RunFunc>(run);
    // Optional: a plug-in without them is run as it always was.
    m_RunRealtime = reinterpret_cast<RunFunc>(m_Loader->Symbol(m_Handle, "RunRealtime__Fv"));
    m_ShowState = reinterpret_cast<ShowStateFunc>(m_Loader->Symbol(m_Handle, "ShowState__Fv"));
    m_Loader->Error();
    m_Linked = true;
    return true;
}

bool PluginHost::Start(const char *path)
{
    // What was running before, to go back to when the new one cannot be used.
    void *earlierHandle = m_Handle;
    bool earlierLoaded = m_Loaded;
    bool earlierLinked = m_Linked;
    CreateFunc earlierCreate = m_Create;
    RunFunc earlierRun = m_Run;
    DestroyFunc earlierDestroy = m_Destroy;
    RunFunc earlierRealtime = m_RunRealtime;
    ShowStateFunc earlierShowState = m_ShowState;

    if (!Load(path)) return false;
    if (!Link()) {
        m_Loader->Close(m_Handle);
        m_Handle = earlierHandle;
        m_Loaded = earlierLoaded;
        return false;
    }

    Fl_Window *window = m_Create();
    if (window) window->show();
    Sample *output = m_Run();

    // A short block would end the performance at the next mix, so such a
    // plug-in is not used at all.
    if (!output || !output->GetBuffer() || output->GetLength() < KorvelInfo::BufferSize) {
        std::cerr << "Plugin " << path << " gives blocks of " << (output ? output->GetLength() : 0)
                  << " samples, fewer than the " << KorvelInfo::BufferSize << " needed: not used"
                  << std::endl;
        if (window) window->hide();
        m_Destroy();
        m_Loader->Close(m_Handle);
        m_Handle = earlierHandle;
        m_Loaded = earlierLoaded;
        m_Linked = earlierLinked;
        m_Create = earlierCreate;
        m_Run = earlierRun;
        m_Destroy = earlierDestroy;
        m_RunRealtime = earlierRealtime;
        m_ShowState = earlierShowState;
        return false;
    }

    m_Window = window;
    m_Output = output;
    m_Path = path;
    return true;
}

const Sample *PluginHost::Block()
{
    if (!m_Loaded || !m_Linked || m_Paused) return nullptr;
    if (!m_Live) return m_Run();
    if (m_RunRealtime) return m_RunRealtime();
    uint32_t slot = 0;
    if (!m_Full->TryPop(slot)) {
        m_Starved++;
        return nullptr;
    }
    const Sample &made = m_Slots[slot];
    std::copy(made.m_Data, made.m_Data + made.m_Length, m_RingBlock.m_Data);
    m_Free->TryPush(slot);
    return &m_RingBlock;
}

const short *PluginHost::Input() const
{
    if (Ringed()) return m_RingBlock.GetBuffer();
    return m_Output ? m_Output->GetBuffer() : nullptr;
}

void PluginHost::SetLive(bool live)
{
    m_Live = live;
}

void PluginHost::Fill()
{
    if (!Ringed() || !m_Loaded || !m_Linked || m_Paused) return;
    uint32_t slot = 0;
    while (m_Free->TryPop(slot)) {
        const Sample *made = m_Run();
        Sample &into = m_Slots[slot];
        if (made && made->m_Data && made->m_Length >= into.m_Length)
            std::copy(made->m_Data, made->m_Data + into.m_Length, into.m_Data);
        else
            into.Zero();
        m_Full->TryPush(slot);
    }
}

void PluginHost::ShowState()
{
    if (m_Live && m_ShowState && m_Loaded && m_Linked) m_ShowState();
}
