#include "Workspace.h"

#include "FileSystem.h"
#include "GUI/FileChooser.h"
#include "GUI/Fl_Trigger.h"
#include "GUI/LoopGUI.h"
#include "KorvelSound/WavFile.h"
#include "Loop.h"
#include "LoopsApp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
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
const char *Extension = ".lws";
const size_t ExtensionLength = 4;
const char *TempSuffix = ".tmp";
// A workspace takes a few hundred bytes a loop; a file far beyond that is
// not one, and is not read into memory.
const size_t MaxFileBytes = 64 << 20;
// After the last loop entry: this word and the number of the save. Readers
// that know nothing of it stop before it.
const std::string SaveWord = "Save";
// How a loop file's comment starts when it was saved with a workspace; the
// number of that save follows.
const std::string SaveMark = "KorvelLoops workspace save ";

// A number no other save of this workspace has: the clock, the process and
// a count, mixed.
std::string SaveNumber()
{
    static uint64_t count = 0;
    uint64_t x = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
                 (static_cast<uint64_t>(getpid()) << 40) ^ ++count;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(x ^ (x >> 31)));
    return hex;
}

std::string FolderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsDirectory(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

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

// Walks every record of the file into scratch objects, so that a file that
// ends early or holds a wrong value is found before any loop is touched.
bool RecordsReadCompletely(std::istream &in, LoopsApp *app, std::vector<int> &ids, std::string &save)
{
    Delay delay;
    Reverb reverb;
    float length = 0, speed = 0, period = 0;
    int masterID = 0;
    long long count = 0;
    in >> delay >> reverb >> length >> speed >> period >> masterID >> count;
    if (!in || !Workspace::MasterTimingFits(length, speed, period) ||
        !Workspace::CountFits(in, count, Workspace::LoopEntryValues))
        return false;

    Loop loop(app);
    LoopGUI panel(&loop, &loop.m_Delay, &loop.m_Reverb);
    for (long long i = 0; i < count && in; i++) {
        int id = 0;
        in >> id >> loop >> panel;
        // This panel has no window to own the markers it read.
        for (Fl_Trigger *trigger : panel.m_Triggers)
            delete trigger;
        panel.m_Triggers.clear();
        if (!Workspace::LoopNumberFits(id)) return false;
        ids.push_back(id);
    }
    if (!in) return false;
    std::string word;
    if (in >> word && word == SaveWord) return static_cast<bool>(in >> save);
    return true;
}

// A loop file saved with a workspace carries the number of that save, and
// belongs to the workspace only when the workspace carries the same number.
// A save cut short between its renames leaves the old workspace beside loop
// files of the new save: those are found here. A loop file with no number
// (older files, or one rewritten by another program) is taken as it is, and a
// missing one loads as an empty loop, as ever.
bool LoopFilesBelong(const std::string &path, const std::string &save, const std::vector<int> &ids)
{
    for (int id : ids) {
        std::string name = Workspace::CompanionName(path, id);
        if (!Exists(name)) continue;
        std::string comment = WavFile::ReadComment(name);
        if (comment.compare(0, SaveMark.size(), SaveMark) == 0 &&
            (save.empty() || comment.substr(SaveMark.size()) != save))
            return false;
    }
    return true;
}

// The text of the workspace, with a bound: a device or a huge file is not
// read to its end.
bool ReadText(const std::string &path, std::string &text, bool &tooBig)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) return false;
    char chunk[65536];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<size_t>(file.gcount()));
        if (text.size() > MaxFileBytes) {
            tooBig = true;
            return true;
        }
    }
    return !file.bad();
}

// Writes the text and gets it onto the disk before anything is renamed over
// the old workspace.
bool WriteDurably(const std::string &path, const std::string &text)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<size_t>(written);
    }
    bool ok = done == text.size() && fsync(fd) == 0;
    return close(fd) == 0 && ok;
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

