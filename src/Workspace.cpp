#include "Workspace.h"

#include "GUI/FileChooser.h"
#include "GUI/LoopGUI.h"
#include "GUI/Question.h"
#include "KorvelInfo.h"
#include "KorvelSound/WavFile.h"
#include "Loop.h"
#include "LoopsApp.h"
#include "System/FileLock.h"
#include "System/FileSystem.h"
#include "WorkspaceReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <locale>
#include <sstream>
#include <vector>

const char *Workspace::Header = "KorvelLoops WorkSpace File Ver 1";

namespace {

// The ".lws" that the companion names replace.
const char *Extension = ".lws";
const size_t ExtensionLength = 4;
// Temporaries carry the saving process's id and a count, so no two saves
// ever write one file; the journal names the suffix of its save.
const char *TempEnd = ".tmp";
const std::string JournalTemporaries = "temporaries";
// A workspace takes a few hundred bytes a loop; a file far beyond that is
// not one, and is not read into memory.
const size_t MaxFileBytes = 64 << 20;
// Beside a workspace while its save renames files into place:
// JournalTemporaries and the suffix of that save's temporary files, its loop
// numbers, then JournalEnd (older versions wrote no suffix and used TempEnd).
// A save found cut short is completed from it before the workspace is read
// or saved again.
const char *JournalSuffix = ".saving";
const std::string JournalEnd = "end";

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

// The file a chain of symbolic links ends at, so a save through a link
// writes its target (the link stays) and a load finds the loop files the
// save of the target put beside it.
std::string ResolveLinks(const std::string &path)
{
    std::string at = path;
    for (int hops = 0; hops < 40; hops++) {
        struct stat info;
        if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 4096) + 1);
        ssize_t length = readlink(at.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size()) break;
        std::string next(target.data(), static_cast<size_t>(length));
        at = next[0] == '/' || at.find('/') == std::string::npos ? next
                                                                 : FileSystem::FolderOf(at) + "/" + next;
    }
    return at;
}

// Holds the workspace's lock against other instances of the program; false
// with one line when it cannot be had. A reader goes on without it where
// no lock file can be made (a read-only folder, where nobody saves either).
bool LockWorkspace(FileLock &lock, const std::string &path, bool saving)
{
    FileLock::Result result = lock.Acquire(path, FileLock::WaitMs);
    if (result == FileLock::Locked || (result == FileLock::Unavailable && !saving)) return true;
    if (result == FileLock::Busy)
        std::cerr << "Workspace is being saved by another program [" << path << "]" << std::endl;
    else
        std::cerr << "Workspace not saved (" << std::strerror(errno) << "), the old files are kept [" << path
                  << "]" << std::endl;
    return false;
}

bool PathTooShort(const std::string &path)
{
    if (path.size() >= ExtensionLength) return false;
    std::cerr << "Workspace path too short to name its loop files [" << path << "]" << std::endl;
    return true;
}

// The whole file as text, with a bound (a device or a huge file is not read
// to its end); false with the reason when it cannot be read. A folder opens
// like a file and fails only on reading, where a stream would throw from
// inside its buffer.
bool ReadWholeFile(const std::string &path, std::string &text, bool &tooBig, std::string &reason)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    char chunk[65536];
    size_t got = 0;
    while (!tooBig && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
        tooBig = text.size() > MaxFileBytes;
    }
    bool failed = !tooBig && std::ferror(file) != 0;
    if (failed) reason = std::strerror(errno);
    std::fclose(file);
    return !failed;
}

// A loop whose WAV file was missing keeps the stored play length over an
// empty or shorter recording; the display and the editing operations must
// never reach past the sound.
void FitToSound(Loop *loop)
{
    int64_t total = loop->m_StoreBuffer.GetLength();
    if (loop->m_LoopLength > total) loop->m_LoopLength = total;
    if (loop->m_Pos < 0 || loop->m_Pos > static_cast<double>(total)) loop->m_Pos = 0;
}

// unlink, not remove: whatever was in the way of a temporary name, a
// directory above all, is not ours to delete.
void RemoveFiles(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths)
        unlink(path.c_str());
}

