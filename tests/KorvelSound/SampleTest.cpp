#include "KorvelSound/Sample.h"

#include "KorvelInfo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Sample Ramp(int length, int start = 0)
{
    Sample s(length);
    for (int i = 0; i < length; i++) s.Set(i, static_cast<short>(start + i));
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
