#include "WorkspaceTestFixture.h"

#include "GUI/FileChooser.h"
#include "GUI/Fl_Loop.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "System/FileSystem.h"

#include <FL/Fl.H>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <locale>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Join(const std::vector<std::string> &tokens)
{
    std::string text;
    for (const std::string &token : tokens)
        text += token + ' ';
    return text;
}

bool IsDirectory(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int Lines(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Kills the process at its nth rename or folder flush: a save cut short there.
struct KillingFileSystem : FileSystem
{
    explicit KillingFileSystem(int at) : m_Left(at) {}
    bool Rename(const std::string &from, const std::string &to) override
    {
        return Step() && FileSystem::Rename(from, to);
    }
    bool SyncFolder(const std::string &folder) override { return Step() && FileSystem::SyncFolder(folder); }
    bool Step()
    {
        if (--m_Left == 0) raise(SIGKILL);
        return true;
    }
    int m_Left;
};

// A number format no workspace may be written in.
class CommaNumbers : public std::numpunct<char>
{
protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

} // namespace

TEST_F(WorkspaceTest, DamagedFilesChangeNothing)
{
    m_App->NewLoop();
    FillLoop(0, 1000, [](int) { return 5; });
    PanelAt(0)->NewTrigger()->m_Angle = 45;
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("good.lws")));
    const std::vector<std::string> good = Tokens(ReadFileBytes(Lws("good.lws")));
    ASSERT_EQ(good.size(), FirstEntryToken + EntryTokens + 10);

    // What the performer has when the damaged files come.
    m_App->NewLoop();
    LoopAt(1)->m_Speed = 2.0f;
    Loop *loop0 = LoopAt(0), *loop1 = LoopAt(1);
    m_App->m_MasterLength = 77.0f;
    m_App->m_Delay.m_Feedback = 0.9f;
    const int nextID = m_App->m_NextID;

    auto expectUnchanged = [&](const std::string &what) {
        std::string path = Lws("bad.lws");
        std::string printed = RefusedLoad(path);
        EXPECT_EQ(Lines(printed), 1) << what << ": " << printed;
        EXPECT_NE(printed.find(path), std::string::npos) << what << ": " << printed;
        ASSERT_EQ(m_App->m_Loops.size(), 2u) << what;
        EXPECT_EQ(LoopAt(0), loop0) << what;
        EXPECT_EQ(LoopAt(1), loop1) << what;
        EXPECT_EQ(PanelAt(0)->m_Triggers.size(), 1u) << what;
        EXPECT_EQ(m_App->m_NextID, nextID) << what;
        EXPECT_EQ(m_App->m_MasterLength, 77.0f) << what;
        EXPECT_EQ(m_App->m_Delay.m_Feedback, 0.9f) << what;
        EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 0"), 1) << what;
    };

    // Cut after any token but the last: the file ends early.
    for (size_t kept = 0; kept + 1 < good.size(); kept++) {
        WriteFileBytes(Lws("bad.lws"), Join(std::vector<std::string>(good.begin(), good.begin() + kept)));
        expectUnchanged("cut after " + std::to_string(kept) + " tokens");
    }

    struct Damage
    {
        const char *what;
        size_t token;
        const char *value;
    };
    const Damage damages[] = {
        {"word for the version", 4, "one"},
        {"word for a number", FirstEntryToken + SpeedInEntry, "fast"},
        {"bool out of range", FirstEntryToken + 5, "2"},
        {"loop count far beyond the file", CountToken, "2000000000"},
        {"loop count beyond the int range", CountToken, "99999999999"},
        {"negative loop count", CountToken, "-1"},
        {"marker count far beyond the file", FirstEntryToken + 29, "1000000000"},
        {"negative marker count", FirstEntryToken + 29, "-3"},
        {"window of no width", FirstEntryToken + 27, "0"},
        {"negative play length", FirstEntryToken + 7, "-5"},
        {"negative hold index", FirstEntryToken + 4, "-1"},
        {"largest loop number", FirstEntryToken, "2147483647"},
        {"negative loop number", FirstEntryToken, "-1"},
        {"negative master length", 12, "-1000"},
        {"master length beyond the int range", 12, "3e9"},
        {"negative master speed", 13, "-3"},
        {"master speed beyond the knob", 13, "1e38"},
        {"window wider than X can take", FirstEntryToken + 27, "40000"},
        {"marker centre far outside the window", FirstEntryToken + 30, "2000000000"},
        {"marker angle far beyond a turn", FirstEntryToken + 37, "1e30"},
    };
    for (const Damage &damage : damages) {
        std::vector<std::string> tokens = good;
        tokens[damage.token] = damage.value;
        WriteFileBytes(Lws("bad.lws"), Join(tokens));
        expectUnchanged(damage.what);
    }

    // An extra loop promised but missing.
    std::vector<std::string> tokens = good;
    tokens[CountToken] = "2";
    WriteFileBytes(Lws("bad.lws"), Join(tokens));
    expectUnchanged("count one too many");

    WriteFileBytes(Lws("bad.lws"), "");
    expectUnchanged("empty file");

    // A path that opens but cannot be read.
    ASSERT_EQ(std::remove(Lws("bad.lws").c_str()), 0);
    ASSERT_EQ(mkdir(Lws("bad.lws").c_str(), 0700), 0);
    expectUnchanged("a folder");

    // A file that is not there is reported too, and changes nothing either.
    std::string printed = RefusedLoad(Lws("missing.lws"));
    EXPECT_NE(printed.find(Lws("missing.lws")), std::string::npos);
    EXPECT_EQ(m_App->m_Loops.size(), 2u);
}

