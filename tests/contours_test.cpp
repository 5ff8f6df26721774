#include "sets/Contours.h"

#include "CaseNames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>

namespace {

using zelvar::sets::contourLevels;
using zelvar::sets::ContourLine;
using zelvar::sets::contourLines;
using zelvar::sets::ContourPoint;
using zelvar::sets::Grid;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Grid gridOf(std::size_t columns, std::size_t rows, double x0, double x1, double y0, double y1,
            const std::function<double(double, double)>& f)
{
    Grid g;
    for (std::size_t c = 0; c < columns; ++c)
        g.x.push_back(x0 + (x1 - x0) * static_cast<double>(c) / static_cast<double>(columns - 1));
    for (std::size_t r = 0; r < rows; ++r)
        g.y.push_back(y0 + (y1 - y0) * static_cast<double>(r) / static_cast<double>(rows - 1));
    for (double y : g.y) {
        for (double x : g.x)
            g.values.push_back(f(x, y));
    }
    return g;
}

// The grid's value at a point on one of its edges, interpolated along it as
// the contour was.
double onEdge(const Grid& g, ContourPoint p)
{
    const auto index = [](const std::vector<double>& axis, double v) {
        std::size_t k = 0;
        while (k + 2 < axis.size() && v > axis[k + 1])
            ++k;
        return k;
    };
    const std::size_t c = index(g.x, p.x), r = index(g.y, p.y);
    const double tx = (p.x - g.x[c]) / (g.x[c + 1] - g.x[c]);
    const double ty = (p.y - g.y[r]) / (g.y[r + 1] - g.y[r]);
    // On an edge one of the two is 0 or 1: bilinear there is linear.
    const double bottom = g.at(c, r) + tx * (g.at(c + 1, r) - g.at(c, r));
    const double top = g.at(c, r + 1) + tx * (g.at(c + 1, r + 1) - g.at(c, r + 1));
    return bottom + ty * (top - bottom);
}

TEST(ContourLines, OfAPlaneAreOneStraightOpenLineAcrossTheGrid)
{
    const Grid g = gridOf(11, 7, 0, 10, 0, 6, [](double x, double) { return x; });
    const std::vector<ContourLine> lines = contourLines(g, 2.5);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FALSE(lines[0].closed);
    EXPECT_EQ(lines[0].level, 2.5);
    ASSERT_EQ(lines[0].points.size(), 7u) << "one crossing per row of the grid";
    for (const ContourPoint& p : lines[0].points)
        EXPECT_NEAR(p.x, 2.5, 1e-12) << "at y " << p.y;
    // Joined in order from one border to the other.
    const double first = lines[0].points.front().y, last = lines[0].points.back().y;
    EXPECT_EQ(std::min(first, last), 0.0);
    EXPECT_EQ(std::max(first, last), 6.0);
    for (std::size_t k = 1; k < lines[0].points.size(); ++k)
        EXPECT_NEAR(std::abs(lines[0].points[k].y - lines[0].points[k - 1].y), 1.0, 1e-12);
}

TEST(ContourLines, OfAConeAreOneClosedCircle)
{
    const Grid g = gridOf(41, 41, -2, 2, -2, 2, [](double x, double y) { return std::hypot(x, y); });
    // A radius through no grid point: there two edges' crossings coincide.
    const std::vector<ContourLine> lines = contourLines(g, 0.97);
    ASSERT_EQ(lines.size(), 1u);
    const ContourLine& circle = lines[0];
    EXPECT_TRUE(circle.closed);
    ASSERT_GT(circle.points.size(), 20u);
    EXPECT_EQ(circle.points.front().x, circle.points.back().x);
    EXPECT_EQ(circle.points.front().y, circle.points.back().y);
    for (const ContourPoint& p : circle.points)
        EXPECT_NEAR(std::hypot(p.x, p.y), 0.97, 0.01) << "at " << p.x << ", " << p.y;
    // Every crossing once: no point repeats but the closing one.
    std::set<std::pair<double, double>> seen;
    for (std::size_t k = 0; k + 1 < circle.points.size(); ++k)
        EXPECT_TRUE(seen.insert({circle.points[k].x, circle.points[k].y}).second) << "point " << k << " twice";
}

TEST(ContourLines, OfTwoHillsAreTwoLinesAndEveryPointIsAtTheLevel)
{
    const auto hills = [](double x, double y) {
        return std::exp(-((x - 1) * (x - 1) + y * y)) + std::exp(-((x + 1) * (x + 1) + y * y));
    };
    const Grid g = gridOf(61, 41, -3, 3, -2, 2, hills);
    EXPECT_EQ(contourLines(g, 0.8).size(), 2u) << "two hills apart at 0.8";
    EXPECT_EQ(contourLines(g, 0.3).size(), 1u) << "one ridge around both at 0.3";
    for (double level : {0.3, 0.5, 0.8}) {
        for (const ContourLine& line : contourLines(g, level)) {
            EXPECT_TRUE(line.closed) << "level " << level;
            for (const ContourPoint& p : line.points)
                EXPECT_NEAR(onEdge(g, p), level, 1e-9) << "level " << level << " at " << p.x << ", " << p.y;
        }
    }
}

TEST(ContourLines, ASaddleGivesTwoLinesThatNeverCross)
{
    // z = x·y on a grid whose middle cell straddles the origin: the level 0.1
    // crosses all four of its edges.
    const Grid g = gridOf(4, 4, -1.5, 1.5, -1.5, 1.5, [](double x, double y) { return x * y; });
    const std::vector<ContourLine> lines = contourLines(g, 0.1);
    ASSERT_EQ(lines.size(), 2u);
    for (const ContourLine& line : lines) {
        EXPECT_FALSE(line.closed);
        const double side = line.points.front().x;
        for (const ContourPoint& p : line.points)
            EXPECT_EQ(p.x > 0, side > 0) << "a line crosses to the other quadrant at " << p.x << ", " << p.y;
    }
}

TEST(ContourLines, StopWhereTheGridHasNoValues)
{
    Grid g = gridOf(11, 11, 0, 10, 0, 10, [](double x, double) { return x; });
    // No values above y = 5.
    for (std::size_t r = 6; r < g.rows(); ++r) {
        for (std::size_t c = 0; c < g.columns(); ++c)
            g.values[r * g.columns() + c] = kNaN;
    }
    const std::vector<ContourLine> lines = contourLines(g, 4.5);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].points.size(), 6u) << "rows 0 to 5";
    for (const ContourPoint& p : lines[0].points)
        EXPECT_LE(p.y, 5.0);
}

