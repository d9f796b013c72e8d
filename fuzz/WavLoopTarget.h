#ifndef WAV_LOOP_TARGET_H
#define WAV_LOOP_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>

// One fuzz input as a WAV file loaded into a playing loop, then played and
// edited the way a performer would. Shared by the fuzzer and the regression
// test, so a saved crash input runs through exactly the same path.
class WavLoopTarget
{
public:
    // Returns an empty string when every promise held, else what broke.
    static std::string Run(const uint8_t *data, size_t size);
};

#endif
