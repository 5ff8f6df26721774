// Long runs without a display: every spin-up of a run found, a scatter
// thinned to what a chart shows without losing a visible point, and a report
// read for drawing as it streams by, giving the curves a whole reading gives.

#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "curves/PointThinning.h"
#include "curves/ReportLoader.h"
#include "curves/SpinUps.h"
#include "platform/RuntimeError.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"

#include "CaseNames.h"
#include "Files.h"
#include "ReportRows.h"
#include "SyntheticRuns.h"
#include "WholeReport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace zelvar;
using namespace zelvar::curves;

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

std::string listed(const std::vector<FoundSpinUp>& found)
{
    std::ostringstream out;
    for (const FoundSpinUp& s : found)
        out << "[" << s.rows.first << ".." << s.rows.last << (s.complete ? "" : " open") << "] ";
    return out.str();
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
    testing::Values(SpinUpsCase{"ThreePullsEachBraked",
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
                    SpinUpsCase{"None", {0, 0, 100, 0}, {}, std::nullopt}),
    testing_support::CaseName());

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
// A report read for drawing.

TEST(ReportForDrawing, GivesTheCurvesOfAWholeReadingOfEachSpinUp)
{
    QTemporaryDir dir;
    testing_support::writeAll(dir.filePath("Temp.dat"), testing_support::runOfSpinUps({3.0, 5.0, 4.0}));
    SequentialFiles files;
    RunAnalyzer(files, dir.path()).analyze({Decimal(30), Decimal(240), QStringLiteral("1500"), QStringLiteral("2000")});
    const QString report = dir.filePath("save.csv");

    const Report whole = readReport(report);
    const std::vector<FoundSpinUp> spinUps = findSpinUps(whole.rows);
    ASSERT_EQ(spinUps.size(), 3u) << listed(spinUps);
    EXPECT_EQ(loadReport(report).spinUp, std::optional<std::size_t>(1)) << "the longest, 5 s";
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE("spin-up " + std::to_string(k + 1));
        LoadRequest request;
        request.spinUp = k;
        const ReportCurves drawn = loadReport(report, request);
        EXPECT_EQ(drawn.records, whole.rows.size());
        EXPECT_EQ(listed(drawn.spinUps), listed(spinUps));
        const std::size_t shown = k < 3 ? k : 1; // past the last, the default
        ASSERT_EQ(drawn.spinUp, std::optional<std::size_t>(shown));
        const std::optional<SmoothedSpinUp> smoothed = smoothSpinUp(whole.rows, spinUps[shown].rows, whole.inertia());
        ASSERT_TRUE(drawn.smoothed && smoothed);
        ASSERT_EQ(drawn.smoothed->points.size(), smoothed->points.size());
        for (std::size_t i = 0; i < drawn.smoothed->points.size(); ++i) {
            EXPECT_EQ(drawn.smoothed->points[i].torque, smoothed->points[i].torque) << "point " << i;
            EXPECT_EQ(drawn.smoothed->points[i].rpm, smoothed->points[i].rpm) << "point " << i;
        }
        // The rows kept are the spin-up's and what follows it as far as the
        // motor's figures look: they come out the same.
        EXPECT_EQ(drawn.firstRow, spinUps[shown].rows.first);
        EXPECT_GT(drawn.report.rows.size(), spinUps[shown].rows.last - spinUps[shown].rows.first + 1);
        EXPECT_EQ(summaryJson(measureMotor(drawn)), summaryJson(testing_support::figuresOfWholeReport(report, shown)));
        ASSERT_TRUE(drawn.thinned);
        EXPECT_EQ(drawn.thinned->torque.yHi,
                  std::max_element(whole.rows.begin(), whole.rows.end(), [](const auto& a, const auto& b) {
                      return a.torque < b.torque;
                  })->torque);
    }
    EXPECT_EQ(describeSpinUp(spinUps, 1).left(17), QStringLiteral("spin-up 2 of 3: 4"));
}

// The flywheel coasts for a record after the first spin-up, into the lowest
// record of the next: the coast-down search reads that record and the one
// after it, and the loader keeps them.
TEST(ReportForDrawing, ACoastRunningIntoTheNextSpinUpGivesTheFiguresOfTheWholeReport)
{
    const QString report = QStringLiteral(ZELVAR_TEST_DATA_DIR "/analysis/p03_small_run/expected_save.csv");
    LoadRequest request;
    request.points = false;
    const std::size_t count = loadReport(report, request).spinUps.size();
    ASSERT_EQ(count, 2u);
    for (std::size_t k = 0; k < count; ++k) {
        request.spinUp = k;
        const MotorFigures loaded = measureMotor(loadReport(report, request));
        const MotorFigures whole = testing_support::figuresOfWholeReport(report, k);
        EXPECT_EQ(summaryTable(loaded).toStdString(), summaryTable(whole).toStdString()) << "spin-up " << k + 1;
        EXPECT_EQ(summaryJson(loaded).toStdString(), summaryJson(whole).toStdString()) << "spin-up " << k + 1;
    }
}

TEST(ReportForDrawing, ReadsARangeOfRowsAndRefusesOnePastTheReport)
{
    QTemporaryDir dir;
    testing_support::writeAll(dir.filePath("Temp.dat"), testing_support::runOfSpinUps({3.0, 5.0, 4.0}));
    SequentialFiles files;
    RunAnalyzer(files, dir.path()).analyze({Decimal(30), Decimal(240), QString(), QString()});
    const Report report = readReport(dir.filePath("save.csv"));
    EXPECT_THROW(readReportRows(dir.filePath("save.csv"), report.rows.size() - 2, report.rows.size() + 5),
                 RuntimeError);
    const std::vector<ReportPoint> tail = readReportRows(dir.filePath("save.csv"), 10, 12);
    ASSERT_EQ(tail.size(), 3u);
    EXPECT_EQ(tail[0].runTime, report.rows[10].runTime);
    EXPECT_EQ(tail[2].efficiency, report.rows[12].efficiency);
}

} // namespace
