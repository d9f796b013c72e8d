#ifndef LOOP_TEST_SUPPORT_H
#define LOOP_TEST_SUPPORT_H

#include "KorvelInfo.h"
#include "KorvelSound/ReferenceEngine.h"
#include "Loop.h"

#include <algorithm>
#include <vector>

// Ways the loop tests give a loop its sound, run it and record into it.

inline std::vector<short> Ramp(int length, int start = 1)
{
    std::vector<short> values(length);
    for (int i = 0; i < length; i++)
        values[i] = static_cast<short>(start + i);
    return values;
}

// A loop holding the given sound, playing all of it.
inline void GiveSound(Loop &loop, const std::vector<short> &sound)
{
    loop.AllocateMem(static_cast<int>(sound.size()));
    for (size_t i = 0; i < sound.size(); i++)
        loop.m_StoreBuffer[static_cast<int>(i)] = sound[i];
    loop.m_LoopLength = static_cast<int64_t>(sound.size());
}

inline std::vector<short> Block(Loop &loop, bool *produced = nullptr)
{
    Sample out(KorvelInfo::BufferSize);
    out.Zero();
    bool result = loop.GetOutput(out);
    if (produced) *produced = result;
    return reference::Values(out);
}

// Record blocks of input into the loop, then release the Record button.
inline void RecordTake(Loop &loop, const std::vector<short> &input)
{
    const int B = KorvelInfo::BufferSize;
    std::vector<short> block(B, 0);
    loop.m_Input = block.data();
    loop.m_Recording = true;
    Sample out(B);
    for (size_t start = 0; start < input.size(); start += B) {
        std::fill(block.begin(), block.end(), 0);
        std::copy(input.begin() + start, input.begin() + std::min(input.size(), start + B), block.begin());
        loop.GetOutput(out);
    }
    loop.m_Recording = false;
    loop.EndRecord();
    loop.m_Input = nullptr;
}

#endif
