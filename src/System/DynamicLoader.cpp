#include "System/DynamicLoader.h"

#include <dlfcn.h>

void *DynamicLoader::Open(const char *path, int mode)
{
    return dlopen(path, mode);
}

void *DynamicLoader::Symbol(void *handle, const char *name)
{
    return dlsym(handle, name);
}

const char *DynamicLoader::Error()
{
    return dlerror();
}

int DynamicLoader::Close(void *handle)
{
    return dlclose(handle);
}
