#ifndef PLUGIN_BLOCK_H
#define PLUGIN_BLOCK_H

#include <cstdint>

class Sample;

// The block a plug-in hands to the host each cycle. The host reads it as its
// own Sample and uses only the data pointer and the length, so these two come
// first and in Sample's order (checked where the block is defined). A plug-in
// therefore needs nothing of the program at link time.
class PluginBlock
{
public:
    explicit PluginBlock(int length);
    ~PluginBlock();
    PluginBlock(const PluginBlock &) = delete;
    PluginBlock &operator=(const PluginBlock &) = delete;

    void Zero();
    // What Run__Fv returns: the same address, with the same data, every call.
    Sample *AsSample();

    short *m_Data;
    int64_t m_Length;
};

#endif
