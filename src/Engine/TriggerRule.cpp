#include "Engine/TriggerRule.h"

#include "Engine/AudioEngine.h"
#include "Loop.h"

#include <algorithm>

namespace {

// In float as it always was: a marker's place on the ring needs no more.
float AngleOf(const Loop &loop, double pos)
{
    return loop.m_LoopLength == 0 ? 0.0f : static_cast<float>(pos) / loop.m_LoopLength * 360.0f;
}

} // namespace

void TriggerRule::Pass(Loop &loop, float from, float to, bool wrapped, std::vector<int> &targets)
{
    // Half-open, (from, to]: a marker where one step ends fires then and not
    // again as the next step leaves it. Going round passes the rest of the
    // ring and its start, so a marker at 0 (or 360) fires once per lap.
    for (TriggerMarker &marker : loop.m_Markers) {
        const float at = marker.m_Angle;
        const bool passed = wrapped ? (at > from || at <= to) : (at > from && at <= to);
        if (!passed) continue;
        if (marker.m_Count != 0 && marker.m_Passes == marker.m_Count) loop.m_Playing = false;
        targets.push_back(marker.m_TargetID);
        if (marker.m_Passes >= marker.m_Count)
            marker.m_Passes = 0;
        else
            marker.m_Passes++;
    }
}

void TriggerRule::Apply(const std::vector<Loop *> &loops, std::vector<int> &targets,
                        const AudioEngine *engine)
{
    targets.clear();
    for (Loop *loop : loops) {
        // Only what the last play step covered counts as passed; a position
        // set by a restart, a click or an edit passes nothing. A loop the
        // windows hold for an edit passes nothing either.
        if (loop->m_Markers.empty() || !loop->m_HandOver.Enter()) continue;
        Pass(*loop, AngleOf(*loop, loop->m_StepFrom), AngleOf(*loop, loop->m_StepTo), loop->m_Wrapped,
             targets);
        loop->m_HandOver.Leave();
    }
    // Restarts come after every loop's markers were looked at: a loop that
    // stopped itself on its last pass and is restarted by another plays on.
    for (int id : targets) {
        auto found = std::lower_bound(loops.begin(), loops.end(), id,
                                      [](const Loop *loop, int wanted) { return loop->m_ID < wanted; });
        if (found == loops.end() || (*found)->m_ID != id || !(*found)->m_HandOver.Enter()) continue;
        Loop &target = **found;
        if (engine && AudioEngine::Quantized(target, engine->m_Transport.Map())) {
            // On its next line, a restart already waiting standing.
            if (target.m_RestartAt < 0) target.m_RestartAt = engine->NextLine(target);
        } else {
            target.m_Pos = 0.0;
            target.m_Playing = true;
        }
        target.m_HandOver.Leave();
    }
}
