#include "KorvelSound/Sample.h"

#include "KorvelInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

Sample Ramp(int length, int start = 0)
{
    Sample s(length);
    for (int i = 0; i < length; i++)
        s.Set(i, static_cast<short>(start + i));
    return s;
}

std::vector<short> Values(const Sample &s)
{
    return std::vector<short>(s.m_Data, s.m_Data + s.GetLength());
}

} // namespace

TEST(SampleTest, InsertPlacesTheOtherSampleAtThePosition)
{
    Sample s = Ramp(4);
    Sample other = Ramp(2, 100);
    s.Insert(other, 1);
    EXPECT_EQ(Values(s), (std::vector<short>{0, 100, 101, 1, 2, 3}));
    s.Insert(other, s.GetLength());
    EXPECT_EQ(Values(s), (std::vector<short>{0, 100, 101, 1, 2, 3, 100, 101}));
    Sample empty;
    s.Insert(empty, 3);
    EXPECT_EQ(s.GetLength(), 8);
}

TEST(SampleTest, AddOfItselfRepeatsTheContents)
{
    Sample s = Ramp(3, 7);
    s.Add(s);
    EXPECT_EQ(Values(s), (std::vector<short>{7, 8, 9, 7, 8, 9}));
}

TEST(SampleDeathTest, InsertPastTheEndNamesFunctionFileAndExpression)
{
    Sample s = Ramp(3);
    Sample other = Ramp(1);
    EXPECT_DEATH(s.Insert(other, 4), "Insert.*KorvelSound/Sample\\.cpp.*Pos<=GetLength\\(\\)");
}

namespace {

// The editing operations written plainly on a vector, to compare against.
struct Reference
{
    std::vector<short> v;

    static int WholeBlocks(int length) { return length - length % KorvelInfo::BufferSize; }
    void Insert(const std::vector<short> &s, int pos) { v.insert(v.begin() + pos, s.begin(), s.end()); }
    void Remove(int start, int end)
    {
        v.erase(v.begin() + start, v.begin() + start + WholeBlocks(end - start));
    }
    std::vector<short> Region(int start, int end) const
    {
        return std::vector<short>(v.begin() + start, v.begin() + start + WholeBlocks(end - start));
    }
    void Reverse(int start, int end) { std::reverse(v.begin() + start, v.begin() + end); }
    void Rotate(int offset)
    {
        if (v.empty()) return;
        long n = static_cast<long>(v.size());
        long o = ((offset % n) + n) % n;
        std::rotate(v.begin(), v.begin() + o, v.end());
    }
    void Mix(const std::vector<short> &s, int pos)
    {
        if (v.empty()) return;
        size_t at = pos;
        for (short value : s) {
            if (at == v.size()) at = 0;
            int sum = v[at] + value;
            v[at++] = static_cast<short>(std::max(-32767, std::min(32767, sum)));
        }
    }
};

class SampleEditingTest : public testing::Test
{
protected:
    ~SampleEditingTest() override { KorvelInfo::BufferSize = m_SavedBufferSize; }
    int m_SavedBufferSize = KorvelInfo::BufferSize;
};

Sample FromValues(const std::vector<short> &values)
{
    Sample s(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); i++)
        s.Set(static_cast<int>(i), values[i]);
    return s;
}

} // namespace

TEST_F(SampleEditingTest, EditingSequencesMatchAPlainReference)
{
    KorvelInfo::BufferSize = 8; // small blocks, so rounding happens often
    std::mt19937 random(1234);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto values = [&](int n) {
        std::vector<short> out(n);
        for (short &x : out)
            x = static_cast<short>(below(65536) - 32768);
        return out;
    };

    Reference ref{values(50)};
    Sample s = FromValues(ref.v);
    for (int step = 0; step < 2000; step++) {
        int length = s.GetLength();
        int a = below(length + 1), b = below(length + 1);
        int start = std::min(a, b), end = std::max(a, b);
        switch (below(9)) {
        case 0: {
            std::vector<short> other = values(below(20));
            s.Insert(FromValues(other), a);
            ref.Insert(other, a);
            break;
        }
        case 1:
            s.Remove(start, end);
            ref.Remove(start, end);
            break;
        case 2: {
            Sample region(3);
            s.GetRegion(region, start, end);
            ASSERT_EQ(Values(region), ref.Region(start, end)) << step;
            break;
        }
        case 3:
            s.Reverse(start, end);
            ref.Reverse(start, end);
            break;
        case 4: {
            int offset = below(4 * length + 3) - 2 * length - 1;
            s.Rotate(offset);
            ref.Rotate(offset);
            break;
        }
        case 5: {
            std::vector<short> other = values(below(2 * length + 2));
            s.Mix(FromValues(other), a);
            ref.Mix(other, a);
            break;
        }
        case 6:
            if (length > 1) {
                int keep = 1 + below(length - 1);
                if (step % 2) {
                    s.CropTo(keep);
                } else {
                    s.Shrink(length - keep);
                }
                ref.v.resize(keep);
            }
            break;
        case 7: {
            int amount = below(12);
            s.Expand(amount);
            ref.v.resize(ref.v.size() + amount, 0);
            break;
        }
        case 8:
            if (length < 200) {
                s.Add(s);
                ref.Insert(std::vector<short>(ref.v), static_cast<int>(ref.v.size()));
            }
            break;
        }
        ASSERT_EQ(Values(s), ref.v) << "step " << step;
    }
}