bool WriteSound(Loop *loop, const std::string &path)
{
    WavFile wav;
    // The caller's one line names the workspace; the temporary loop file's
    // name would only puzzle.
    wav.ReportWriteErrors(false);
    if (!wav.Open(path, WavFile::WRITE, WavFile::MONO)) return false;
    // The sound as it is now, an overdub under way or not; written from a
    // copy, so the loop is held for the copy only and not for the disk.
    Sample sound;
    {
        HandOverHold held(loop->m_HandOver);
        const int length = loop->m_StoreBuffer.GetLength();
        if (length > 0 && !sound.Allocate(length)) return false;
        if (length > 0)
            std::memcpy(sound.GetBuffer(), loop->m_StoreBuffer.GetBuffer(), length * sizeof(short));
    }
    // An empty loop gives a header-only file; Save writes nothing for it.
    bool saved = sound.GetLength() == 0 || wav.Save(sound);
    bool closed = wav.Close() != 0;
    return saved && closed;
}

// The temporaries' suffix and loop numbers of a save, from its journal;
// false when the journal is not whole, which means no file of that save was
// renamed yet.
bool ReadJournal(const std::string &journal, std::string &suffix, std::vector<int> &ids)
{
    std::ifstream in(journal);
    std::string word;
    suffix = TempEnd;
    if (in >> word && word == JournalTemporaries) {
        // Only a name beside each target is ever renamed.
        if (!(in >> suffix) || suffix.find('/') != std::string::npos) return false;
        in >> word;
    }
    for (; in && word != JournalEnd; in >> word) {
        char *end = nullptr;
        long id = std::strtol(word.c_str(), &end, 10);
        if (*end != '\0' || !WorkspaceReader::LoopNumberFits(id)) return false;
        ids.push_back(static_cast<int>(id));
    }
    return word == JournalEnd;
}

// CompleteCutShortSave with the workspace's lock held.
bool CompleteLocked(const std::string &path)
{
    const std::string journal = path + JournalSuffix;
    if (!Exists(journal)) return true;
    std::string suffix;
    std::vector<int> ids;
    FileSystem *files = FileSystem::Current();
    if (ReadJournal(journal, suffix, ids)) {
        // Every file of that save reached the disk before the journal did:
        // the renames it did not get to are done now, the workspace last.
        std::vector<std::string> targets;
        for (int id : ids)
            targets.push_back(Workspace::CompanionName(path, id));
        targets.push_back(path);
        for (const std::string &target : targets) {
            const std::string temp = target + suffix;
            if (Exists(temp) && !files->Rename(temp, target)) {
                std::cerr << "Workspace save cut short and not completed (" << std::strerror(errno) << ") ["
                          << path << "]" << std::endl;
                return false;
            }
        }
        std::cerr << "Completed a workspace save that was cut short [" << path << "]" << std::endl;
    }
    // A journal that is not whole was cut short before any rename: the old
    // files are all still in place.
    files->SyncFolder(FileSystem::FolderOf(path));
    unlink(journal.c_str());
    files->SyncFolder(FileSystem::FolderOf(path));
    return true;
}

} // namespace

bool Workspace::CompleteCutShortSave(const std::string &given)
{
    const std::string path = ResolveLinks(given);
    FileLock lock;
    return LockWorkspace(lock, path, false) && CompleteLocked(path);
}

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

