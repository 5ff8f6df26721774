// A report loaded as it streams by, keeping only the rows its spin-up
// needs: the curves and the motor's figures a reading of every row gives.

#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"

#include "Files.h"
#include "ReportRows.h"
#include "SyntheticRuns.h"
#include "WholeReport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace zelvar;
using namespace zelvar::curves;
using testing_support::listed;

namespace {

// ---------------------------------------------------------------------------
// A report loaded, spin-up by spin-up.

TEST(LoadReport, GivesTheCurvesOfAWholeReadingOfEachSpinUp)
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
TEST(LoadReport, ACoastRunningIntoTheNextSpinUpGivesTheFiguresOfTheWholeReport)
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

} // namespace
