#ifndef OSC_REMOTE_H
#define OSC_REMOTE_H

#include "Remote/LineLimiter.h"
#include "Remote/OscControls.h"
#include "Remote/OscFeedback.h"
#include "Remote/OscPort.h"

#include <chrono>
#include <string>
#include <vector>

class LoopsApp;
class NsmClient;

// Playing the program over OSC: reads the port from the GUI cycle, acts on
// each message through the controls' own callbacks (changes to the sound
// reach the engine as every window's do), answers "get" and "ping" and
// sends the updates clients registered for. Bad messages get one line each
// at most. The namespace is in the README ("Remote control over OSC").
class OscRemote : public OscPort::Listener
{
public:
    // Messages read in one pass at most: a flood waits in the socket (and
    // what the socket cannot hold is lost) rather than holding up the windows.
    static constexpr int MostPerPoll = 256;

    OscRemote(LoopsApp *app, OscPort *port, NsmClient *nsm = nullptr);
    ~OscRemote() override;
    OscRemote(const OscRemote &) = delete;
    OscRemote &operator=(const OscRemote &) = delete;

    // Once per pass of the program's cycle.
    void Poll();
    void Received(const char *path, lo_message message, const OscPort::Sender &from) override;
    void Malformed(const std::string &reason, const OscPort::Sender &from) override;

    OscFeedback m_Feedback;
    LineLimiter m_Lines;

private:
    struct Args;
    void Global(const std::string &path, const Args &args);
    // verb acts on the loops given (loop -1: the main window).
    void Verb(const std::vector<int> &loops, const std::string &verb, const Args &args,
              const std::string &path);
    void LoopFile(int loopID, const std::string &verb, const Args &args, const std::string &path);
    void Answer(const std::string &url, const std::string &path, int loopID, const std::string &control,
                float value);
    bool Loops(const std::string &number, std::vector<int> &loops) const;
    static void Ready(int socket, void *remote);
    void Watch(bool on);
    void Bad(const std::string &path, const std::string &why);

    LoopsApp *m_App;
    OscPort *m_Port;
    NsmClient *m_Nsm;
    OscControls m_Controls;
    bool m_Busy;
    bool m_Watching;
    // The sender of the message being handled.
    const OscPort::Sender *m_From = nullptr;
    OscFeedback::Clock::time_point m_LastTick;
};

#endif
