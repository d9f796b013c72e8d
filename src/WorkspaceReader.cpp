#include "WorkspaceReader.h"

#include "Sync/TempoMap.h"

#include <cmath>
#include <istream>
#include <limits>
#include <locale>
#include <sstream>

namespace {

// A failed check fails the stream, as a value that is not a number does.
bool Check(std::istream &in, bool fits)
{
    if (in && !fits) in.setstate(std::ios::failbit);
    return static_cast<bool>(in);
}

// The panel's knobs give 0 ... 1 for both; a time beyond the line would
// index past it.
bool ReadDelay(std::istream &in, WorkspaceReader::DelayRecord &delay)
{
    in >> delay.m_Time >> delay.m_Feedback >> delay.m_Bypass;
    return Check(in, delay.m_Time >= 0.0f && delay.m_Time <= 1.0f && delay.m_Feedback >= 0.0f &&
                         delay.m_Feedback <= 1.0f);
}

// Each stage's time is a share of this plus the jitter; past the knobs'
// ranges a stage would index beyond its delay line.
bool ReadReverb(std::istream &in, WorkspaceReader::ReverbRecord &reverb)
{
    in >> reverb.m_Time >> reverb.m_Feedback >> reverb.m_Random >> reverb.m_Bypass;
    return Check(in, reverb.m_Time >= 0.0f && reverb.m_Time <= 1.0f && reverb.m_Feedback >= 0.0f &&
                         reverb.m_Feedback <= 1.0f && reverb.m_Random >= 0.0f && reverb.m_Random <= 0.1f);
}

bool ReadFilter(std::istream &in, WorkspaceReader::FilterRecord &filter)
{
    in >> filter.m_Cutoff >> filter.m_Resonance >> filter.m_CutoffInvert >> filter.m_ResonanceInvert;
    return Check(in, std::isfinite(filter.m_Cutoff) && std::isfinite(filter.m_Resonance));
}

// A marker is placed from these in window coordinates, which X keeps within
// 16 bits; from an angle many turns round, every drag would step back to
// the ring a turn at a time.
bool ReadTrigger(std::istream &in, WorkspaceReader::TriggerRecord &trigger)
{
    in >> trigger.m_CentreX >> trigger.m_CentreY >> trigger.m_Radius >> trigger.m_Dragging >>
        trigger.m_TargetID >> trigger.m_Count >> trigger.m_Passes >> trigger.m_Angle >> trigger.m_MaxID >>
        trigger.m_MaxCount;
    const int place = 32767;
    const float turns = 1e6f;
    return Check(in, trigger.m_CentreX >= -place && trigger.m_CentreX <= place &&
                         trigger.m_CentreY >= -place && trigger.m_CentreY <= place && trigger.m_Radius >= 0 &&
                         trigger.m_Radius <= place && trigger.m_Angle >= -turns && trigger.m_Angle <= turns);
}

} // namespace

// A negative length or hold index would index the buffers below zero; a
// speed or volume beyond the controls' ranges would carry the position or
// the sample values past what the playback arithmetic can hold.
bool WorkspaceReader::ReadLoop(std::istream &in, LoopRecord &loop)
{
    in >> loop.m_ID >> loop.m_Pos >> loop.m_DisplayPos >> loop.m_HoldPos >> loop.m_Playing >> loop.m_Master >>
        loop.m_Length >> loop.m_Speed >> loop.m_Volume >> loop.m_Pan >> loop.m_LeftVol >> loop.m_RightVol;
    if (!in || !ReadFilter(in, loop.m_Filter) || !(in >> loop.m_EffectsOn) || !ReadDelay(in, loop.m_Delay) ||
        !ReadReverb(in, loop.m_Reverb))
        return false;
    return Check(in, loop.m_Length >= 0 && loop.m_HoldPos >= 0 && std::isfinite(loop.m_Pos) &&
                         loop.m_Speed >= 0.0f && loop.m_Speed <= 3.0f && loop.m_Volume >= 0.0f &&
                         loop.m_Volume <= 1.0f && std::isfinite(loop.m_Pan) &&
                         std::isfinite(loop.m_LeftVol) && std::isfinite(loop.m_RightVol));
}