TEST_F(SampleEditingTest, RegionsAreRoundedDownToWholeBlocks)
{
    KorvelInfo::BufferSize = 512;
    Sample s = Ramp(2000);
    Sample region = Ramp(7, 900);
    s.GetRegion(region, 100, 1400);
    EXPECT_EQ(Values(region), Values(Ramp(1024, 100)));
    s.GetRegion(region, 100, 600);
    EXPECT_EQ(region.GetLength(), 0);
    s.Remove(300, 800);
    EXPECT_EQ(Values(s), Values(Ramp(2000)));
    s.Remove(100, 1400);
    ASSERT_EQ(s.GetLength(), 2000 - 1024);
    EXPECT_EQ(s[99], 99);
    EXPECT_EQ(s[100], 1124);

    Sample loop = Ramp(5 * 512 + 100);
    loop.Remove(0, loop.GetLength());
    EXPECT_EQ(Values(loop), Values(Ramp(100, 5 * 512)));
}

TEST(SampleTest, MixClampsEverySumAndWrapsRound)
{
    Sample s = Ramp(10, 1000);
    s.Mix(Ramp(5, 1), 8);
    EXPECT_EQ(Values(s), (std::vector<short>{1003, 1005, 1007, 1003, 1004, 1005, 1006, 1007, 1009, 1011}));

    Sample loud(3);
    loud.Set(0, 30000);
    loud.Set(1, -30000);
    loud.Set(2, 5);
    Sample more(3);
    more.Set(0, 10000);
    more.Set(1, -10000);
    more.Set(2, -32768);
    loud.Mix(more, 3); // a start at the end begins at 0
    EXPECT_EQ(Values(loud), (std::vector<short>{32767, -32767, -32763}));

    // A longer sample wraps more than once.
    Sample ring = Ramp(2, 0);
    ring.Mix(Ramp(5, 10), 1);
    EXPECT_EQ(Values(ring), (std::vector<short>{0 + 11 + 13, 1 + 10 + 12 + 14}));

    Sample empty;
    empty.Mix(Ramp(5), 0);
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST(SampleTest, RotateTakesAnyOffsetModuloTheLength)
{
    const int n = 7;
    for (int offset : {0, n, -n, 3 * n}) {
        Sample s = Ramp(n);
        s.Rotate(offset);
        EXPECT_EQ(Values(s), Values(Ramp(n))) << offset;
    }
    Sample back = Ramp(n);
    back.Rotate(-1);
    EXPECT_EQ(Values(back), (std::vector<short>{6, 0, 1, 2, 3, 4, 5}));
    Sample oversized = Ramp(n);
    oversized.Rotate(2 * n + 3);
    EXPECT_EQ(Values(oversized), (std::vector<short>{3, 4, 5, 6, 0, 1, 2}));
    Sample negative = Ramp(n);
    negative.Rotate(-(5 * n + 2));
    EXPECT_EQ(Values(negative), (std::vector<short>{5, 6, 0, 1, 2, 3, 4}));
    Sample empty;
    empty.Rotate(5);
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST(SampleTest, ShrinkCropAndReverseKeepTheRightSamples)
{
    Sample odd = Ramp(9);
    odd.Shrink(odd.GetLength() / 2);
    EXPECT_EQ(Values(odd), Values(Ramp(5)));
    odd.CropTo(odd.GetLength() - 1);
    EXPECT_EQ(Values(odd), Values(Ramp(4)));

    Sample s = Ramp(6);
    s.Reverse(2, 2);
    EXPECT_EQ(Values(s), Values(Ramp(6)));
    s.Reverse(1, 4);
    EXPECT_EQ(Values(s), (std::vector<short>{0, 3, 2, 1, 4, 5}));
    s.Reverse(0, s.GetLength());
    EXPECT_EQ(Values(s), (std::vector<short>{5, 4, 1, 2, 3, 0}));

    s.Expand(3);
    EXPECT_EQ(Values(s), (std::vector<short>{5, 4, 1, 2, 3, 0, 0, 0, 0}));
}

TEST(SampleTest, StorageIsOwnedAndCopiedDeeply)
{
    Sample original = Ramp(4);
    Sample copy(original);
    copy.Set(0, 99);
    EXPECT_EQ(original[0], 0);
    EXPECT_NE(copy.GetBuffer(), original.GetBuffer());

    const short raw[] = {5, -6, 7};
    Sample fromRaw(raw, 3);
    EXPECT_EQ(Values(fromRaw), (std::vector<short>{5, -6, 7}));

    EXPECT_TRUE(fromRaw.Allocate(0));
    EXPECT_EQ(fromRaw.GetLength(), 0);
    Sample copyOfEmpty(fromRaw);
    EXPECT_EQ(copyOfEmpty.GetLength(), 0);
    EXPECT_TRUE(fromRaw.Allocate(10));
    EXPECT_EQ(fromRaw.GetLength(), 10);
    fromRaw.Zero();
    EXPECT_EQ(Values(fromRaw), std::vector<short>(10, 0));
    fromRaw.Clear();
    EXPECT_EQ(fromRaw.GetBuffer(), nullptr);
    EXPECT_EQ(fromRaw.GetLength(), 0);
    fromRaw.Clear();
    Sample never;
    EXPECT_EQ(never.GetBuffer(), nullptr);
    Sample copyOfNever(never);
    EXPECT_EQ(copyOfNever.GetLength(), 0);
}

namespace {

std::string Message(const char *function, const char *file, const char *expression)
{
    std::string text = std::string("Assertion failed: function ") + function + ", file " + file +
                       ", expression " + expression;
    std::string pattern;
    for (char c : text) {
        if (std::strchr("()[]*.+?^$|\\{}", c)) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

const char *const Source = "KorvelSound/Sample.cpp";
const char *const Header = "KorvelSound/Sample.h";

} // namespace

TEST(SampleDeathTest, EveryPreconditionNamesItsFunctionFileAndExpression)
{
    Sample s = Ramp(10);
    const Sample &constant = s;
    Sample other = Ramp(2);
    const char *range = "End<=GetLength() && Start<=GetLength()";
    EXPECT_DEATH(s[10] = 1, Message("operator[]", Header, "i>=0 && i<m_Length"));
    EXPECT_DEATH((void)constant[-1], Message("operator[]", Header, "i>=0 && i<m_Length"));
    EXPECT_DEATH(s.Set(10, 1), Message("Set", Header, "i>=0 && i<m_Length"));
    EXPECT_DEATH(s.Mix(other, 11), Message("Mix", Source, "Pos<=GetLength()"));
    EXPECT_DEATH(s.Remove(0, 11), Message("Remove", Source, range));
    EXPECT_DEATH(s.Remove(11, 11), Message("Remove", Source, range));
    EXPECT_DEATH(s.Remove(5, 4), Message("Remove", Source, "Start<=End"));
    EXPECT_DEATH(s.Reverse(3, 11), Message("Reverse", Source, range));
    EXPECT_DEATH(s.Reverse(5, 4), Message("Reverse", Source, "Start<=End"));
    EXPECT_DEATH(s.GetRegion(other, 0, 11), Message("GetRegion", Source, range));
    EXPECT_DEATH(s.GetRegion(other, 5, 4), Message("GetRegion", Source, "Start<=End"));
    EXPECT_DEATH(s.CropTo(10), Message("CropTo", Source, "NewLength<GetLength()"));
    EXPECT_DEATH(s.Shrink(10), Message("Shrink", Source, "NewLength>0 && NewLength<=GetLength()"));
    EXPECT_DEATH(s.Shrink(-1), Message("Shrink", Source, "NewLength>0 && NewLength<=GetLength()"));
    Sample empty;
    EXPECT_DEATH(empty.Shrink(0), Message("Shrink", Source, "NewLength>0 && NewLength<=GetLength()"));
    EXPECT_DEATH(Sample(nullptr, 3), Message("Sample", Source, "S"));
}

TEST(SampleDeathTest, NegativePositionsStopBeforeTouchingMemory)
{
    Sample s = Ramp(1024);
    Sample other = Ramp(2);
    EXPECT_DEATH(s.Insert(other, -1), Message("Insert", Source, "Pos>=0"));
    EXPECT_DEATH(s.Mix(other, -1), Message("Mix", Source, "Pos>=0"));
    EXPECT_DEATH(s.Remove(-512, 0), Message("Remove", Source, "Start>=0"));
    EXPECT_DEATH(s.Reverse(-2, 2), Message("Reverse", Source, "Start>=0"));
    EXPECT_DEATH(s.GetRegion(other, -512, 0), Message("GetRegion", Source, "Start>=0"));
    EXPECT_DEATH(s.CropTo(-1), Message("CropTo", Source, "NewLength>=0"));
    EXPECT_DEATH(s.Expand(-1), Message("Expand", Source, "Amount>=0"));
}
