#ifndef SAMPLE_H
#define SAMPLE_H

#include <cstdint>

// Ends the program with a message naming the function, the source file and
// the failed expression. Sample preconditions are part of the program's
// behaviour, so this is active in every build type.
[[noreturn]] void SampleAssertFail(const char *function, const char *file, const char *expression);

#define SAMPLE_ASSERT(function, file, expression)                                                            \
    ((expression) ? (void)0 : SampleAssertFail(function, file, #expression))

// The audio buffer of the whole program: an owned array of 16-bit signed
// samples with an explicit length, bounds-checked access and the editing
// operations of the loop editor. Operations that change the length build a
// new array; region copies and removals move whole blocks of BufferSize.
// Plug-ins read m_Data and m_Length directly, so their order is fixed.
// Nothing here throws: an operation that needs more memory than there is
// says so in one line, returns false and leaves the sample as it was, and
// operations that shorten the sample always succeed.
class Sample
{
public:
    short *m_Data;
    int64_t m_Length;

    Sample(int Len = 0);
    Sample(const Sample &other);
    Sample(const short *S, int Len);
    ~Sample();
    Sample &operator=(const Sample &) = delete;

    // The new storage is allocated before the old one goes, so a failure
    // keeps the old sound.
    bool Allocate(int Size);
    void Clear();
    void Zero();
    void Swap(Sample &other);

    int GetLength() const { return static_cast<int>(m_Length); }
    short *GetBuffer() { return m_Data; }
    const short *GetBuffer() const { return m_Data; }

    // The asserted expressions are printed as written.
    // clang-format off
    short &operator[](int i)
    {
        SAMPLE_ASSERT("operator[]", "KorvelSound/Sample.h", i>=0 && i<m_Length);
        return m_Data[i];
    }
    short operator[](int i) const
    {
        SAMPLE_ASSERT("operator[]", "KorvelSound/Sample.h", i>=0 && i<m_Length);
        return m_Data[i];
    }
    void Set(int i, short v)
    {
        SAMPLE_ASSERT("Set", "KorvelSound/Sample.h", i>=0 && i<m_Length);
        m_Data[i] = v;
    }
    // clang-format on

    bool Insert(const Sample &S, int Pos);
    bool Add(const Sample &S);
    void Mix(const Sample &S, int Pos);
    void Remove(int Start, int End);
    void Reverse(int Start, int End);
    bool GetRegion(Sample &S, int Start, int End) const;
    void CropTo(int NewLength);
    void Shrink(int Amount);
    bool Expand(int Amount);
    void Rotate(int Offset);

private:
    // Installs a new array of NewLength samples, releasing the old one.
    void Replace(short *NewData, int NewLength);
    // Keeps the first NewLength samples, in a tighter array when there is
    // memory for one.
    void Truncate(int NewLength);
};

#endif
