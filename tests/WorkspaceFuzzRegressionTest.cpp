// Replays every workspace kept under tests/data/fuzz-regressions/workspace
// through the code the workspace fuzzer runs (needs the X server).
#include "FuzzRegressionCases.h"
#include "WorkspaceTarget.h"

#include <gtest/gtest.h>

TEST(WorkspaceFuzzRegressionTest, EveryKeptWorkspaceLoadsOrIsRefusedSafely)
{
    std::vector<std::string> cases = FuzzRegressionCases("workspace");
    ASSERT_FALSE(cases.empty());
    for (const std::string &path : cases) {
        std::string bytes = FuzzCaseBytes(path);
        EXPECT_EQ(WorkspaceTarget::Run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()), "") << path;
    }
}
