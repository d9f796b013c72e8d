#include "Midi/MidiBindings.h"

#include "System/FileLock.h"
#include "System/FileSystem.h"
#include "System/HomeDirectory.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const KindWords[] = {"note", "note", "cc", "pc"}; // by MidiMessage::Kind
const char *const ModeWords[] = {"press", "held", "set"};     // by MidiBinding::Mode

// The index of word in the table from first on, or -1: lines are read with
// the tables they are written with.
template <size_t N> int IndexOf(const char *const (&words)[N], const std::string &word, size_t first = 0)
{
    for (size_t i = first; i < N; i++)
        if (word == words[i]) return static_cast<int>(i);
    return -1;
}

// A bindings file is a few lines a control; anything far larger is not one.
const off_t MaxFileBytes = 1 << 20;

// The whole file at path, read without blocking on what is not a regular
// file (a FIFO would wait for a writer, a device never end); false with the
// reason when it is not read. A missing file reads as empty.
bool ReadBindingsFile(const std::string &path, std::string &text, std::string &reason)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return errno == ENOENT;
    }
    struct stat info;
    bool ok = fstat(fd, &info) == 0;
    if (!ok)
        reason = std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        reason = "not a regular file";
    else if (info.st_size > MaxFileBytes)
        reason = "larger than a bindings file can be";
    ok = ok && reason.empty();
    char chunk[65536];
    while (ok) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) reason = std::strerror(errno);
            ok = got == 0;
            break;
        }
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > static_cast<size_t>(MaxFileBytes)) {
            reason = "larger than a bindings file can be";
            ok = false;
        }
    }
    close(fd);
    return ok;
}

} // namespace

std::string MidiBindings::DefaultPath()
{
    std::string home;
    if (!HomeDirectory::Current()->Find(home)) return "";
    return home + "/.KorvelLoopsMidi";
}

std::string MidiBindings::LineOf(const MidiBinding &binding)
{
    std::ostringstream line;
    line << KindWords[binding.m_Kind] << ' ' << binding.m_Channel + 1 << ' ' << binding.m_Number << ' '
         << ModeWords[binding.m_Mode] << ' ';
    if (binding.m_LoopID < 0)
        line << "main";
    else
        line << "loop " << binding.m_LoopID;
    line << ' ' << binding.m_Control;
    return line.str();
}

bool MidiBindings::ParseLine(const std::string &line, MidiBinding &binding)
{
    std::istringstream in(line);
    std::string kind, mode, window;
    long channel = 0, number = 0, loopID = -1;
    if (!(in >> kind >> channel >> number >> mode >> window)) return false;
    if (window == "loop" && !(in >> loopID && loopID >= 0 && loopID < INT_MAX)) return false;
    if (window != "loop" && window != "main") return false;
    if (channel < 1 || channel > 16 || number < 0 || number > 127) return false;

    // "note" binds the note-on; its note-off finds the binding by number.
    const int kindIndex = IndexOf(KindWords, kind, MidiMessage::NoteOn);
    const int modeIndex = IndexOf(ModeWords, mode);
    if (kindIndex < 0 || modeIndex < 0) return false;
    binding.m_Kind = static_cast<MidiMessage::Kind>(kindIndex);
    binding.m_Mode = static_cast<MidiBinding::Mode>(modeIndex);

    // The control's name is the rest of the line: labels hold spaces.
    std::string control;
    std::getline(in >> std::ws, control);
    while (!control.empty() && (control.back() == ' ' || control.back() == '\t' || control.back() == '\r'))
        control.pop_back();
    if (control.empty()) return false;
    binding.m_Channel = static_cast<int>(channel - 1);
    binding.m_Number = static_cast<int>(number);
    binding.m_LoopID = static_cast<int>(loopID);
    binding.m_Control = control;
    binding.m_Down = false;
    return true;
}

void MidiBindings::Load(const std::string &path)
{
    m_Path = path;
    m_Bindings.clear();
    std::string text, reason;
    if (!ReadBindingsFile(path, text, reason)) {
        std::cerr << "MIDI bindings not read (" << reason << ") [" << path << "]" << std::endl;
        return;
    }
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        MidiBinding binding;
        if (ParseLine(line, binding))
            Bind(binding);
        else
            std::cerr << "MIDI bindings: line " << number << " skipped, not a binding: \"" << line << "\" ["
                      << path << "]" << std::endl;
    }
}

bool MidiBindings::Save() const
{
    if (m_Path.empty()) {
        std::cerr << "No home directory known: MIDI bindings are not kept" << std::endl;
        return false;
    }
    std::string text = "# KorvelLoops MIDI bindings: kind channel number mode, then main or loop <number>, "
                       "then the control\n";
    for (const MidiBinding &binding : m_Bindings)
        text += LineOf(binding) + "\n";

    // A new file under a temporary name of this process's own, on the disk
    // before it replaces the old one, with the lock held against other
    // instances: a crash leaves the old bindings or the new, and of two
    // instances saving the last one's bindings stand whole.
    errno = 0;
    FileLock lock;
    const FileLock::Result locked = lock.Acquire(m_Path, FileLock::WaitMs);
    if (locked == FileLock::Busy) {
        std::cerr << "MIDI bindings are being saved by another program, not saved [" << m_Path << "]"
                  << std::endl;
        return false;
    }
    const std::string temporary = m_Path + ".saving-" + std::to_string(getpid());
    bool saved = locked == FileLock::Locked && FileSystem::WriteDurably(temporary, text) &&
                 FileSystem::Current()->Rename(temporary, m_Path);
    if (saved) {
        FileSystem::Current()->SyncFolder(FileSystem::FolderOf(m_Path));
        return true;
    }
    std::cerr << "MIDI bindings not saved (" << (errno ? std::strerror(errno) : "write failed") << ") ["
              << m_Path << "]" << std::endl;
    unlink(temporary.c_str());
    return false;
}

MidiBinding *MidiBindings::Find(const MidiMessage &message)
{
    for (MidiBinding &binding : m_Bindings)
        if (binding.Matches(message)) return &binding;
    return nullptr;
}

void MidiBindings::Bind(const MidiBinding &binding)
{
    for (MidiBinding &old : m_Bindings) {
        if (old.m_Kind == binding.m_Kind && old.m_Channel == binding.m_Channel &&
            old.m_Number == binding.m_Number) {
            old = binding;
            return;
        }
    }
    m_Bindings.push_back(binding);
}

bool MidiBindings::Unbind(int loopID, const std::string &control)
{
    size_t before = m_Bindings.size();
    for (size_t i = m_Bindings.size(); i-- > 0;)
        if (m_Bindings[i].m_LoopID == loopID && m_Bindings[i].m_Control == control)
            m_Bindings.erase(m_Bindings.begin() + static_cast<long>(i));
    return m_Bindings.size() != before;
}
