#include "WavLoopTarget.h"

#include "ErrorCapture.h"
#include "InputFile.h"
#include "KorvelInfo.h"
#include "KorvelSound/Sample.h"
#include "KorvelSound/WavFile.h"
#include "Loop.h"
#include "LoopHost.h"

#include <sstream>
#include <vector>

namespace {

const int OldLength = 1000;

// Deterministic choices drawn from the input itself.
class Choices
{
public:
    Choices(const uint8_t *data, size_t size) : m_State(1469598103934665603ULL)
    {
        for (size_t i = 0; i < size; i++) m_State = (m_State ^ data[i]) * 1099511628211ULL;
    }
    unsigned Next(unsigned range)
    {
        m_State = m_State * 6364136223846793005ULL + 1442695040888963407ULL;
        return range == 0 ? 0 : static_cast<unsigned>((m_State >> 33) % range);
    }

private:
    uint64_t m_State;
};

std::string Check(const Loop &loop, const char *after)
{
    std::ostringstream problem;
    if (loop.m_LoopLength < 0 || loop.m_LoopLength > loop.m_StoreBuffer.GetLength())
        problem << "after " << after << ": play length " << loop.m_LoopLength << " outside the sound of "
                << loop.m_StoreBuffer.GetLength();
    else if (loop.m_HoldBuffer.GetLength() != loop.m_StoreBuffer.GetLength())
        problem << "after " << after << ": hold buffer " << loop.m_HoldBuffer.GetLength() << " but sound "
                << loop.m_StoreBuffer.GetLength();
    return problem.str();
}

void Reset(Loop &loop, LoopHost *host)
{
    loop.Clear();
    loop.m_RecordBuffer.Clear();
    loop.m_App = host;
    loop.m_Pos = 0.0f;
    loop.m_DisplayPos = 0;
    loop.m_HoldPos = 0;
    loop.m_Playing = true;
    loop.m_Recording = false;
    loop.m_LoopLength = 0;
    loop.m_Speed = 1.0f;
    loop.m_Volume = 1.0f;
    loop.m_Input = nullptr;
    loop.m_RecordPos = 0;
    loop.m_StartRecord = true;
    loop.m_Overdub = false;
    loop.m_EffectsOn = false;
}

} // namespace

std::string WavLoopTarget::Run(const uint8_t *data, size_t size)
{
    static InputFile input(".wav");
    if (!input.Write(data, size)) return "";

    // What the reader itself makes of the file decides what the loop must show.
    bool accepted;
    bool stereo;
    int count;
    {
        ErrorCapture quiet;
        WavFile probe;
        accepted = probe.Open(input.Path(), WavFile::READ, WavFile::MONO) != 0;
        stereo = probe.IsStereo();
        count = probe.GetSampleCount();
        // Workspaces read the comment of their loop files: it walks every chunk.
        WavFile::ReadComment(input.Path());
    }

    // Building a loop's delay lines costs more than everything else here, so
    // one loop serves every input, set back to a new loop's state each time.
    // Its effects keep their state, which changes sample values but never a
    // length or a position.
    static Loop loop(nullptr);
    LoopHost host;
    Reset(loop, &host);
    loop.AllocateMem(OldLength);
    for (int i = 0; i < OldLength; i++) loop.m_StoreBuffer.Set(i, static_cast<short>(i * 31 - 15000));
    loop.m_Pos = 500.0f;
    std::vector<short> old(loop.m_StoreBuffer.GetBuffer(), loop.m_StoreBuffer.GetBuffer() + OldLength);

    ErrorCapture messages;
    loop.LoadWav(input.Path());

    std::ostringstream problem;
    if (!accepted || count < 0) {
        std::vector<short> now(loop.m_StoreBuffer.GetBuffer(),
                               loop.m_StoreBuffer.GetBuffer() + loop.m_StoreBuffer.GetLength());
        if (now != old || loop.m_LoopLength != OldLength) problem << "a refused file changed the loop";
        else if (messages.Lines() != 1)
            problem << "a refused file gave " << messages.Lines() << " lines: " << messages.Text();
        return problem.str();
    }
    const int frames = stereo ? count / 2 : count;
    if (loop.m_StoreBuffer.GetLength() != frames)
        problem << "loaded " << loop.m_StoreBuffer.GetLength() << " samples of " << frames;
    else if (loop.m_LoopLength != std::min(OldLength, frames))
        problem << "play length " << loop.m_LoopLength << " after loading " << frames;
    else if (messages.Lines() > 2)
        problem << "loading gave " << messages.Lines() << " lines: " << messages.Text();
    if (!problem.str().empty()) return problem.str();
    std::string broken = Check(loop, "loading");
    if (!broken.empty()) return broken;

    // Play it through everything a loop has, then edit it as the display would:
    // positions always within the play length.
    Choices choose(data, size);
    const float speeds[] = {0.0f, 0.5f, 1.0f, 1.7f, 3.0f};
    loop.m_Speed = speeds[choose.Next(5)];
    loop.m_Filter.m_Bypass = false;
    loop.m_Filter.m_Cutoff = 10 + choose.Next(10000);
    loop.m_Filter.m_Resonance = 1 + choose.Next(10);
    loop.m_EffectsOn = choose.Next(2) == 1;
    Sample out(KorvelInfo::BufferSize);
    out.Zero();
    Sample input16(KorvelInfo::BufferSize);
    for (int i = 0; i < KorvelInfo::BufferSize; i++) input16.Set(i, static_cast<short>(choose.Next(65535) - 32767));
    loop.m_Input = input16.GetBuffer();
    loop.m_Reverb.m_Bypass = choose.Next(2) == 1;
    loop.m_Delay.m_Bypass = choose.Next(2) == 1;

    const char *names[] = {"Cut", "Copy", "Paste", "PasteMix", "Silence", "Reverse", "Halve",
                           "KeepHold", "Rotate", "Double", "MatchLength", "Overdub", "Length"};
    for (int step = 0; step < 12; step++) {
        loop.GetOutput(out);
        const int length = static_cast<int>(loop.m_LoopLength);
        int a = static_cast<int>(choose.Next(length + 1));
        int b = static_cast<int>(choose.Next(length + 1));
        if (a > b) std::swap(a, b);
        const unsigned which = choose.Next(13);
        switch (which) {
        case 0: loop.Cut(a, b); break;
        case 1: loop.Copy(a, b); break;
        case 2: loop.Paste(a); break;
        case 3: loop.PasteMix(a); break;
        case 4: loop.Silence(a, b); break;
        case 5: loop.Reverse(a, b); break;
        case 6: loop.Halve(); break;
        case 7: loop.KeepHold(); break;
        case 8: loop.Rotate(b - a); break;
        case 9:
            if (loop.m_StoreBuffer.GetLength() < 1 << 18) loop.Double();
            break;
        case 10: loop.MatchLength(static_cast<int>(choose.Next(4 * OldLength))); break;
        case 11:
            loop.m_Recording = true;
            loop.GetOutput(out);
            loop.GetOutput(out);
            loop.m_Recording = false;
            loop.EndRecord();
            break;
        default:
            loop.m_LoopLength = static_cast<int>(loop.GetTotalLength() * (choose.Next(10001) / 10000.0));
            break;
        }
        broken = Check(loop, names[which]);
        if (!broken.empty()) return broken;
    }
    loop.m_Input = nullptr;
    loop.Clear();
    return "";
}
