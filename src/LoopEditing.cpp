#include "Loop.h"

#include "KorvelSound/Fade.h"
#include "LoopHost.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

// The edits of a loop's sound, made on the GUI's side: each holds the loop,
// so the engine keeps off it until the sound is whole again. With fades on,
// each join an edit makes crosses from the sound that went on there before
// to the new one, or dips where nothing went on (see Fade).

namespace {

// The values at both ends of [start, end) before an edit in place, the end's
// read backwards from its last.
struct EdgeValues
{
    std::vector<short> head, tail;
};

EdgeValues KeepEdges(const Sample &sound, int start, int end, int frames)
{
    EdgeValues edges;
    if (start < 0 || end > sound.GetLength() || start > end) return edges;
    const int n = std::min(frames, (end - start) / 2);
    for (int k = 0; k < n; k++) {
        edges.head.push_back(sound[start + k]);
        edges.tail.push_back(sound[end - 1 - k]);
    }
    return edges;
}

void CrossEdges(Sample &sound, int start, int end, const EdgeValues &edges)
{
    const int n = static_cast<int>(edges.head.size());
    Fade::Cross(sound, start, 1, edges.head.data(), n);
    Fade::Cross(sound, end - 1, -1, edges.tail.data(), n);
}

} // namespace

void Loop::Cut(int Start, int End)
{
    HandOverHold held(m_HandOver);
    if (!m_App) return;
    BeginChange();
    const int lengthBefore = m_StoreBuffer.GetLength();
    m_App->Cut(m_StoreBuffer, Start, End);
    // What follows the cut crosses in from the start of what was cut, which
    // went on from the sound before the join. A cut to the end leaves the
    // join at the seam, which playback fades.
    const int length = m_StoreBuffer.GetLength();
    if (length < lengthBefore && Start < length) {
        const Sample &cut = m_App->m_Clipboard;
        const int n = std::min({FadeFrames(), cut.GetLength(), length - Start});
        Fade::Cross(m_StoreBuffer, Start, 1, cut.GetBuffer(), n);
    }
    FitToSound();
    EndChange();
}

void Loop::Copy(int Start, int End)
{
    if (m_App) m_App->Copy(m_StoreBuffer, Start, End);
}

void Loop::Paste(int Pos)
{
    HandOverHold held(m_HandOver);
    if (!m_App) return;
    // The hold buffer grows first, so a paste too big for memory changes nothing.
    const int holdLength = m_HoldBuffer.GetLength();
    if (!m_HoldBuffer.Expand(m_App->m_Clipboard.GetLength())) return;
    BeginChange();
    if (!m_App->Paste(m_StoreBuffer, Pos)) {
        if (m_HoldBuffer.GetLength() > holdLength) m_HoldBuffer.CropTo(holdLength);
        EndChange();
        return;
    }
    // The pasted part crosses in from the sound it was put into, and back
    // out to the sound that led up to where it now goes on (round the seam
    // for a paste at either end).
    const int pasted = m_App->m_Clipboard.GetLength();
    const int length = m_StoreBuffer.GetLength();
    const int n = std::min({FadeFrames(), pasted / 2, length - pasted});
    std::vector<short> after(std::max(0, n)), before(std::max(0, n));
    for (int k = 0; k < n; k++) {
        after[k] = m_StoreBuffer[(Pos + pasted + k) % length];
        before[k] = m_StoreBuffer[(Pos - 1 - k + length) % length];
    }
    Fade::Cross(m_StoreBuffer, Pos, 1, after.data(), n);
    Fade::Cross(m_StoreBuffer, Pos + pasted - 1, -1, before.data(), n);
    FitToSound();
    EndChange();
}

