#include "Sync/TimeSettings.h"

#include "Sync/SyncSource.h"
#include "Sync/TempoMap.h"

#include <cmath>
#include <istream>
#include <ostream>

bool TimeSettings::IsDefault() const
{
    const TimeSettings none;
    return m_Bpm == none.m_Bpm && m_BeatsPerBar == none.m_BeatsPerBar && m_FirstBars == none.m_FirstBars &&
           m_Click == none.m_Click && m_ClickLevel == none.m_ClickLevel &&
           m_ClickInMix == none.m_ClickInMix && m_ClockOut == none.m_ClockOut &&
           m_TakeBars == none.m_TakeBars && m_MatchBars == none.m_MatchBars &&
           m_Sync == none.m_Sync;
}

std::ostream &operator<<(std::ostream &out, const TimeSettings &time)
{
    return out << "Time " << time.m_Bpm << ' ' << time.m_BeatsPerBar << ' ' << time.m_FirstBars << ' '
               << time.m_Click << ' ' << time.m_ClickLevel << ' ' << time.m_ClickInMix << ' '
               << time.m_ClockOut << ' ' << time.m_TakeBars << ' ' << time.m_MatchBars << ' ' << time.m_Sync << ' ';
}

std::istream &operator>>(std::istream &in, TimeSettings &time)
{
    TimeSettings read;
    in >> read.m_Bpm >> read.m_BeatsPerBar >> read.m_FirstBars >> read.m_Click >> read.m_ClickLevel >>
        read.m_ClickInMix >> read.m_ClockOut >> read.m_TakeBars >> read.m_MatchBars >> read.m_Sync;
    const bool fits =
        std::isfinite(read.m_Bpm) &&
        (read.m_Bpm == 0 || (read.m_Bpm >= TempoMap::MinBpm && read.m_Bpm <= TempoMap::MaxBpm)) &&
        read.m_BeatsPerBar >= 1 && read.m_BeatsPerBar <= TempoMap::MaxBeatsPerBar && read.m_FirstBars >= 0 &&
        read.m_FirstBars <= 64 && read.m_ClickLevel >= 0 && read.m_ClickLevel <= 1 && read.m_Sync >= 0 &&
        read.m_Sync < SyncSource::Choices;
    if (in && fits)
        time = read;
    else
        in.setstate(std::ios::failbit);
    return in;
}
