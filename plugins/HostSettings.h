#ifndef HOST_SETTINGS_H
#define HOST_SETTINGS_H

#include <string>

// The program settings a plug-in must agree with. The program exports its
// symbols, so they are looked up in the running process; in a host that does
// not export them the program's built-in defaults hold.
class HostSettings
{
public:
    static const int DefaultBlockSize = 512;
    static const int DefaultSamplerate = 44100;
    static const int MaxBlockSize = 65536;
    static const int MaxSamplerate = 384000;

    // Frames per block: the host's KorvelInfo::BufferSize.
    static int BlockSize();
    // Frames per second: the host's KorvelInfo::Samplerate.
    static int Samplerate();
    // The sound device path: the host's KorvelInfo::OutputDevice.
    static std::string Device();

    typedef const short *(*InputBlockFunc)();
    // The host's function giving its JACK input block of the cycle
    // (BlockSize() values), or null; the function itself returns null when
    // the host does not play through JACK.
    static InputBlockFunc InputBlock();
};

#endif