void Loop::PasteMix(int Pos)
{
    HandOverHold held(m_HandOver);
    if (!m_App || m_StoreBuffer.GetLength() == 0) return;
    BeginChange();
    if (FadeFrames() > 0) {
        // The layer mixed in fades in and out.
        Sample layer(m_App->m_Clipboard);
        Fade::Edges(layer, FadeFrames());
        m_StoreBuffer.Mix(layer, Pos);
    } else {
        m_App->PasteMix(m_StoreBuffer, Pos);
    }
    EndChange();
}

void Loop::Silence(int Start, int End)
{
    HandOverHold held(m_HandOver);
    BeginChange();
    const EdgeValues edges = KeepEdges(m_StoreBuffer, Start, End, FadeFrames());
    for (int i = Start; i < End; i++)
        m_StoreBuffer[i] = 0;
    CrossEdges(m_StoreBuffer, Start, End, edges);
    EndChange();
}

void Loop::Reverse(int Start, int End)
{
    HandOverHold held(m_HandOver);
    BeginChange();
    const EdgeValues edges = KeepEdges(m_StoreBuffer, Start, End, FadeFrames());
    m_StoreBuffer.Reverse(Start, End);
    CrossEdges(m_StoreBuffer, Start, End, edges);
    EndChange();
}

void Loop::Halve()
{
    HandOverHold held(m_HandOver);
    const int length = m_StoreBuffer.GetLength();
    if (length == 0) return;
    BeginChange();
    m_StoreBuffer.Shrink(length / 2);
    const int holdLength = m_HoldBuffer.GetLength();
    if (holdLength > 0) m_HoldBuffer.Shrink(holdLength / 2);
    if (m_LoopLength > m_StoreBuffer.GetLength()) m_LoopLength = m_StoreBuffer.GetLength();
    if (m_Pos > static_cast<double>(m_LoopLength)) m_Pos = 0.0;
    EndChange();
}

void Loop::KeepHold()
{
    HandOverHold held(m_HandOver);
    // Nothing of a fresh take is held yet: keeping the hold buffer would
    // throw away what has been recorded so far.
    if (FreshTakeRunning()) return;
    BeginChange();
    const int length = m_HoldBuffer.GetLength();
    if (m_StoreBuffer.Allocate(length)) {
        if (length > 0)
            std::memcpy(m_StoreBuffer.GetBuffer(), m_HoldBuffer.GetBuffer(), length * sizeof(short));
        if (m_LoopLength > length) m_LoopLength = length;
        if (m_Pos > static_cast<double>(m_LoopLength)) m_Pos = 0.0;
        // Where the newest of what was heard meets the oldest.
        if (m_HoldPos > 0 && m_HoldPos < length) Fade::Dip(m_StoreBuffer, m_HoldPos, FadeFrames());
    }
    EndChange();
}

void Loop::Rotate(int Offset, bool sameGesture)
{
    HandOverHold held(m_HandOver);
    BeginChange(sameGesture);
    m_StoreBuffer.Rotate(Offset);
    // The old seam is now inside the sound. A drag's later steps carry the
    // first step's dip along with the sound; a dip each would mark places
    // that were never a seam.
    const int length = m_StoreBuffer.GetLength();
    if (!sameGesture && length > 0) {
        const int seam = ((length - Offset % length) % length + length) % length;
        if (seam != 0) Fade::Dip(m_StoreBuffer, seam, FadeFrames());
    }
    EndChange();
}

void Loop::Double()
{
    HandOverHold held(m_HandOver);
    BeginChange();
    if (m_LoopLength < m_StoreBuffer.GetLength()) {
        const int length = static_cast<int>(m_LoopLength);
        m_StoreBuffer.CropTo(length);
        if (length < m_HoldBuffer.GetLength()) m_HoldBuffer.CropTo(length);
    }
    // The hold buffer first: if the sound cannot follow, it goes back.
    const int holdLength = m_HoldBuffer.GetLength();
    if (m_HoldBuffer.Add(m_HoldBuffer)) {
        const int once = m_StoreBuffer.GetLength();
        if (m_StoreBuffer.Add(m_StoreBuffer)) {
            m_LoopLength = m_StoreBuffer.GetLength();
            // The seam is now in the middle too.
            Fade::Dip(m_StoreBuffer, once, FadeFrames());
        } else if (m_HoldBuffer.GetLength() > holdLength)
            m_HoldBuffer.CropTo(holdLength);
    }
    EndChange();
}