TEST_F(WorkspaceTest, RepeatedLoopNumberKeepsTheLaterLoopAndOneWindow)
{
    MakeLoops(4, 7);
    LoopAt(4)->m_Speed = 0.5f;
    LoopAt(7)->m_Speed = 2.0f;
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    std::vector<std::string> tokens = Tokens(ReadFileBytes(Lws()));
    tokens[FirstEntryToken + EntryTokens] = "4";
    tokens[FirstEntryToken + EntryTokens + 1] = "4";
    WriteFileBytes(Lws(), Join(tokens));

    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), Lws()));
    Fl::check();
    ASSERT_EQ(m_App->m_Loops.size(), 1u);
    EXPECT_FLOAT_EQ(LoopAt(4)->m_Speed, 2.0f);
    EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 4"), 1);
    EXPECT_EQ(ShownWindowsLabelled("KorvelLoop 7"), 0);
}

TEST_F(WorkspaceTest, FailedSaveSaysSoAndKeepsTheOldFiles)
{
    MakeLoops(0, 1);
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("old.lws")));
    const std::string oldText = ReadFileBytes(Lws("old.lws"));
    const std::string oldWav = ReadFileBytes(Workspace::CompanionName(Lws("old.lws"), 0));
    LoopAt(0)->m_Speed = 2.5f;
    FillLoop(0, 10, [](int) { return 1; });

    // Something in the way of a new file: a folder where loop 1's file goes.
    const std::string loop1 = Workspace::CompanionName(Lws("old.lws"), 1);
    ASSERT_EQ(unlink(loop1.c_str()), 0);
    ASSERT_EQ(mkdir(loop1.c_str(), 0700), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), Lws("old.lws")));
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(printed), 1) << printed;
    EXPECT_NE(printed.find(Lws("old.lws")), std::string::npos) << printed;
    EXPECT_EQ(ReadFileBytes(Lws("old.lws")), oldText);
    EXPECT_EQ(ReadFileBytes(Workspace::CompanionName(Lws("old.lws"), 0)), oldWav);

    // A directory where the workspace should go: nothing of the new save stays.
    ASSERT_EQ(mkdir(m_Dir.File("dir.lws").c_str(), 0700), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), Lws("dir.lws")));
    printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(printed), 1) << printed;
    EXPECT_NE(printed.find(Lws("dir.lws")), std::string::npos) << printed;
    EXPECT_TRUE(IsDirectory(Lws("dir.lws")));
    EXPECT_EQ(FilesIn(m_Dir.Path()),
              (std::set<std::string>{"old.lws", "oldLoop0.wav", "oldLoop1.wav", "dir.lws"}));

    // A folder that does not exist.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), m_Dir.File("nowhere/x.lws")));
    EXPECT_EQ(Lines(testing::internal::GetCapturedStderr()), 1);
}

TEST_F(WorkspaceTest, PathsTooShortForTheLoopFileNamesAreRefused)
{
    m_App->NewLoop();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Workspace::SaveTo(m_App.get(), "a.l"));
    EXPECT_FALSE(Workspace::LoadFrom(m_App.get(), "a.l"));
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(printed), 2) << printed;
    EXPECT_NE(printed.find("[a.l]"), std::string::npos) << printed;
    EXPECT_FALSE(FileExists("a.l"));
    EXPECT_FALSE(FileExists("a.l.tmp"));
    EXPECT_EQ(m_App->m_Loops.size(), 1u);
}

TEST_F(WorkspaceTest, NumbersAreWrittenAndReadInTheClassicLocale)
{
    m_App->NewLoop();
    LoopAt(0)->m_Speed = 1.25f;
    LoopAt(0)->m_Filter.m_Cutoff = 10010;
    PanelAt(0)->NewTrigger()->m_Angle = 1234.5f;

    std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    bool savedOK = Workspace::SaveTo(m_App.get(), Lws());
    m_App->ClearLoops();
    bool loadedOK = Workspace::LoadFrom(m_App.get(), Lws());
    std::locale::global(saved);

    ASSERT_TRUE(savedOK);
    ASSERT_TRUE(loadedOK);
    std::string text = ReadFileBytes(Lws());
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    EXPECT_NE(text.find(" 1.25 "), std::string::npos) << text;
    EXPECT_NE(text.find(" 10010 "), std::string::npos) << text;
    EXPECT_NE(text.find(" 1234.5 "), std::string::npos) << text;
    EXPECT_FLOAT_EQ(LoopAt(0)->m_Speed, 1.25f);
    EXPECT_FLOAT_EQ(PanelAt(0)->m_Triggers.at(0)->m_Angle, 1234.5f);
}

