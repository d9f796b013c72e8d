#ifndef WORKSPACE_TARGET_H
#define WORKSPACE_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>

// One fuzz input as a workspace file loaded into a running application
// (main window built; needs an X server), followed by a few audio cycles and
// a new loop, as a performer would go on. Shared by the fuzzer and the
// regression test.
class WorkspaceTarget
{
public:
    // Returns an empty string when every promise held, else what broke.
    static std::string Run(const uint8_t *data, size_t size);
    // Writes a workspace the program saved itself, as a seed.
    static bool WriteSeed(const std::string &path, int loops);

private:
    static std::string Load(const uint8_t *data, size_t size);
};

#endif
