#include "Remote/OscFeedback.h"

#include <algorithm>
#include <iostream>

bool OscFeedback::Register(int loopID, const std::string &control, const std::string &url,
                           const std::string &path, int intervalMs, std::string &why,
                           const OscPort::Sender *from)
{
    Unregister(loopID, control, url, path, intervalMs != 0);
    if (m_Registrations.size() >= MostRegistrations) {
        why = "more than " + std::to_string(MostRegistrations) + " registrations";
        return false;
    }
    Registration registration;
    // One socket per client, however many controls it follows.
    for (const Registration &other : m_Registrations)
        if (other.m_To->Url() == url) registration.m_To = other.m_To;
    if (!registration.m_To) registration.m_To = std::make_shared<OscReturn>(url, from);
    if (!registration.m_To->IsOpen()) {
        why = url + ": " + registration.m_To->Failure();
        return false;
    }
    registration.m_LoopID = loopID;
    registration.m_Control = control;
    registration.m_Path = path;
    registration.m_IntervalMs = intervalMs == 0 ? 0 : std::clamp(intervalMs, FastestMs, SlowestMs);
    m_Registrations.push_back(std::move(registration));
    return true;
}

void OscFeedback::Unregister(int loopID, const std::string &control, const std::string &url,
                             const std::string &path, bool automatic)
{
    m_Registrations.erase(std::remove_if(m_Registrations.begin(), m_Registrations.end(),
                                         [&](const Registration &r) {
                                             return r.m_LoopID == loopID && r.m_Control == control &&
                                                    r.m_Path == path && r.m_To->Url() == url &&
                                                    (r.m_IntervalMs != 0) == automatic;
                                         }),
                          m_Registrations.end());
}

void OscFeedback::Tick(const Reader &read, Clock::time_point now)
{
    std::vector<std::shared_ptr<OscReturn>> gone;
    for (Registration &r : m_Registrations) {
        if (r.m_IntervalMs != 0 && now < r.m_Due) continue;
        float value = 0;
        // A closed loop sends nothing until it is back.
        if (!read(r.m_LoopID, r.m_Control, value)) continue;
        if (r.m_IntervalMs == 0 && r.m_Sent && value == r.m_Last) continue;
        r.m_Due = now + std::chrono::milliseconds(r.m_IntervalMs);
        r.m_Sent = true;
        r.m_Last = value;
        lo_message message = lo_message_new();
        lo_message_add_int32(message, r.m_LoopID);
        lo_message_add_string(message, r.m_Control.c_str());
        lo_message_add_float(message, value);
        if (!r.m_To->Send(r.m_Path.c_str(), message) &&
            std::find(gone.begin(), gone.end(), r.m_To) == gone.end())
            gone.push_back(r.m_To);
        lo_message_free(message);
    }
    for (const std::shared_ptr<OscReturn> &to : gone) {
        std::cerr << "OSC: updates to " << to->Url() << " stopped, it does not answer (" << to->Failure()
                  << ")" << std::endl;
        m_Registrations.erase(std::remove_if(m_Registrations.begin(), m_Registrations.end(),
                                             [&](const Registration &r) { return r.m_To == to; }),
                              m_Registrations.end());
    }
}