bool WorkspaceReader::ReadPanel(std::istream &in, PanelRecord &panel)
{
    long long count = 0;
    in >> panel.m_X >> panel.m_Y >> panel.m_W >> panel.m_H >> count;
    // A window of no size cannot be shown, and one beyond what X can place
    // or allocate floods it with errors; the count must fit in what is left
    // of the file before any marker is made for it.
    const int place = 32767, size = 4096;
    if (!Check(in, panel.m_X >= -place && panel.m_X <= place && panel.m_Y >= -place && panel.m_Y <= place &&
                       panel.m_W > 0 && panel.m_W <= size && panel.m_H > 0 && panel.m_H <= size &&
                       CountFits(in, count, TriggerValues)))
        return false;
    panel.m_Triggers.resize(static_cast<size_t>(count));
    for (TriggerRecord &trigger : panel.m_Triggers)
        if (!ReadTrigger(in, trigger)) return false;
    return true;
}

bool WorkspaceReader::ReadRecords(std::istream &in, Records &records)
{
    long long count = 0;
    if (!ReadDelay(in, records.m_Delay) || !ReadReverb(in, records.m_Reverb)) return false;
    in >> records.m_MasterLength >> records.m_MasterSpeed >> records.m_MasterPeriod >> records.m_MasterID >>
        count;
    if (!Check(in, MasterTimingFits(records.m_MasterLength, records.m_MasterSpeed, records.m_MasterPeriod) &&
                       CountFits(in, count, LoopEntryValues)))
        return false;
    records.m_Entries.resize(static_cast<size_t>(count));
    for (EntryRecord &entry : records.m_Entries) {
        if (!(in >> entry.m_Number) || !Check(in, LoopNumberFits(entry.m_Number)) ||
            !ReadLoop(in, entry.m_Loop) || !ReadPanel(in, entry.m_Panel))
            return false;
    }
    return true;
}

WorkspaceReader::Result WorkspaceReader::Parse(const std::string &text, Records &records)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    // Four words of title, then the version.
    std::string word;
    int version = 0;
    for (int i = 0; i < 4; i++)
        in >> word;
    if (!(in >> version)) return Bad;
    if (version > FileVersion) return TooNew;
    return ReadRecords(in, records) && ReadExtras(in, records) ? Read : Bad;
}

bool WorkspaceReader::ReadExtras(std::istream &in, Records &records)
{
    std::string word;
    // Anything else after the loops is left alone, as it always was.
    while (in >> word) {
        if (word == "Time") {
            if (!(in >> records.m_Time)) return false;
            records.m_HasTime = true;
        } else if (word == "Quantize") {
            long long count = 0;
            if (!(in >> count) || count < 0 || count > 100000) return false;
            for (long long i = 0; i < count; i++) {
                long long id = 0;
                int step = 0;
                if (!(in >> id >> step) || !LoopNumberFits(id) || step < 0 || step > TempoMap::MasterLoop)
                    return false;
                records.m_Quantize.emplace_back(static_cast<int>(id), static_cast<TempoMap::Step>(step));
            }
        } else if (word == "Plugin") {
            long long length = 0;
            if (!(in >> length) || length < 1 || length > MostPathBytes || in.get() != ' ') return false;
            records.m_Plugin.assign(static_cast<size_t>(length), '\0');
            if (!in.read(&records.m_Plugin[0], length)) return false;
        } else {
            return true;
        }
    }
    return true;
}

bool WorkspaceReader::MasterTimingFits(float length, float speed, float period)
{
    return length >= 0.0f && length < 2147483648.0f && speed >= 0.0f && speed <= 3.0f && period >= 0.0f &&
           std::isfinite(period);
}

bool WorkspaceReader::LoopNumberFits(long long id)
{
    return id >= 0 && id < std::numeric_limits<int>::max();
}

bool WorkspaceReader::CountFits(std::istream &in, long long count, int valuesPerRecord)
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