TEST_F(WorkspaceTest, CountsBeyondWhatTheRecordsHoldBuildNothing)
{
    m_App->NewLoop();
    PanelAt(0)->NewTrigger();
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws()));
    std::vector<std::string> tokens = Tokens(ReadFileBytes(Lws()));
    m_App->ClearLoops();

    // Straight through the operators: the stream is refused before a single
    // window or marker is made for the promised records.
    std::vector<std::string> records(tokens.begin() + 5, tokens.end());
    records[CountToken - 5] = "2";
    std::istringstream app(Join(records));
    app >> *m_App;
    EXPECT_TRUE(app.fail());
    EXPECT_TRUE(m_App->m_Loops.empty());

    m_App->NewLoop();
    LoopGUI *panel = PanelAt(1);
    const int children = panel->m_Display->children();
    std::istringstream markers("10 20 300 300 2 150 150 125 0 1 0 0 45 10 10 ");
    markers >> *panel;
    EXPECT_TRUE(markers.fail());
    EXPECT_TRUE(panel->m_Triggers.empty());
    EXPECT_EQ(panel->m_Display->children(), children);
    EXPECT_EQ(panel->m_Display->x(), 0); // not moved either
}

TEST_F(WorkspaceTest, WorkspacesNamedWithoutLwsKeepTheirOwnLoopFiles)
{
    m_App->NewLoop();
    for (int value : {1, 2}) {
        FillLoop(0, 600, [=](int) { return value; });
        ASSERT_TRUE(Workspace::SaveTo(m_App.get(), m_Dir.File("set" + std::to_string(value))));
    }
    ASSERT_TRUE(Workspace::SaveTo(m_App.get(), Lws("set1.lws")));
    ASSERT_TRUE(Workspace::LoadFrom(m_App.get(), m_Dir.File("set1")));
    EXPECT_EQ(LoopAt(0)->m_StoreBuffer[0], 1);
    EXPECT_EQ(FilesIn(m_Dir.Path()), (std::set<std::string>{"set1", "set1-loop-0.wav", "set2",
                                                            "set2-loop-0.wav", "set1.lws", "set1Loop0.wav"}));
}

TEST_F(WorkspaceTest, SaveKilledAtAnyStepLeavesTheOldOrTheNewPerformance)
{
    const std::string path = Lws("jam.lws");
    const std::string completed = "Completed a workspace save that was cut short [" + path + "]\n";
    // The old performance has loops 0 and 1, the new one 0 to 2; all their
    // sounds and speeds are 1 in the old, 2 in the new.
    auto perform = [&](int value) {
        m_App->ClearLoops();
        m_App->m_NextID = 0;
        for (int id = 0; id <= value; id++) {
            m_App->NewLoop();
            FillLoop(id, 1000, [=](int) { return value; });
            LoopAt(id)->m_Speed = static_cast<float>(value);
        }
    };
    auto loaded = [&](int value) {
        bool whole = m_App->m_Loops.size() == static_cast<size_t>(value + 1);
        for (auto &item : m_App->m_Loops)
            whole = whole && item.second->m_Loop->m_Speed == value &&
                    item.second->m_Loop->m_StoreBuffer[999] == value;
        return whole;
    };
    std::vector<std::string> outcomes;
    for (int step = 1, status = -1; step < 20 && !WIFEXITED(status); step++) {
        perform(1);
        ASSERT_TRUE(Workspace::SaveTo(m_App.get(), path));
        perform(2);
        pid_t child = fork();
        if (child == 0) {
            KillingFileSystem killer(step);
            FileSystem::SetCurrent(&killer);
            _exit(Workspace::SaveTo(m_App.get(), path) ? 0 : 1);
        }
        ASSERT_EQ(waitpid(child, &status, 0), child);
        testing::internal::CaptureStderr();
        bool read = Workspace::LoadFrom(m_App.get(), path);
        std::string printed = testing::internal::GetCapturedStderr();
        std::string outcome = !read ? printed : loaded(1) ? "old" : loaded(2) ? "new" : "mixed";
        // Only a save stopped between its journal and its end is completed.
        if (printed == completed) outcome += " completed";
        outcomes.push_back(outcome);
    }
    // Flush, journal and flush, the three loop files, the workspace, flush,
    // journal gone and flush, done.
    EXPECT_EQ(outcomes,
              std::vector<std::string>({"old", "new completed", "new completed", "new completed",
                                        "new completed", "new completed", "new completed", "new", "new"}));
}
