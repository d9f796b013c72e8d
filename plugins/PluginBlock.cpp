#include "PluginBlock.h"

#include "KorvelSound/Sample.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

static_assert(std::is_standard_layout<Sample>::value && std::is_standard_layout<PluginBlock>::value,
              "the host reads the block through its Sample layout");
static_assert(offsetof(Sample, m_Data) == offsetof(PluginBlock, m_Data), "data pointer must come first");
static_assert(offsetof(Sample, m_Length) == offsetof(PluginBlock, m_Length), "length must follow the data");
static_assert(sizeof(Sample::m_Length) == sizeof(PluginBlock::m_Length), "length is a 64-bit count");

PluginBlock::PluginBlock(int length)
    : m_Data(new short[length > 0 ? length : 1]), m_Length(length > 0 ? length : 0)
{
    Zero();
}

PluginBlock::~PluginBlock()
{
    delete[] m_Data;
}

void PluginBlock::Zero()
{
    std::memset(m_Data, 0, static_cast<size_t>(m_Length) * sizeof(short));
}

Sample *PluginBlock::AsSample()
{
    return reinterpret_cast<Sample *>(this);
}
