#ifndef WORKSPACE_READER_TARGET_H
#define WORKSPACE_READER_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>

// One fuzz input as a workspace file's text, read by WorkspaceReader alone:
// no window, no loop, so the fuzzer covers the reader thousands of times a
// second. What it accepts, written back as the program writes workspaces,
// must read again and write the same text. Shared by the fuzzer and the
// regression test.
class WorkspaceReaderTarget
{
public:
    // Returns an empty string when every promise held, else what broke.
    static std::string Run(const uint8_t *data, size_t size);
};

#endif
