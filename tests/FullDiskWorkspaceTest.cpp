// Saving a workspace onto a disk that fills up keeps the saved performance
// (text and loop files) exactly as it was, says so in one line and leaves no
// temporary file.
#include "AppTestFixture.h"
#include "LimitedDisk.h"
#include "Workspace.h"

namespace {

class FullDiskWorkspaceTest : public AppTest
{
};

} // namespace

TEST_F(FullDiskWorkspaceTest, FailedSaveKeepsTheSavedPerformance)
{
    TempDir dir;
    const std::string path = dir.File("jam.lws");
    m_App->NewLoop();
    m_App->NewLoop();
    FillLoop(0, 1000, [](int i) { return i; });
    FillLoop(1, 500, [](int i) { return -i; });
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), path));
    const std::vector<std::string> files = FolderEntries(dir.Path());
    ASSERT_EQ(files, std::vector<std::string>({"jam.lws", "jamLoop0.wav", "jamLoop1.wav"}));
    std::vector<std::string> saved;
    for (const std::string &name : files) saved.push_back(ReadFileBytes(dir.File(name)));

    // The second loop grows past what the disk takes.
    FillLoop(1, 200000, [](int i) { return i % 1000; });
    LimitedRun run = RunWithFileLimit(128 * 1024, [&] {
        bool saved = Workspace::SaveTo(m_App.get(), path);
        std::cerr << (saved ? "saved" : "not saved") << std::endl;
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "Workspace not saved, the old files are kept [" + path + "]\nnot saved\n");
    EXPECT_EQ(FolderEntries(dir.Path()), files);
    for (size_t i = 0; i < files.size(); i++) EXPECT_EQ(ReadFileBytes(dir.File(files[i])), saved[i]) << files[i];
}
