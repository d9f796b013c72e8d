#ifndef WORKSPACE_READER_H
#define WORKSPACE_READER_H

#include "Sync/TempoMap.h"
#include "Sync/TimeSettings.h"

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

// Reads a workspace file's text into plain values, with every check a
// record must pass, before anything is built from it: the program builds
// its loops and windows from what this returns, and the fuzzer runs it
// without either.
class WorkspaceReader
{
public:
    struct DelayRecord
    {
        float m_Time = 0, m_Feedback = 0;
        bool m_Bypass = false;
    };
    struct ReverbRecord
    {
        float m_Time = 0, m_Feedback = 0, m_Random = 0;
        bool m_Bypass = false;
    };
    struct FilterRecord
    {
        double m_Cutoff = 0, m_Resonance = 0;
        bool m_CutoffInvert = false, m_ResonanceInvert = false;
    };
    struct LoopRecord
    {
        int m_ID = 0, m_DisplayPos = 0, m_HoldPos = 0;
        double m_Pos = 0;
        bool m_Playing = false, m_Master = false, m_EffectsOn = false;
        long m_Length = 0;
        float m_Speed = 0, m_Volume = 0, m_Pan = 0, m_LeftVol = 0, m_RightVol = 0;
        FilterRecord m_Filter;
        DelayRecord m_Delay;
        ReverbRecord m_Reverb;
    };
    struct TriggerRecord
    {
        int m_CentreX = 0, m_CentreY = 0, m_Radius = 0, m_TargetID = 0, m_Count = 0, m_Passes = 0,
            m_MaxID = 0, m_MaxCount = 0;
        bool m_Dragging = false;
        float m_Angle = 0;
    };
    struct PanelRecord
    {
        int m_X = 0, m_Y = 0, m_W = 0, m_H = 0;
        std::vector<TriggerRecord> m_Triggers;
    };
    // A loop under its number, with its window.
    struct EntryRecord
    {
        int m_Number = 0;
        LoopRecord m_Loop;
        PanelRecord m_Panel;
    };
    struct Records
    {
        DelayRecord m_Delay;
        ReverbRecord m_Reverb;
        float m_MasterLength = 0, m_MasterSpeed = 0, m_MasterPeriod = 0;
        int m_MasterID = 0;
        std::vector<EntryRecord> m_Entries;
        // The plug-in it was saved with, if any: "Plugin", the path's length
        // and the path, after the loops (files without it read as before).
        std::string m_Plugin;
        // The musical time, if saved ("Time" and its values): files without
        // it keep no grid.
        TimeSettings m_Time;
        bool m_HasTime = false;
        // Loops whose Play, stop and takes are quantized: "Quantize", the
        // count, then each loop's number and step (the others are off).
        std::vector<std::pair<int, TempoMap::Step>> m_Quantize;
    };

    enum Result
    {
        Read,
        TooNew, // a version this program does not know
        Bad
    };
    // A whole file: the header, then the records.
    static Result Parse(const std::string &text, Records &records);

    // The records after the header, and one window's record; a record that
    // is not whole or holds a wrong value sets the stream's failbit.
    static bool ReadRecords(std::istream &in, Records &records);
    static bool ReadLoop(std::istream &in, LoopRecord &loop);
    static bool ReadPanel(std::istream &in, PanelRecord &panel);
    // The records that may follow the loops (the plug-in, the time), in any
    // order; false for a damaged one. Anything else is left alone.
    static bool ReadExtras(std::istream &in, Records &records);
    static const int MostPathBytes = 4096;

    // Master timing a loop can be matched to: a length an int holds and a
    // speed the Speed knob can give.
    static bool MasterTimingFits(float length, float speed, float period);
    // Numbers the loop counter can give and still count on from: 0 up to
    // the largest int less one.
    static bool LoopNumberFits(long long id);
    // Whether count records of at least valuesPerRecord values each could
    // still follow in the stream; a count no file could hold is refused
    // before anything is built for it.
    static bool CountFits(std::istream &in, long long count, int valuesPerRecord);

    // Values of the smallest loop entry (number, loop record, panel record
    // with no markers) and of a trigger record.
    static const int LoopEntryValues = 30;
    static const int TriggerValues = 10;
    // Files only this version and older ones wrote can be read.
    static const int FileVersion = 1;
};

#endif
