// Finding every spin-up of a run, and the one drawn when none is chosen.

#include "curves/SpinUps.h"

#include "CaseNames.h"
#include "ReportRows.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace zelvar;
using namespace zelvar::curves;
using testing_support::listed;

namespace {

// ---------------------------------------------------------------------------
// Finding the spin-ups.

struct Expected {
    std::size_t first, last;
    bool complete;
};

struct SpinUpsCase {
    const char* name;
    std::vector<double> rpm;
    std::vector<Expected> spinUps;
    std::optional<std::size_t> drawn;
};

void PrintTo(const SpinUpsCase& c, std::ostream* os)
{
    *os << c.name;
}

class FindSpinUps : public testing::TestWithParam<SpinUpsCase> {};

TEST_P(FindSpinUps, FindsEachRiseToTopSpeedAndDrawsTheLongestComplete)
{
    const SpinUpsCase& c = GetParam();
    const std::vector<ReportPoint> rows = testing_support::rowsAtRpm(c.rpm);
    const std::vector<FoundSpinUp> found = findSpinUps(rows);
    std::vector<FoundSpinUp> expected;
    for (const Expected& e : c.spinUps) {
        FoundSpinUp s;
        s.rows = {e.first, e.last};
        s.complete = e.complete;
        expected.push_back(s);
    }
    ASSERT_EQ(listed(found), listed(expected));
    for (const FoundSpinUp& s : found) {
        EXPECT_DOUBLE_EQ(s.startTime, rows[s.rows.first].runTime);
        EXPECT_DOUBLE_EQ(s.duration, rows[s.rows.last].runTime - rows[s.rows.first].runTime);
        EXPECT_EQ(s.topRpm, rows[s.rows.last].rpm);
    }
    EXPECT_EQ(defaultSpinUp(found), c.drawn) << listed(found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindSpinUps,
    testing::Values(
        SpinUpsCase{"ThreePullsEachBraked",
                    {0, 0, 900, 1600, 1600, 0, 0, 500, 1000, 1500, 2000, 0, 0, 900, 1700, 0},
                    {{1, 4, true}, {6, 10, true}, {12, 14, true}},
                    1},
        SpinUpsCase{"FromALowSpeedAfterAThrottleLift",
                    {0, 1000, 2000, 3000, 3000, 2000, 1500, 2200, 3000, 3000, 0},
                    {{0, 4, true}, {6, 9, true}},
                    0},
        SpinUpsCase{"TheLastLeftOpenAtTopSpeed",
                    {0, 900, 1600, 0, 0, 500, 1000, 1500, 2000, 2500, 2500},
                    {{0, 2, true}, {4, 10, false}},
                    0},
        SpinUpsCase{"OnlyAnOpenOne", {0, 0, 700, 1300, 1800, 1700}, {{1, 4, false}}, 0},
        SpinUpsCase{"CoastingDownSlowlyThenBraked",
                    {0, 1000, 2000, 3000, 3000, 2900, 2800, 2700, 2600, 0, 0, 1500, 3000, 0},
                    {{0, 4, true}, {10, 12, true}},
                    0},
        SpinUpsCase{"JitterAtStandstillAndAtTopStartsNone",
                    {0, 100, 0, 100, 0, 1000, 2000, 3000, 2900, 3000, 2900, 3000, 0, 100, 0},
                    {{4, 7, true}},
                    0},
        SpinUpsCase{"AStumbleAtTopIsNoSpinUp",
                    {0, 2000, 4000, 6000, 8000, 10000, 10000, 9700, 9500, 9800, 10000, 0},
                    {{0, 6, true}},
                    0},
        // Held at top speed far longer than the rise took: the jitter there,
        // a new top included, stretches the spin-up no further.
        SpinUpsCase{"HeldAtTopSpeed",
                    {0, 1000, 2000, 3000, 3000, 3000, 3000, 3000, 3000, 3100, 3000, 3100, 0},
                    {{0, 6, true}},
                    0},
        SpinUpsCase{"PlateauBraked", {0, 0, 0, 800, 1500, 2100, 2500, 2500, 1900, 0}, {{2, 7, true}}, 0},
        SpinUpsCase{"MovingFromTheFirstRecord", {300, 900, 1400, 1800, 2000}, {{0, 4, false}}, 0},
        SpinUpsCase{"JitterAtStandstill", {0, 100, 0, 100, 0, 700, 1300, 1800, 1700}, {{4, 7, false}}, 0},
        SpinUpsCase{"TwoAlike", {0, 900, 1600, 1600, 0, 0, 900, 1600, 1600, 0}, {{0, 3, true}, {5, 8, true}}, 0},
        SpinUpsCase{"None", {0, 0, 100, 0}, {}, std::nullopt},
        SpinUpsCase{"NeverRises", {0, 0, 0, 0}, {}, std::nullopt},
        SpinUpsCase{"OnlyFalls", {2000, 1500, 900, 0}, {}, std::nullopt},
        SpinUpsCase{"TooShort", {0, 900}, {}, std::nullopt},
        SpinUpsCase{"OneStepUp", {0, 0, 0, 0, 100}, {}, std::nullopt}),
    testing_support::CaseName());

} // namespace
