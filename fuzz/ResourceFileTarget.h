#ifndef RESOURCE_FILE_TARGET_H
#define RESOURCE_FILE_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>

// One fuzz input read as the resource file. The settings it leaves must be
// usable (block size and granularity are divisors and buffer lengths) and
// must survive being written and read again; the settings in force before
// are put back afterwards.
class ResourceFileTarget
{
public:
    // Returns an empty string when every promise held, else what broke.
    static std::string Run(const uint8_t *data, size_t size);
};

#endif
