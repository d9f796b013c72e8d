// Writes workspaces the program saves itself (with their loop files), as
// seeds for the workspace fuzzer. Needs an X server.
// Usage: fuzz-workspace-seeds <corpus folder>
#include "WorkspaceTarget.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " <corpus folder>" << std::endl;
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    for (int loops : {0, 1, 3}) {
        std::string path = dir + "/saved-" + std::to_string(loops) + "-loops.lws";
        ok = WorkspaceTarget::WriteSeed(path, loops) && ok;
        // Only the text is fuzzed; its loop files are left out of the corpus.
        for (int id = 0; id < 8; id++) std::remove((dir + "/saved-" + std::to_string(loops) + "-loopsLoop" +
                                                    std::to_string(id) + ".wav").c_str());
    }
    std::_Exit(ok ? 0 : 1);
}
