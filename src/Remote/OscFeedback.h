#ifndef OSC_FEEDBACK_H
#define OSC_FEEDBACK_H

#include "Remote/OscReturn.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Clients registered for a control's value: sent when it changes (however
// it was changed: mouse, MIDI or OSC), or at a steady rate for play
// positions and states. Each update is "i:loop s:control f:value" to the
// client's own path. A client that can no longer be reached is dropped.
class OscFeedback
{
public:
    using Clock = std::chrono::steady_clock;
    using Reader = std::function<bool(int loopID, const std::string &control, float &value)>;
    // What a client may ask for between updates; more clients than this
    // are refused, so a flood of registrations cannot slow the windows.
    static constexpr int FastestMs = 10;
    static constexpr int SlowestMs = 100;
    static constexpr size_t MostRegistrations = 256;

    // intervalMs 0: on change; otherwise clamped to FastestMs ... SlowestMs.
    // False, with the reason, when it cannot be kept.
    bool Register(int loopID, const std::string &control, const std::string &url, const std::string &path,
                  int intervalMs, std::string &why, const OscPort::Sender *from = nullptr);
    void Unregister(int loopID, const std::string &control, const std::string &url, const std::string &path,
                    bool automatic);
    // Sends what is due.
    void Tick(const Reader &read, Clock::time_point now = Clock::now());
    size_t Count() const { return m_Registrations.size(); }

private:
    struct Registration
    {
        int m_LoopID;
        std::string m_Control;
        std::string m_Path;
        int m_IntervalMs;
        std::shared_ptr<OscReturn> m_To;
        bool m_Sent = false;
        float m_Last = 0;
        Clock::time_point m_Due;
    };
    std::vector<Registration> m_Registrations;
};

#endif