bool Workspace::SaveTo(LoopsApp *app, const std::string &given)
{
    if (PathTooShort(given)) return false;
    const std::string path = ResolveLinks(given);
    FileLock lock;
    if (!LockWorkspace(lock, path, true) || !CompleteLocked(path)) return false;

    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << Header << '\n' << *app;
    std::ostringstream numbers;
    static int saves = 0;
    const std::string tempSuffix = "." + std::to_string(getpid()) + "-" + std::to_string(++saves) + TempEnd;
    numbers << JournalTemporaries << ' ' << tempSuffix << '\n';
    for (auto &item : app->m_Loops)
        numbers << item.first << '\n';
    numbers << JournalEnd << '\n';

    // Old files are replaced only once every new one is complete and on the
    // disk, so a failure half-way still leaves the previous performance whole.
    // A folder where a file should go would stop the renames: none start.
    std::string textTemp = path + tempSuffix;
    std::vector<std::string> temps{textTemp};
    std::vector<std::string> targets{path};
    bool written = !IsDirectory(path) && FileSystem::WriteDurably(textTemp, text.str());
    for (auto &item : app->m_Loops) {
        if (!written) break;
        std::string target = CompanionName(path, item.first);
        temps.push_back(target + tempSuffix);
        targets.push_back(target);
        written = !IsDirectory(target) && WriteSound(item.second->m_Loop, temps.back());
    }
    FileSystem *files = FileSystem::Current();
    const std::string folder = FileSystem::FolderOf(path);
    const std::string journal = path + JournalSuffix;
    written = written && files->SyncFolder(folder) && FileSystem::WriteDurably(journal, numbers.str());
    if (!written) {
        RemoveFiles(temps);
        unlink(journal.c_str());
        std::cerr << "Workspace not saved, the old files are kept [" << path << "]" << std::endl;
        return false;
    }

    // From here on the journal says which files belong to this save, so a
    // save cut short (the program killed, the power gone) is completed when
    // the workspace is next read or saved: never a mix of two performances.
    // The loop files go first and the workspace last.
    files->SyncFolder(folder);
    for (size_t i = 1; i <= temps.size(); i++) {
        const size_t at = i % temps.size();
        if (files->Rename(temps[at], targets[at])) continue;
        std::string reason = std::strerror(errno);
        if (i == 1) {
            RemoveFiles(temps);
            unlink(journal.c_str());
            std::cerr << "Workspace not saved (" << reason << "), the old files are kept [" << path << "]"
                      << std::endl;
        } else {
            std::cerr << "Workspace not saved (" << reason << "), loop files already replaced [" << path
                      << "]" << std::endl;
        }
        return false;
    }
    files->SyncFolder(folder);
    unlink(journal.c_str());
    files->SyncFolder(folder);
    app->MarkSaved();
    return true;
}

bool Workspace::LoadFrom(LoopsApp *app, const std::string &given)
{
    if (PathTooShort(given)) return false;
    // Held until the loop files are read too: a save by another instance
    // never mixes into what is loaded.
    const std::string path = ResolveLinks(given);
    FileLock lock;
    if (!LockWorkspace(lock, path, false) || !CompleteLocked(path)) return false;

    std::string text, reason;
    bool tooBig = false;
    if (!ReadWholeFile(path, text, tooBig, reason)) {
        std::cerr << "Can't read workspace file (" << reason << ") [" << path << "]" << std::endl;
        return false;
    }

    WorkspaceReader::Records records;
    WorkspaceReader::Result result = tooBig ? WorkspaceReader::Bad : WorkspaceReader::Parse(text, records);
    if (result == WorkspaceReader::TooNew) {
        std::cerr << "Bad file, or more recent version." << std::endl;
        return false;
    }
    if (result == WorkspaceReader::Bad) {
        std::cerr << "Bad workspace file, nothing loaded [" << path << "]" << std::endl;
        return false;
    }

    // Every record was read and checked: building from them cannot fail.
    app->ClearLoops();
    app->Restore(records);

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
    // A workspace saved without musical time plays as it did: no grid.
    app->m_TimeGUI.m_Settings = records.m_HasTime ? records.m_Time : TimeSettings();
    // A file from before the sync choice follows what the resource file says.
    if (!records.m_HasTime) app->m_TimeGUI.m_Settings.m_Sync = KorvelInfo::SyncChoice;
    app->m_TimeGUI.UpdateValues();
    for (const auto &loop : records.m_Quantize) {
        auto found = app->m_Loops.find(loop.first);
        if (found != app->m_Loops.end()) found->second->m_GUI->ShowQuantize(loop.second);
    }
    app->MarkSaved();
    // A plug-in is code that runs in the program: it is loaded only when the
    // performer says so, whoever wrote the workspace.
    const std::string &plugin = records.m_Plugin;
    if (!plugin.empty() && !(app->m_Plugin.m_Loaded && plugin == app->m_Plugin.m_Path) &&
        Question::Current()->Ask("This workspace was saved with the plug-in\n" + plugin +
                                     "\nLoad it? It runs as part of the program.",
                                 "Load", "Not now"))
        app->StartPlugin(plugin.c_str());
    return true;
}
