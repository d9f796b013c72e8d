#ifndef WORKSPACE_TEST_FIXTURE_H
#define WORKSPACE_TEST_FIXTURE_H

#include "AppTestFixture.h"
#include "TestSupport.h"
#include "Workspace.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include <dirent.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

// What the workspace tests share: the saved file's token positions, ways to
// look at it and at the folder, and the fixture.

// Token positions in a saved file: five header words, the master delay (3)
// and reverb (4), four master values, then the loop count and the entries.
const size_t CountToken = 16;
const size_t FirstEntryToken = 17;
const size_t EntryTokens = 30; // without markers
const size_t SpeedInEntry = 8; // entry number, then the loop record's m_ID ... m_Speed

inline std::vector<std::string> Tokens(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> tokens;
    std::string token;
    while (in >> token)
        tokens.push_back(token);
    return tokens;
}

inline std::set<std::string> FilesIn(const std::string &dir)
{
    std::set<std::string> names;
    DIR *listing = opendir(dir.c_str());
    while (dirent *entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    closedir(listing);
    return names;
}

inline int ShownWindowsLabelled(const std::string &label)
{
    int found = 0;
    for (Fl_Window *window = Fl::first_window(); window; window = Fl::next_window(window))
        if (window->label() && label == window->label()) found++;
    return found;
}

class WorkspaceTest : public AppTest
{
protected:
    std::string Lws(const std::string &name = "a.lws") const { return m_Dir.File(name); }

    // Loops numbered first and second; the first has a short sound.
    void MakeLoops(int first, int second)
    {
        m_App->m_NextID = first;
        m_App->NewLoop();
        FillLoop(first, 1000, [](int i) { return i * 7 - 3000; });
        m_App->m_NextID = second;
        m_App->NewLoop();
    }

    // Loads path expecting a refusal; returns what was printed.
    std::string RefusedLoad(const std::string &path)
    {
        testing::internal::CaptureStderr();
        bool loaded = Workspace::LoadFrom(m_App.get(), path);
        std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(loaded) << path;
        return printed;
    }

    TempDir m_Dir;
};

#endif
