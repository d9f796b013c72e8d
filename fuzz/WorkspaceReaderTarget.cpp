#include "WorkspaceReaderTarget.h"

#include "WorkspaceReader.h"

#include <locale>
#include <sstream>

namespace {

typedef WorkspaceReader R;

// The records in the program's own layout and number format (the stream
// operators of LoopsApp, Loop, LoopGUI and the effects).
std::string Write(const R::Records &records)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    auto delay = [&](const R::DelayRecord &d) {
        out << d.m_Time << ' ' << d.m_Feedback << ' ' << d.m_Bypass << ' ';
    };
    auto reverb = [&](const R::ReverbRecord &r) {
        out << r.m_Time << ' ' << r.m_Feedback << ' ' << r.m_Random << ' ' << r.m_Bypass << ' ';
    };
    out << "KorvelLoops WorkSpace File Ver 1\n";
    delay(records.m_Delay);
    out << ' ';
    reverb(records.m_Reverb);
    out << ' ' << records.m_MasterLength << ' ' << records.m_MasterSpeed << ' ' << records.m_MasterPeriod
        << ' ' << records.m_MasterID << ' ' << records.m_Entries.size() << ' ';
    for (const R::EntryRecord &entry : records.m_Entries) {
        const R::LoopRecord &l = entry.m_Loop;
        out << entry.m_Number << ' ' << l.m_ID << ' ' << l.m_Pos << ' ' << l.m_DisplayPos << ' '
            << l.m_HoldPos << ' ' << l.m_Playing << ' ' << l.m_Master << ' ' << l.m_Length << ' ' << l.m_Speed
            << ' ' << l.m_Volume << ' ' << l.m_Pan << ' ' << l.m_LeftVol << ' ' << l.m_RightVol << ' '
            << l.m_Filter.m_Cutoff << ' ' << l.m_Filter.m_Resonance << ' ' << l.m_Filter.m_CutoffInvert << ' '
            << l.m_Filter.m_ResonanceInvert << ' ' << l.m_EffectsOn << ' ';
        delay(l.m_Delay);
        out << ' ';
        reverb(l.m_Reverb);
        const R::PanelRecord &p = entry.m_Panel;
        out << ' ' << p.m_X << ' ' << p.m_Y << ' ' << p.m_W << ' ' << p.m_H << ' ' << p.m_Triggers.size()
            << ' ';
        for (const R::TriggerRecord &t : p.m_Triggers)
            out << t.m_CentreX << ' ' << t.m_CentreY << ' ' << t.m_Radius << ' ' << t.m_Dragging << ' '
                << t.m_TargetID << ' ' << t.m_Count << ' ' << t.m_Passes << ' ' << t.m_Angle << ' '
                << t.m_MaxID << ' ' << t.m_MaxCount << ' ';
        out << ' ';
    }
    return out.str();
}

} // namespace

std::string WorkspaceReaderTarget::Run(const uint8_t *data, size_t size)
{
    R::Records records;
    if (R::Parse(std::string(reinterpret_cast<const char *>(data), size), records) != R::Read) return "";
    // A workspace the program loaded must load again once it saved it.
    const std::string saved = Write(records);
    R::Records again;
    if (R::Parse(saved, again) != R::Read)
        return "a workspace read once is refused as saved again:\n" + saved;
    if (Write(again) != saved)
        return "a saved workspace reads back different:\n" + saved + "\n" + Write(again);
    return "";
}
