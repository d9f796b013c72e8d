#include "KorvelSound/Sample.h"

#include "KorvelInfo.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// The asserted expressions are printed as written; the formatter must not
// respace them.
// clang-format off
namespace {
const char *const SourceFile = "KorvelSound/Sample.cpp";

short ClampToSample(int64_t value)
{
    if (value > KorvelInfo::MaxSampleValue) return static_cast<short>(KorvelInfo::MaxSampleValue);
    if (value < -KorvelInfo::MaxSampleValue) return static_cast<short>(-KorvelInfo::MaxSampleValue);
    return static_cast<short>(value);
}

// Region lengths are rounded down to whole blocks so that loops built from
// whole blocks stay so after a cut.
int WholeBlocks(int length)
{
    int block = KorvelInfo::BufferSize;
    return length - length % block;
}

// An array for count samples, or null and one line when there is no memory
// for it or no sample could be that long.
short *NewValues(int64_t count)
{
    short *data = count >= 0 && count <= INT_MAX ? new (std::nothrow) short[count] : nullptr;
    if (!data)
        std::fprintf(stderr, "Not enough memory for a sound of %lld samples\n", static_cast<long long>(count));
    return data;
}
} // namespace

void SampleAssertFail(const char *function, const char *file, const char *expression)
{
    std::fprintf(stderr, "Assertion failed: function %s, file %s, expression %s\n", function, file, expression);
    std::fflush(stderr);
    std::abort();
}

Sample::Sample(int Len) : m_Data(nullptr), m_Length(0)
{
    if (Len != 0 && (m_Data = NewValues(Len))) m_Length = Len;
}

Sample::Sample(const Sample &other) : m_Data(nullptr), m_Length(0)
{
    if (other.m_Data && (m_Data = NewValues(other.m_Length))) {
        std::memcpy(m_Data, other.m_Data, other.m_Length * sizeof(short));
        m_Length = other.m_Length;
    }
}

Sample::Sample(const short *S, int Len) : m_Data(nullptr), m_Length(0)
{
    SAMPLE_ASSERT("Sample", SourceFile, S);
    if ((m_Data = NewValues(Len))) {
        std::memcpy(m_Data, S, Len * sizeof(short));
        m_Length = Len;
    }
}

Sample::~Sample()
{
    delete[] m_Data;
}

bool Sample::Allocate(int Size)
{
    short *data = Size >= 0 ? new (std::nothrow) short[Size] : nullptr;
    if (!data) return false;
    Replace(data, Size);
    return true;
}

void Sample::Clear()
{
    delete[] m_Data;
    m_Data = nullptr;
    m_Length = 0;
}

void Sample::Zero()
{
    if (m_Length > 0) std::memset(m_Data, 0, m_Length * sizeof(short));
}

void Sample::Swap(Sample &other)
{
    std::swap(m_Data, other.m_Data);
    std::swap(m_Length, other.m_Length);
}

void Sample::Replace(short *NewData, int NewLength)
{
    delete[] m_Data;
    m_Data = NewData;
    m_Length = NewLength;
}

void Sample::Truncate(int NewLength)
{
    short *data = new (std::nothrow) short[NewLength];
    if (!data) {
        m_Length = NewLength;
        return;
    }
    std::copy(m_Data, m_Data + NewLength, data);
    Replace(data, NewLength);
}

bool Sample::Insert(const Sample &S, int Pos)
{
    SAMPLE_ASSERT("Insert", SourceFile, Pos<=GetLength());
    SAMPLE_ASSERT("Insert", SourceFile, Pos>=0);
    int oldLength = GetLength();
    int insertLength = S.GetLength();
    short *data = NewValues(static_cast<int64_t>(oldLength) + insertLength);
    if (!data) return false;
    // S may be this very sample: everything is read before the old array goes.
    std::copy(m_Data, m_Data + Pos, data);
    std::copy(S.m_Data, S.m_Data + insertLength, data + Pos);
    std::copy(m_Data + Pos, m_Data + oldLength, data + Pos + insertLength);
    Replace(data, oldLength + insertLength);
    return true;
}