void Loop::MatchLength(int Length)
{
    HandOverHold held(m_HandOver);
    BeginChange();
    const int length = m_StoreBuffer.GetLength();
    if (Length < length) {
        m_LoopLength = Length;
    } else if (length != 0) {
        // The hold buffer first: if the sound cannot follow, it goes back.
        const int holdLength = m_HoldBuffer.GetLength();
        if (m_HoldBuffer.Expand(Length - length)) {
            if (m_StoreBuffer.Expand(Length - length))
                // Padded to the master's length, the loop plays all of it: one period.
                m_LoopLength = Length;
            else if (m_HoldBuffer.GetLength() > holdLength)
                m_HoldBuffer.CropTo(holdLength);
        }
    } else {
        AllocateMem(Length);
        m_StoreBuffer.Zero();
    }
    EndChange();
}

void Loop::BeginChange(bool join)
{
    // A take in progress: what it recorded so far is a step of its own.
    if (m_History.Changing()) m_History.End(m_StoreBuffer, m_LoopLength);
    m_History.Begin(m_StoreBuffer, m_LoopLength, join);
}

void Loop::EndChange()
{
    m_Changes++;
    m_History.End(m_StoreBuffer, m_LoopLength);
    // The take goes on after an edit made during it.
    if (m_Recording) m_History.Begin(m_StoreBuffer, m_LoopLength);
}

bool Loop::Undo()
{
    // The engine stops the take before the loop is held for the undo.
    const bool recording = m_Recording;
    if (recording) StopTake();
    HandOverHold held(m_HandOver);
    if (recording) {
        const int64_t steps = m_History.StepsMade();
        EndRecord();
        // A take that recorded nothing only ends.
        if (m_History.StepsMade() == steps) return false;
    }
    if (!m_History.Undo(m_StoreBuffer, m_LoopLength)) return false;
    FitToStep();
    return true;
}

bool Loop::Redo()
{
    HandOverHold held(m_HandOver);
    if (m_Recording || !m_History.Redo(m_StoreBuffer, m_LoopLength)) return false;
    FitToStep();
    return true;
}

void Loop::FitToStep()
{
    m_Changes++;
    if (m_Pos > static_cast<double>(m_LoopLength)) m_Pos = 0.0;
    const int length = m_StoreBuffer.GetLength();
    if (m_HoldBuffer.GetLength() == length) return;
    m_HoldBuffer.Allocate(length);
    m_HoldBuffer.Zero();
}

// Workspace records.

std::ostream &operator<<(std::ostream &out, Loop &loop)
{
    out << loop.m_ID << ' ';
    // Six digits as ever below 2^24, where a float position could be;
    // beyond, as many as keep the position exact.
    if (loop.m_Pos < 16777216.0) {
        out << loop.m_Pos;
    } else {
        const std::streamsize precision = out.precision(std::numeric_limits<double>::max_digits10);
        out << loop.m_Pos;
        out.precision(precision);
    }
    out << ' ' << loop.m_DisplayPos << ' ' << loop.m_HoldPos << ' ' << loop.m_Playing << ' ' << loop.m_Master
        << ' ' << static_cast<long>(loop.m_LoopLength) << ' ' << loop.m_Speed << ' ' << loop.m_Volume << ' '
        << loop.m_Pan << ' ' << loop.m_LeftVol << ' ' << loop.m_RightVol << ' ';
    out << loop.m_Filter << ' ' << loop.m_EffectsOn << ' ' << loop.m_Delay << ' ' << loop.m_Reverb << ' ';
    return out;
}
