// Thinning for drawing: a scatter to what a chart shows without losing a
// visible point, a line to its extremes.

#include "curves/PointThinning.h"

#include "CaseNames.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace zelvar;
using namespace zelvar::curves;

namespace {

// ---------------------------------------------------------------------------
// Thinning a scatter.

struct ThinningCase {
    const char* name;
    double xScale, yScale;
    std::size_t points;
    std::size_t maxCells;
    bool crowded; // more points than cells of a pixel: the cells grow
};

void PrintTo(const ThinningCase& c, std::ostream* os)
{
    *os << c.name;
}

class ThinningAScatter : public testing::TestWithParam<ThinningCase> {};

// Every point added lies within a cell of a point kept, and the cells are
// at most two of kThinningColumns x kThinningRows over the range unless the
// scatter fills more than maxCells of them.
TEST_P(ThinningAScatter, KeepsAPointInEveryCellAndTheExtremes)
{
    const ThinningCase& c = GetParam();
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<QPointF> points;
    for (std::size_t i = 0; i < c.points; ++i) {
        const double u = static_cast<double>(i % 997) / 997.0;
        points.emplace_back(c.xScale * u, c.yScale * ((1 - u) + noise(random)));
    }
    points.emplace_back(0.5 * c.xScale, 3.0 * c.yScale); // an outlier
    PointThinning thinning(kThinningColumns, kThinningRows, c.maxCells);
    for (const QPointF& p : points)
        thinning.add(p);
    const std::vector<QPointF> kept = thinning.points();

    EXPECT_EQ(thinning.added(), points.size());
    EXPECT_LE(kept.size(), c.maxCells + 4);
    const double w = thinning.cellWidth();
    const double h = thinning.cellHeight();
    if (!c.crowded) {
        EXPECT_LE(w, 2 * c.xScale / kThinningColumns) << "cells of " << w << " for a range of " << c.xScale;
        EXPECT_LE(h, 2 * 4 * c.yScale / kThinningRows) << "cells of " << h;
    }
    std::size_t far = 0;
    for (const QPointF& p : points) {
        bool near = false;
        for (const QPointF& k : kept)
            near = near || (std::abs(k.x() - p.x()) < w && std::abs(k.y() - p.y()) < h);
        far += near ? 0 : 1;
    }
    EXPECT_EQ(far, 0u) << "of " << points.size() << " points, " << kept.size() << " kept, cells " << w << " x " << h;
    EXPECT_NE(std::find(kept.begin(), kept.end(), points.back()), kept.end()) << "the outlier";
    EXPECT_EQ(thinning.yHi(), 3.0 * c.yScale);
}

INSTANTIATE_TEST_SUITE_P(Cases, ThinningAScatter,
                         testing::Values(ThinningCase{"NoisyRpmAndTorque", 30000, 150, 20000, kMaxThinnedPoints, true},
                                         ThinningCase{"SmallValues", 0.01, 0.002, 3000, kMaxThinnedPoints, false},
                                         ThinningCase{"FullerThanItsCells", 30000, 150, 20000, 300, true},
                                         ThinningCase{"FewPoints", 1000, 10, 50, kMaxThinnedPoints, false}),
                         testing_support::CaseName());

// ---------------------------------------------------------------------------
// Thinning a line.

TEST(Downsample, KeepsFewPointsAsTheyAre)
{
    const std::vector<QPointF> points = {{0, 1}, {1, 5}, {2, 3}};
    EXPECT_EQ(downsample(points, 3), points);
    EXPECT_EQ(downsample(points, 100), points);
}

TEST(Downsample, KeepsEachRunsExtremesInOrderWithinTheLimit)
{
    std::vector<QPointF> points;
    for (int i = 0; i < 10000; ++i)
        points.emplace_back(i, std::sin(i / 300.0));
    points[4321].setY(50.0);  // a spike
    points[7777].setY(-50.0); // and a dip
    for (const std::size_t limit : {2u, 10u, 999u, 1000u}) {
        const std::vector<QPointF> kept = downsample(points, limit);
        EXPECT_LE(kept.size(), limit);
        EXPECT_GE(kept.size(), limit / 2);
        EXPECT_TRUE(
            std::is_sorted(kept.begin(), kept.end(), [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); }))
            << "limit " << limit;
        EXPECT_TRUE(std::find(kept.begin(), kept.end(), points[4321]) != kept.end()) << "limit " << limit;
        EXPECT_TRUE(std::find(kept.begin(), kept.end(), points[7777]) != kept.end()) << "limit " << limit;
    }
    EXPECT_TRUE(downsample(points, 0).empty());
    EXPECT_EQ(downsample(points, 1), std::vector<QPointF>{points.front()});
}

} // namespace
