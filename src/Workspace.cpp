#include "Workspace.h"

#include "GUI/FileChooser.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "KorvelSound/WavFile.h"
#include "Loop.h"
#include "LoopsApp.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>
#include <vector>

const char *Workspace::Header = "KorvelLoops WorkSpace File Ver 1";

namespace {

// Files only this version and older ones wrote can be read.
const int FileVersion = 1;
// The ".lws" that the companion names replace.
const size_t ExtensionLength = 4;
const char *TempSuffix = ".tmp";

bool PathTooShort(const std::string &path)
{
    if (path.size() >= ExtensionLength) return false;
    std::cerr << "Workspace path too short to name its loop files [" << path << "]" << std::endl;
    return true;
}

// Reads the four header words and the version; false when they are not there.
bool ReadHeader(std::istream &in, int &version)
{
    std::string word;
    for (int i = 0; i < 4; i++)
        in >> word;
    return static_cast<bool>(in >> version);
}

// The whole file as text; false with the reason when it cannot be read. A
// folder opens like a file and fails only on reading, where a stream would
// throw from inside its buffer.
bool ReadWholeFile(const std::string &path, std::string &text, std::string &reason)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    bool failed = std::ferror(file) != 0;
    if (failed) reason = std::strerror(errno);
    std::fclose(file);
    return !failed;
}

// Walks every record of the file into scratch objects, so that a file that
// ends early or holds a wrong value is found before any loop is touched.
bool RecordsReadCompletely(std::istream &in, LoopsApp *app)
{
    Delay delay;
    Reverb reverb;
    float length = 0, speed = 0, period = 0;
    int masterID = 0;
    long long count = 0;
    in >> delay >> reverb >> length >> speed >> period >> masterID >> count;
    if (!in || !Workspace::CountFits(in, count, Workspace::LoopEntryValues)) return false;

    Loop loop(app);
    LoopGUI panel(&loop, &loop.m_Delay, &loop.m_Reverb);
    for (long long i = 0; i < count && in; i++) {
        int id = 0;
        in >> id >> loop >> panel;
        // This panel has no window to own the markers it read.
        for (Fl_Trigger *trigger : panel.m_Triggers)
            delete trigger;
        panel.m_Triggers.clear();
        if (id == std::numeric_limits<int>::max()) return false;
    }
    return static_cast<bool>(in);
}

// A loop whose WAV file was missing keeps the stored play length over an
// empty or shorter recording; the display and the editing operations must
// never reach past the sound.
void FitToSound(Loop *loop)
{
    int64_t total = loop->m_StoreBuffer.GetLength();
    if (loop->m_LoopLength > total) loop->m_LoopLength = total;
    if (loop->m_Pos < 0 || loop->m_Pos > static_cast<float>(total)) loop->m_Pos = 0;
}

// unlink, not remove: whatever was in the way of a temporary name, a
// directory above all, is not ours to delete.
void RemoveFiles(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths)
        unlink(path.c_str());
}

bool WriteText(LoopsApp *app, const std::string &path)
{
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) return false;
    out.imbue(std::locale::classic());
    out << Workspace::Header << '\n' << *app;
    out.flush();
    out.close();
    return !out.fail();
}

bool WriteSound(Loop *loop, const std::string &path)
{
    WavFile wav;
    // The caller's one line names the workspace; the temporary loop file's
    // name would only puzzle.
    wav.ReportWriteErrors(false);
    if (!wav.Open(path, WavFile::WRITE, WavFile::MONO)) return false;
    // An empty loop gives a header-only file; Save writes nothing for it.
    bool saved = loop->m_StoreBuffer.GetLength() == 0 || wav.Save(loop->m_StoreBuffer);
    bool closed = wav.Close() != 0;
    return saved && closed;
}

} // namespace

std::string Workspace::CompanionName(const std::string &path, int id)
{
    char number[16];
    std::snprintf(number, sizeof number, "%d", id);
    return path.substr(0, path.size() - ExtensionLength) + "Loop" + number + ".wav";
}

