#include "Engine/TriggerRule.h"

#include "Loop.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TriggerRuleTest : public ::testing::Test
{
protected:
    TriggerMarker &Marker(float angle, int target, int count = 0)
    {
        TriggerMarker marker;
        marker.m_Angle = angle;
        marker.m_TargetID = target;
        marker.m_Count = count;
        m_Loop.m_Markers.push_back(marker);
        return m_Loop.m_Markers.back();
    }

    std::vector<int> Check(float from, float to, bool wrapped = false)
    {
        std::vector<int> ids;
        TriggerRule::Pass(m_Loop, from, to, wrapped, ids);
        return ids;
    }

    Loop m_Loop{nullptr};
};

} // namespace

TEST_F(TriggerRuleTest, MarkerFiresOnceWhenAStepReachesIt)
{
    Marker(90.0f, 3);
    EXPECT_TRUE(Check(70.0f, 80.0f).empty());
    EXPECT_EQ(Check(80.0f, 90.0f), std::vector<int>({3})); // ends exactly at the marker
    EXPECT_TRUE(Check(90.0f, 95.0f).empty());              // and leaves it: not again
    EXPECT_EQ(Check(85.0f, 100.0f), std::vector<int>({3}));
}

TEST_F(TriggerRuleTest, MarkerWithCountTwoStartsThreeTimesAndStopsItsLoopOnTheThird)
{
    Marker(90.0f, 4, 2);
    for (int pass = 1; pass <= 3; pass++) {
        EXPECT_EQ(Check(80.0f, 100.0f), std::vector<int>({4})) << "pass " << pass;
        EXPECT_EQ(m_Loop.m_Playing, pass < 3) << "pass " << pass;
    }
    EXPECT_EQ(m_Loop.m_Markers[0].m_Passes, 0);
}

TEST_F(TriggerRuleTest, MarkersPassedAcrossTheWrapFire)
{
    Marker(350.0f, 1);
    Marker(5.0f, 2);
    Marker(0.0f, 5); // the start of the loop
    Marker(200.0f, 6);
    Marker(360.0f, 7); // dragged round to the start from the other side
    // The position went round: 340 -> 10 passes 350, 360, 0 and 5, not 200.
    EXPECT_EQ(Check(340.0f, 10.0f, true), std::vector<int>({1, 2, 5, 7}));
    EXPECT_TRUE(Check(10.0f, 20.0f).empty());
}

TEST_F(TriggerRuleTest, RestartsComeAfterEveryStopAndSkipMissingLoops)
{
    // Loop 1 stops itself on its marker's last pass while loop 0 restarts it.
    Loop first(nullptr), second(nullptr);
    first.m_ID = 0;
    second.m_ID = 1;
    for (Loop *loop : {&first, &second}) {
        loop->m_LoopLength = 360;
        loop->m_StepFrom = 80.0;
        loop->m_StepTo = 100.0;
        loop->m_Pos = 100.0;
    }
    first.m_Markers.push_back({90.0f, 1, 0, 0});
    first.m_Markers.push_back({95.0f, 9, 0, 0}); // no loop 9
    second.m_Markers.push_back({90.0f, 5, 1, 1});
    std::vector<int> targets;
    TriggerRule::Apply({&first, &second}, targets);
    EXPECT_TRUE(second.m_Playing);
    EXPECT_EQ(second.m_Pos, 0.0);
    EXPECT_EQ(first.m_Pos, 100.0);
    EXPECT_EQ(targets, std::vector<int>({1, 9, 5}));
}