TEST(ContourLines, NoneOutsideTheValuesOrOnAGridTooSmall)
{
    const Grid g = gridOf(5, 5, 0, 1, 0, 1, [](double x, double y) { return x + y; });
    EXPECT_TRUE(contourLines(g, 3.0).empty());
    EXPECT_TRUE(contourLines(g, -1.0).empty());
    Grid line;
    line.x = {0, 1, 2};
    line.y = {0};
    line.values = {0, 1, 2};
    EXPECT_TRUE(contourLines(line, 0.5).empty());
    Grid mismatched = g;
    mismatched.values.pop_back();
    EXPECT_TRUE(contourLines(mismatched, 0.5).empty());
}

struct LevelCase {
    const char* name;
    double lowest, highest, step;
    std::size_t most;
    std::vector<double> levels;
};

void PrintTo(const LevelCase& c, std::ostream* os)
{
    *os << c.name;
}

class ContourLevels : public testing::TestWithParam<LevelCase> {};

TEST_P(ContourLevels, AreRoundAndFewEnough)
{
    const LevelCase& c = GetParam();
    EXPECT_EQ(contourLevels(c.lowest, c.highest, c.step, c.most), c.levels);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ContourLevels,
    testing::Values(LevelCase{"EveryStepInside", 62.3, 88.1, 5, 10, {65, 70, 75, 80, 85}},
                    LevelCase{"ALevelOnTheLowestIsLeftOut", 60, 71, 5, 10, {65, 70}},
                    LevelCase{"TooManyDoubleTheStep", 0, 95, 5, 10, {10, 20, 30, 40, 50, 60, 70, 80, 90}},
                    LevelCase{"ThenFiveTimes", 0, 99, 1, 12, {10, 20, 30, 40, 50, 60, 70, 80, 90}},
                    LevelCase{"NoRangeNoLevels", 50, 50, 5, 10, {}}, LevelCase{"NoStepNoLevels", 0, 50, 0, 10, {}}),
    zelvar::testing_support::CaseName());

} // namespace
