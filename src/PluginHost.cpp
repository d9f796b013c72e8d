#include "PluginHost.h"

#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"
#include "System/DynamicLoader.h"

#include <FL/Fl_Window.H>

#include <dlfcn.h>

#include <iostream>

PluginHost::PluginHost(DynamicLoader *loader)
    : m_Create(nullptr), m_Run(nullptr), m_Destroy(nullptr), m_Handle(nullptr), m_LinkError(nullptr),
      m_Output(nullptr), m_Window(nullptr), m_Loaded(false), m_Linked(false), m_Paused(false),
      m_Loader(loader)
{
    static DynamicLoader systemLoader;
    if (!m_Loader) m_Loader = &systemLoader;
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
        return false;
    }

    m_Window = window;
    m_Output = output;
    return true;
}

const Sample *PluginHost::Block()
{
    if (!m_Loaded || !m_Linked || m_Paused) return nullptr;
    return m_Run();
}

const short *PluginHost::Input() const
{
    return m_Output ? m_Output->GetBuffer() : nullptr;
}
