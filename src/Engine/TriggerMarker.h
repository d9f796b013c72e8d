#ifndef TRIGGER_MARKER_H
#define TRIGGER_MARKER_H

// A marker on a loop's ring as the engine applies it: when the loop's play
// step passes m_Angle (degrees of the play length) the loop numbered
// m_TargetID restarts; on the pass after m_Count passes the marker's own loop
// stops. The window shows and edits it; the engine counts the passes.
struct TriggerMarker
{
    float m_Angle = 0.0f;
    int m_TargetID = 0;
    int m_Count = 0;
    int m_Passes = 0;
};

#endif