bool Sample::Add(const Sample &S)
{
    return Insert(S, GetLength());
}

void Sample::Mix(const Sample &S, int Pos)
{
    SAMPLE_ASSERT("Mix", SourceFile, Pos<=GetLength());
    SAMPLE_ASSERT("Mix", SourceFile, Pos>=0);
    int length = GetLength();
    if (length == 0) return; // nothing to mix into; wrapping would never end
    int position = Pos;
    for (int i = 0; i < S.GetLength(); i++) {
        if (position >= length) position = 0;
        m_Data[position] = ClampToSample(static_cast<int64_t>(m_Data[position]) + S.m_Data[i]);
        position++;
    }
}

void Sample::Remove(int Start, int End)
{
    SAMPLE_ASSERT("Remove", SourceFile, End<=GetLength() && Start<=GetLength());
    SAMPLE_ASSERT("Remove", SourceFile, Start<=End);
    SAMPLE_ASSERT("Remove", SourceFile, Start>=0);
    int removed = WholeBlocks(End - Start);
    int NewLen = GetLength() - removed;
    short *data = new (std::nothrow) short[NewLen];
    // Without memory for a new array the values move down in place: every
    // write lands at or behind the value being read.
    short *to = data ? data : m_Data;
    int ToPos = 0;
    for (int from = 0; from < GetLength(); from++) {
        if (from >= Start && from < Start + removed) continue;
        // Counted before the store, so the check guards the write itself.
        ToPos++;
        SAMPLE_ASSERT("Remove", SourceFile, ToPos<=NewLen);
        to[ToPos - 1] = m_Data[from];
    }
    if (data)
        Replace(data, NewLen);
    else
        m_Length = NewLen;
}

void Sample::Reverse(int Start, int End)
{
    SAMPLE_ASSERT("Reverse", SourceFile, End<=GetLength() && Start<=GetLength());
    SAMPLE_ASSERT("Reverse", SourceFile, Start<=End);
    SAMPLE_ASSERT("Reverse", SourceFile, Start>=0);
    int NewLen = End - Start;
    int ToPos = 0;
    for (int from = End - 1; ToPos < NewLen / 2; from--) {
        SAMPLE_ASSERT("Reverse", SourceFile, ToPos<=NewLen);
        std::swap(m_Data[Start + ToPos], m_Data[from]);
        ToPos++;
    }
}

bool Sample::GetRegion(Sample &S, int Start, int End) const
{
    SAMPLE_ASSERT("GetRegion", SourceFile, End<=GetLength() && Start<=GetLength());
    SAMPLE_ASSERT("GetRegion", SourceFile, Start<=End);
    SAMPLE_ASSERT("GetRegion", SourceFile, Start>=0);
    int length = WholeBlocks(End - Start);
    short *data = NewValues(length);
    if (!data) return false;
    std::copy(m_Data + Start, m_Data + Start + length, data);
    S.Replace(data, length);
    return true;
}

void Sample::CropTo(int NewLength)
{
    SAMPLE_ASSERT("CropTo", SourceFile, NewLength<GetLength());
    SAMPLE_ASSERT("CropTo", SourceFile, NewLength>=0);
    Truncate(NewLength);
}

void Sample::Shrink(int Amount)
{
    int NewLength = GetLength() - Amount;
    SAMPLE_ASSERT("Shrink", SourceFile, NewLength>0 && NewLength<=GetLength());
    Truncate(NewLength);
}

bool Sample::Expand(int Amount)
{
    SAMPLE_ASSERT("Expand", SourceFile, Amount>=0);
    int length = GetLength();
    short *data = NewValues(static_cast<int64_t>(length) + Amount);
    if (!data) return false;
    std::copy(m_Data, m_Data + length, data);
    std::fill(data + length, data + length + Amount, 0);
    Replace(data, length + Amount);
    return true;
}

void Sample::Rotate(int Offset)
{
    int length = GetLength();
    if (length == 0) return;
    int offset = Offset % length;
    if (offset < 0) offset += length;
    std::rotate(m_Data, m_Data + offset, m_Data + length);
}
// clang-format on
