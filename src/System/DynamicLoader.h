#ifndef DYNAMIC_LOADER_H
#define DYNAMIC_LOADER_H

// The dynamic loader calls the plug-in host makes. The only place that
// touches dlopen and friends, so tests can stand in for the loader.
class DynamicLoader
{
public:
    virtual ~DynamicLoader() = default;
    virtual void *Open(const char *path, int mode);
    virtual void *Symbol(void *handle, const char *name);
    // The last error text, or null; reading it clears it.
    virtual const char *Error();
    virtual int Close(void *handle);
};

#endif
