#include "Remote/OscRemote.h"

#include "GUI/Fl_Loop.h"
#include "GUI/LoopGUI.h"
#include "Loop.h"
#include "LoopsApp.h"
#include "Remote/NsmClient.h"
#include "Workspace.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

// The arguments of one message, read by type.
struct OscRemote::Args
{
    const char *m_Types;
    lo_arg **m_Argv;
    int m_Count;

    bool IsString(int i) const { return i < m_Count && (m_Types[i] == 's' || m_Types[i] == 'S'); }
    std::string String(int i) const { return IsString(i) ? &m_Argv[i]->s : ""; }
    // Any finite number (or true/false) reads as one.
    bool Number(int i, float &value) const
    {
        if (i >= m_Count) return false;
        switch (m_Types[i]) {
        case 'f':
            value = m_Argv[i]->f;
            break;
        case 'd':
            value = static_cast<float>(m_Argv[i]->d);
            break;
        case 'i':
            value = static_cast<float>(m_Argv[i]->i);
            break;
        case 'h':
            value = static_cast<float>(m_Argv[i]->h);
            break;
        case 'T':
        case 'F':
            value = m_Types[i] == 'T';
            break;
        default:
            return false;
        }
        return std::isfinite(value);
    }
};

namespace {

std::vector<std::string> Split(const std::string &path)
{
    std::vector<std::string> parts;
    for (size_t at = 1; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

} // namespace

OscRemote::OscRemote(LoopsApp *app, OscPort *port, NsmClient *nsm)
    : m_App(app), m_Port(port), m_Nsm(nsm), m_Controls(app), m_Busy(false), m_Watching(false)
{
    Watch(true);
}

OscRemote::~OscRemote()
{
    Watch(false);
}

void OscRemote::Ready(int, void *remote)
{
    static_cast<OscRemote *>(remote)->Poll();
}

void OscRemote::Watch(bool on)
{
    // A message wakes the cycle's wait, so it acts at once, not after it.
    if (!m_Port->IsOpen() || on == m_Watching) return;
    m_Watching = on;
    if (on)
        Fl::add_fd(m_Port->Socket(), FL_READ, Ready, this);
    else
        Fl::remove_fd(m_Port->Socket());
}

void OscRemote::Poll()
{
    // A message's action may wait in a dialog that runs the cycle: the
    // messages behind it wait for it, and meanwhile wake nothing (the
    // dialog's wait would spin on them).
    if (!m_Port->IsOpen()) return;
    if (m_Busy) return Watch(false);
    m_Busy = true;
    m_Port->Poll(*this, MostPerPoll);
    const auto now = OscFeedback::Clock::now();
    if (now - m_LastTick >= std::chrono::milliseconds(OscFeedback::FastestMs / 2)) {
        m_LastTick = now;
        m_Feedback.Tick([this](int loopID, const std::string &control, float &value) {
            return m_Controls.Read(loopID, control, value);
        });
        if (m_Nsm) m_Nsm->Tick();
    }
    m_Lines.Flush(now);
    m_Busy = false;
    Watch(true);
}

void OscRemote::Malformed(const std::string &reason, const OscPort::Sender &from)
{
    m_Lines.Say(reason + " from " + OscPort::UrlOf(from));
}

void OscRemote::Bad(const std::string &path, const std::string &why)
{
    m_Lines.Say(path + ": " + why);
}

void OscRemote::Received(const char *path, lo_message message, const OscPort::Sender &from)
{
    if (m_Nsm && m_Nsm->Take(path, message, from)) return;
    m_From = &from;
    const Args args{lo_message_get_types(message), lo_message_get_argv(message),
                    lo_message_get_argc(message)};
    const std::string text(path);
    const std::vector<std::string> parts = Split(text);
    std::vector<int> loops;
    if (parts.size() == 3 && parts[0] == "sl") {
        if (Loops(parts[1], loops)) return Verb(loops, parts[2], args, text);
        return Bad(text, "no loop " + parts[1]);
    }
    if (parts.size() == 4 && parts[0] == "korvel" && parts[1] == "loop") {
        if (!Loops(parts[2], loops)) return Bad(text, "no loop " + parts[2]);
        if (parts[3] == "load" || parts[3] == "save" || parts[3] == "close") {
            for (int id : loops)
                LoopFile(id, parts[3], args, text);
            return;
        }
        return Verb(loops, parts[3], args, text);
    }
    if (parts.size() == 3 && parts[0] == "korvel" && parts[1] == "main")
        return Verb({-1}, parts[2], args, text);
    Global(text, args);
}

bool OscRemote::Loops(const std::string &number, std::vector<int> &loops) const
{
    char *end = nullptr;
    errno = 0;
    const long id = std::strtol(number.c_str(), &end, 10);
    if (number.empty() || *end || errno || id < -1 || id > INT_MAX) return false;
    if (id >= 0) {
        loops.push_back(static_cast<int>(id));
        return m_Controls.Panel(static_cast<int>(id)) != nullptr;
    }
    // -1: every loop.
    for (auto &item : m_App->m_Loops)
        if (m_Controls.Panel(item.first)) loops.push_back(item.first);
    return true;
}

void OscRemote::Global(const std::string &path, const Args &args)
{
    if (path == "/ping") {
        if (!args.IsString(0) || !args.IsString(1)) return Bad(path, "wants s:return_url s:return_path");
        lo_message reply = lo_message_new();
        lo_message_add_string(reply, m_Port->Url().c_str());
        lo_message_add_string(reply, "2.0.0");
        lo_message_add_int32(reply, static_cast<int>(m_App->m_Loops.size()));
        if (!m_Port->Send(args.String(0), args.String(1).c_str(), reply, m_From))
            Bad(path, "cannot answer " + args.String(0));
        lo_message_free(reply);
        return;
    }
    if (path == "/loop_add" || path == "/korvel/new_loop") return m_App->NewLoop();
    if (path == "/korvel/reopen_loop") return m_App->ReopenLoop();
    if (path == "/korvel/output/record" || path == "/korvel/output/stop") {
        // As the output panel's Record with the file chosen: whatever
        // records ends first.
        Fl_Button *record = m_App->m_OutputGUI.m_RecordBtn;
        record->value(0);
        record->do_callback();
        if (path == "/korvel/output/stop") return;
        if (!args.IsString(0)) return Bad(path, "wants s:file");
        m_App->m_Output.Record(args.String(0).c_str());
        record->value(m_App->m_Output.m_RecordFile.IsOpen() ? 1 : 0);
        return;
    }
    if (path == "/loop_del") {
        float number = 0;
        if (!args.Number(0, number)) return Bad(path, "wants i:loop");
        // A float past int would not convert: such a number names no loop.
        int id = static_cast<int>(std::clamp(number, -2.0f, 2e9f));
        // -1: the loop made last.
        if (id == -1 && !m_App->m_Loops.empty()) id = m_App->m_Loops.rbegin()->first;
        return LoopFile(id, "close", args, path);
    }
    const bool save = path == "/save_session" || path == "/korvel/workspace/save";
    const bool load = path == "/load_session" || path == "/korvel/workspace/load";
    if (save || load || path == "/korvel/plugin/load") {
        if (!args.IsString(0)) return Bad(path, "wants s:file");
        const std::string file = args.String(0);
        const bool done = save   ? Workspace::SaveTo(m_App, file)
                          : load ? Workspace::LoadFrom(m_App, file)
                                 : m_App->StartPlugin(file.c_str());
        // Tools of the other looper want to hear of a failure.
        if (!done && args.IsString(1) && args.IsString(2)) {
            lo_message reply = lo_message_new();
            lo_message_add_string(reply, ("not done: " + file).c_str());
            m_Port->Send(args.String(1), args.String(2).c_str(), reply, m_From);
            lo_message_free(reply);
        }
        return;
    }
    Bad(path, "unknown address");
}

void OscRemote::Verb(const std::vector<int> &loops, const std::string &verb, const Args &args,
                     const std::string &path)
{
    const std::string name = args.String(0);
    std::string why;
    float value = 0;
    if (!args.IsString(0)) return Bad(path, "wants s:command or s:control first");
    for (int id : loops) {
        bool done = true;
        if (verb == "hit" || verb == "down" || verb == "press") {
            // The other looper's commands are lower case, our controls' names are not.
            done = (id >= 0 && m_Controls.Command(id, name, why)) ||
                   ((id < 0 || why.compare(0, 10, "no command") == 0) && m_Controls.Press(id, name, why));
        } else if (verb == "edit") {
            float from = 0, to = 0;
            args.Number(1, from);
            args.Number(2, to);
            done = m_Controls.Edit(id, name, static_cast<int>(std::clamp(from, -2e9f, 2e9f)),
                                   static_cast<int>(std::clamp(to, -2e9f, 2e9f)), why);
        } else if (verb == "up") {
            // A press is whole at "down".
        } else if (verb == "set") {
            if (!args.Number(1, value)) return Bad(path, "wants s:control f:value");
            done = m_Controls.Set(id, name, value, why);
        } else if (verb == "get") {
            if (!args.IsString(1) || !args.IsString(2))
                return Bad(path, "wants s:control s:return_url s:return_path");
            if (!m_Controls.Read(id, name, value)) return Bad(path, "no value \"" + name + "\"");
            Answer(args.String(1), args.String(2), id, name, value);
        } else if (verb == "register_update" || verb == "register_auto_update") {
            const bool automatic = verb == "register_auto_update";
            const int at = automatic ? 2 : 1;
            float ms = 0;
            if ((automatic && !args.Number(1, ms)) || !args.IsString(at) || !args.IsString(at + 1))
                return Bad(path, automatic ? "wants s:control i:ms s:return_url s:return_path"
                                           : "wants s:control s:return_url s:return_path");
            if (!m_Controls.Read(id, name, value)) return Bad(path, "no value \"" + name + "\"");
            const int interval = automatic ? static_cast<int>(std::clamp(ms, 1.0f, 1000.0f)) : 0;
            done = m_Feedback.Register(id, name, args.String(at), args.String(at + 1), interval, why, m_From);
        } else if (verb == "unregister_update" || verb == "unregister_auto_update") {
            const bool automatic = verb == "unregister_auto_update";
            m_Feedback.Unregister(id, name, args.String(1), args.String(2), automatic);
        } else {
            return Bad(path, "unknown address");
        }
        if (!done) Bad(path, why);
    }
}

void OscRemote::LoopFile(int loopID, const std::string &verb, const Args &args, const std::string &path)
{
    LoopGUI *panel = m_Controls.Panel(loopID);
    if (!panel) return Bad(path, "no loop " + std::to_string(loopID));
    if (verb == "close") return panel->m_Display->do_callback();
    if (!args.IsString(0)) return Bad(path, "wants s:file");
    if (verb == "save") return panel->m_Loop->SaveWav(args.String(0));
    // As "Load" with the file chosen: it loads between cycles.
    panel->m_Loop->StartLoad(args.String(0));
    panel->Refresh();
}

void OscRemote::Answer(const std::string &url, const std::string &path, int loopID,
                       const std::string &control, float value)
{
    lo_message reply = lo_message_new();
    lo_message_add_int32(reply, loopID);
    lo_message_add_string(reply, control.c_str());
    lo_message_add_float(reply, value);
    if (!m_Port->Send(url, path.c_str(), reply, m_From)) Bad(path, "cannot answer " + url);
    lo_message_free(reply);
}