bool Workspace::CountFits(std::istream &in, long long count, int valuesPerRecord)
{
    if (count < 0) return false;
    if (count == 0) return true;
    // Workspaces are read from strings and files, which can tell how much
    // is left; a stream that cannot (or one already at its end) holds nothing.
    std::streampos here = in.tellg();
    if (here == std::streampos(-1)) return false;
    in.seekg(0, std::ios::end);
    std::streampos end = in.tellg();
    in.seekg(here);
    if (end == std::streampos(-1) || !in) return false;
    // Every value takes at least one character and one separator.
    long long left = static_cast<long long>(end - here);
    return count <= (left + 1) / (2LL * valuesPerRecord);
}

void Workspace::Save(LoopsApp *app)
{
    std::string path = FileChooser::Current()->Ask("Save a Workspace", "*.lws");
    if (path.empty()) return;
    SaveTo(app, path);
}

void Workspace::Load(LoopsApp *app)
{
    std::string path = FileChooser::Current()->Ask("Load a Workspace", "*.lws");
    if (path.empty()) return;
    LoadFrom(app, path);
}

bool Workspace::SaveTo(LoopsApp *app, const std::string &path)
{
    if (PathTooShort(path)) return false;

    // Old files are replaced only once every new one is complete, so a
    // failure half-way still leaves the previous performance whole.
    std::string textTemp = path + TempSuffix;
    std::vector<std::string> temps{textTemp};
    std::vector<std::string> targets{path};
    bool written = WriteText(app, textTemp);
    for (auto &item : app->m_Loops) {
        if (!written) break;
        std::string target = CompanionName(path, item.first);
        temps.push_back(target + TempSuffix);
        targets.push_back(target);
        written = WriteSound(item.second->m_Loop, temps.back());
    }
    if (!written) {
        RemoveFiles(temps);
        std::cerr << "Workspace not saved, the old files are kept [" << path << "]" << std::endl;
        return false;
    }

    // The workspace goes first: if it cannot take its place, nothing has.
    if (std::rename(textTemp.c_str(), path.c_str()) != 0) {
        std::string reason = std::strerror(errno);
        RemoveFiles(temps);
        std::cerr << "Workspace not saved (" << reason << "), the old files are kept [" << path << "]"
                  << std::endl;
        return false;
    }
    bool placed = true;
    for (size_t i = 1; i < temps.size(); i++) {
        if (std::rename(temps[i].c_str(), targets[i].c_str()) != 0) {
            std::cerr << "Loop file not saved (" << std::strerror(errno) << ") [" << targets[i] << "]"
                      << std::endl;
            unlink(temps[i].c_str());
            placed = false;
        }
    }
    return placed;
}

bool Workspace::LoadFrom(LoopsApp *app, const std::string &path)
{
    if (PathTooShort(path)) return false;

    std::string text, reason;
    if (!ReadWholeFile(path, text, reason)) {
        std::cerr << "Can't read workspace file (" << reason << ") [" << path << "]" << std::endl;
        return false;
    }

    std::istringstream check(text);
    check.imbue(std::locale::classic());
    int version = 0;
    bool headerRead = ReadHeader(check, version);
    if (headerRead && version > FileVersion) {
        std::cerr << "Bad file, or more recent version." << std::endl;
        return false;
    }
    if (!headerRead || !RecordsReadCompletely(check, app)) {
        std::cerr << "Bad workspace file, nothing loaded [" << path << "]" << std::endl;
        return false;
    }

    // The file has read completely once already, so this pass cannot fail.
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    ReadHeader(in, version);
    app->ClearLoops();
    in >> *app;

    for (auto &item : app->m_Loops) {
        Loop *loop = item.second->m_Loop;
        LoopGUI *panel = item.second->m_GUI;
        loop->LoadWav(CompanionName(path, item.first));
        FitToSound(loop);
        // A loaded performance starts with nothing to undo.
        loop->m_History.Clear();
        panel->UpdateDataPtr();
        // The display was built with the stored play length, which the
        // recording may have shortened.
        panel->Refresh();
        panel->UpdateValues();
    }
    app->m_DelayGUI.UpdateValues();
    app->m_ReverbGUI.UpdateValues();
    return true;
}
