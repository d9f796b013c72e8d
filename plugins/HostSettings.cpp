#include "HostSettings.h"

#include <dlfcn.h>

namespace {

// Mangled names of KorvelInfo's static members, as the program exports them.
const char *const BufferSizeSymbol = "_ZN10KorvelInfo10BufferSizeE";
const char *const SamplerateSymbol = "_ZN10KorvelInfo10SamplerateE";
// The string carries the library's ABI tag, so a plug-in built against another
// string layout cannot find it and keeps the default.
const char *const OutputDeviceSymbol = "_ZN10KorvelInfo12OutputDeviceB5cxx11E";

const char *const InputBlockSymbol = "KorvelLoops_InputBlock";

int HostInt(const char *symbol, int fallback, int max)
{
    const int *value = static_cast<const int *>(dlsym(RTLD_DEFAULT, symbol));
    if (!value || *value < 1 || *value > max) return fallback;
    return *value;
}

} // namespace

int HostSettings::BlockSize()
{
    return HostInt(BufferSizeSymbol, DefaultBlockSize, MaxBlockSize);
}

int HostSettings::Samplerate()
{
    return HostInt(SamplerateSymbol, DefaultSamplerate, MaxSamplerate);
}

std::string HostSettings::Device()
{
    const std::string *device = static_cast<const std::string *>(dlsym(RTLD_DEFAULT, OutputDeviceSymbol));
    if (!device || device->empty()) return "/dev/dsp";
    return *device;
}

HostSettings::InputBlockFunc HostSettings::InputBlock()
{
    return reinterpret_cast<InputBlockFunc>(dlsym(RTLD_DEFAULT, InputBlockSymbol));
}
