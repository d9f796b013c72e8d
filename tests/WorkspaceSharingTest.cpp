// Workspaces shared by two instances of the program, and reached through
// symbolic links.
#include "AppTestFixture.h"
#include "LimitedDisk.h"
#include "RunTogether.h"
#include "TestSupport.h"
#include "Workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

class WorkspaceSharingTest : public AppTest
{
protected:
    // Three loops of long sounds of value, at speed value; only the first
    // call makes windows, so a child of the test may call it again.
    void Perform(int value)
    {
        while (m_App->m_Loops.size() < 3)
            m_App->NewLoop();
        for (auto &item : m_App->m_Loops) {
            FillLoop(item.first, 300000, [=](int) { return value; });
            LoopAt(item.first)->m_Speed = static_cast<float>(value);
        }
    }
};

} // namespace

TEST_F(WorkspaceSharingTest, TwoProgramsSavingOneWorkspaceLeaveOneWholeSave)
{
    TempDir dir;
    const std::string path = dir.File("jam.lws");
    Perform(0);
    // Each save goes through, or says in one line that it waited in vain.
    EXPECT_TRUE(RunTogether(2, [&](int which) {
        const std::string said = dir.File("said" + std::to_string(which));
        Perform(which + 1);
        if (!std::freopen(said.c_str(), "w", stderr)) return false;
        bool saved = true;
        for (int round = 0; round < 3; round++)
            saved = Workspace::SaveTo(m_App.get(), path) && saved;
        const std::string text = ReadFileBytes(said);
        long refusals = 0;
        for (size_t at = 0; (at = text.find("is being saved by another program", at)) != std::string::npos;
             at++)
            refusals++;
        return std::count(text.begin(), text.end(), '\n') == refusals && saved == text.empty();
    }));

    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), path));
    ASSERT_EQ(m_App->m_Loops.size(), 3u);
    const float value = LoopAt(0)->m_Speed;
    EXPECT_TRUE(value == 1 || value == 2);
    for (auto &item : m_App->m_Loops) {
        Loop *loop = item.second->m_Loop;
        EXPECT_EQ(loop->m_Speed, value);
        EXPECT_EQ(loop->m_StoreBuffer.GetLength(), 300000);
        EXPECT_EQ(loop->m_StoreBuffer[299999], value) << item.first;
    }
    for (const std::string &name : FolderEntries(dir.Path()))
        EXPECT_TRUE(name.find(".tmp") == std::string::npos && name.find(".lock") == std::string::npos)
            << name;

    // A save of the version before, cut short: its temporaries all end ".tmp".
    m_App->ClearLoops();
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), dir.File("empty.lws")));
    ASSERT_EQ(rename(dir.File("empty.lws").c_str(), (path + ".tmp").c_str()), 0);
    WriteFileBytes(path + ".saving", "end\n");
    Perform(1);
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), path));
    EXPECT_TRUE(m_App->m_Loops.empty());
}

TEST_F(WorkspaceSharingTest, WorkspaceReachedThroughALinkIsItsTarget)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    const std::string link = dir.File("sub/link.lws");
    m_App->NewLoop();
    FillLoop(0, 500, [](int) { return 7; });
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), dir.File("real.lws")));
    ASSERT_EQ(symlink("../real.lws", link.c_str()), 0);

    m_App->ClearLoops();
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), link));
    ASSERT_EQ(m_App->m_Loops.size(), 1u);
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer.GetLength(), 500);

    // A save through the link writes the target and keeps the link.
    FillLoop(0, 300, [](int) { return 9; });
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), link));
    struct stat info;
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(FolderEntries(dir.File("sub")), std::vector<std::string>{"link.lws"});
    m_App->ClearLoops();
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), dir.File("real.lws")));
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer.GetLength(), 300);
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer[0], 9);
}