bool WriteSound(Loop *loop, const std::string &path, const std::string &mark)
{
    WavFile wav;
    // The caller's one line names the workspace; the temporary loop file's
    // name would only puzzle.
    wav.ReportWriteErrors(false);
    wav.SetComment(mark);
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
    // The two forms differ in what comes before the number ("p" or "-"), so
    // no name of one form is ever a name of the other.
    if (path.size() >= ExtensionLength &&
        path.compare(path.size() - ExtensionLength, ExtensionLength, Extension) == 0)
        return path.substr(0, path.size() - ExtensionLength) + "Loop" + number + ".wav";
    return path + "-loop-" + number + ".wav";
}

bool Workspace::MasterTimingFits(float length, float speed, float period)
{
    return length >= 0.0f && length < 2147483648.0f && speed >= 0.0f && speed <= 3.0f && period >= 0.0f &&
           std::isfinite(period);
}

bool Workspace::LoopNumberFits(long long id)
{
    return id >= 0 && id < std::numeric_limits<int>::max();
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

    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << Header << '\n' << *app;
    const std::string save = SaveNumber();
    if (!app->m_Loops.empty()) text << SaveWord << ' ' << save << ' ';
    const std::string mark = SaveMark + save;

    // Old files are replaced only once every new one is complete and on the
    // disk, so a failure half-way still leaves the previous performance whole.
    // A folder where a file should go would stop the renames: none start.
    std::string textTemp = path + TempSuffix;
    std::vector<std::string> temps{textTemp};
    std::vector<std::string> targets{path};
    bool written = !IsDirectory(path) && WriteDurably(textTemp, text.str());
    for (auto &item : app->m_Loops) {
        if (!written) break;
        std::string target = CompanionName(path, item.first);
        temps.push_back(target + TempSuffix);
        targets.push_back(target);
        written = !IsDirectory(target) && WriteSound(item.second->m_Loop, temps.back(), mark);
    }
    if (!written) {
        RemoveFiles(temps);
        std::cerr << "Workspace not saved, the old files are kept [" << path << "]" << std::endl;
        return false;
    }

    // The loop files go first and the workspace last. Stopped in between,
    // the old workspace meets loop files of this save, which say so.
    FileSystem *files = FileSystem::Current();
    const std::string folder = FolderOf(path);
    files->SyncFolder(folder);
    for (size_t i = 1; i <= temps.size(); i++) {
        const size_t at = i % temps.size();
        if (files->Rename(temps[at], targets[at])) continue;
        std::string reason = std::strerror(errno);
        // What is not in place yet goes, the workspace text with it.
        RemoveFiles(std::vector<std::string>(temps.begin() + at, temps.end()));
        unlink(textTemp.c_str());
        std::cerr << "Workspace not saved (" << reason << ")"
                  << (i == 1 ? ", the old files are kept [" : ", loop files already replaced [") << path
                  << "]" << std::endl;
        return false;
    }
    files->SyncFolder(folder);
    return true;
}

bool Workspace::LoadFrom(LoopsApp *app, const std::string &path)
{
    if (PathTooShort(path)) return false;

    std::string text;
    bool tooBig = false;
    if (!ReadText(path, text, tooBig)) {
        std::cerr << "Can't read workspace file [" << path << "]" << std::endl;
        return false;
    }

    std::istringstream check(text);
    check.imbue(std::locale::classic());
    int version = 0;
    bool headerRead = !tooBig && ReadHeader(check, version);
    if (headerRead && version > FileVersion) {
        std::cerr << "Bad file, or more recent version." << std::endl;
        return false;
    }
    std::vector<int> ids;
    std::string save;
    if (!headerRead || !RecordsReadCompletely(check, app, ids, save)) {
        std::cerr << "Bad workspace file, nothing loaded [" << path << "]" << std::endl;
        return false;
    }
    if (!LoopFilesBelong(path, save, ids)) {
        std::cerr << "Workspace and loop files do not belong together, nothing loaded [" << path << "]"
                  << std::endl;
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
