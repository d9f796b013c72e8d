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

    bool Allocate(int Size);
    void Clear();
    void Zero();

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

    void Insert(const Sample &S, int Pos);
    void Add(const Sample &S);
    void Mix(const Sample &S, int Pos);
    void Remove(int Start, int End);
    void Reverse(int Start, int End);
    void GetRegion(Sample &S, int Start, int End) const;
    void CropTo(int NewLength);
    void Shrink(int Amount);
    void Expand(int Amount);
    void Rotate(int Offset);

private:
    // Installs a new array of NewLength samples, releasing the old one.
    void Replace(short *NewData, int NewLength);
};

#endif
