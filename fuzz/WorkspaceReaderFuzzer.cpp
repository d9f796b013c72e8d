#include "WorkspaceReaderTarget.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string problem = WorkspaceReaderTarget::Run(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "WorkspaceReaderTarget: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
