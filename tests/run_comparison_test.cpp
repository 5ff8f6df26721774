// Runs compared as a set, without widgets: the drift and outlier tests on
// made-up figures, the statistics over the runs that count, and the layouts
// of --compare-json and --compare-csv.

#include "sets/RunComparison.h"

#include "CaseNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace zelvar::sets;

struct DriftCase {
    const char* name;
    std::vector<double> values;
    std::vector<double> sigmas;
    Drift drift;
};

void PrintTo(const DriftCase& c, std::ostream* os)
{
    *os << c.name;
}

class DriftOverTheRunOrder : public testing::TestWithParam<DriftCase> {};

TEST_P(DriftOverTheRunOrder, FlagsAChangeOfMoreThanTwiceTheRunsOwnUncertainty)
{
    const DriftCase& c = GetParam();
    EXPECT_EQ(driftText(driftOf(c.values, c.sigmas)), driftText(c.drift));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriftOverTheRunOrder,
    testing::Values(
        // R of a winding that warms: 0.100 to 0.106 ohm with ± 0.001 each.
        DriftCase{
            "RisingResistance", {0.100, 0.1015, 0.103, 0.1045, 0.106}, {0.001, 0.001, 0.001, 0.001, 0.001}, Drift::Up},
        DriftCase{"FallingPower", {150, 148, 147, 145, 143}, {1, 1, 1, 1, 1}, Drift::Down},
        // Scatter of ± its own size, no trend: the slope is 0.
        DriftCase{"ScatterWithoutTrend", {10.0, 10.3, 9.7, 10.3, 10.0}, {0.3, 0.3, 0.3, 0.3, 0.3}, Drift::None},
        // A change of 1.6 over five runs against 2 × 1: within what the runs
        // tell apart.
        DriftCase{"ChangeWithinTwiceTheUncertainty", {0, 0.4, 0.8, 1.2, 1.6}, {1, 1, 1, 1, 1}, Drift::None},
        DriftCase{"JustAboveTwiceTheUncertainty", {0, 0.55, 1.1, 1.65, 2.2}, {1, 1, 1, 1, 1}, Drift::Up},
        // Two runs cannot tell a drift from a difference.
        DriftCase{"TwoRuns", {0, 100}, {1, 1}, Drift::None}),
    zelvar::testing_support::CaseName());

TEST(OutliersOfRuns, ARunFarFromTheOthersIsFlaggedAndTheOthersAreNot)
{
    const std::vector<bool> flagged = outliersOf({2500, 2501, 2499, 2530, 2500}, {1, 1, 1, 1, 1});
    EXPECT_EQ(flagged, (std::vector<bool>{false, false, false, true, false}));
}

TEST(OutliersOfRuns, ARunWithinItsOwnUncertaintyOfTheOthersIsNotFlagged)
{
    // 2530 stands 30 from the others' median, less than 3 × (± 10 + their sd).
    EXPECT_EQ(outliersOf({2500, 2501, 2499, 2530}, {10, 10, 10, 10}), (std::vector<bool>(4, false)));
    EXPECT_EQ(outliersOf({1, 100}, {0, 0}), (std::vector<bool>(2, false))) << "two runs have no spread to judge by";
}

QJsonObject figures(double kv, double kvSigma, double r)
{
    return QJsonObject{{"kv_rpm_per_v", kv},           {"kv_rpm_per_v_sigma", kvSigma},
                       {"resistance_ohm", r},          {"resistance_ohm_sigma", 0.001},
                       {"peak_power_w", QJsonValue()}, {"peak_power_w_sigma", QJsonValue()}};
}

ComparedRun run(const char* folder, int minute, double kv, double r, bool included = true)
{
    ComparedRun c;
    c.folder = QString::fromLatin1(folder);
    c.started = QDateTime(QDate(2026, 12, 8), QTime(10, minute));
    c.motor = "A2212";
    c.included = included;
    if (!included)
        c.exclusion = "no complete spin-up";
    c.figures = figures(kv, 0.5, r);
    return c;
}

TEST(CompareRuns, TakesTheRunsInTheOrderTheyRanAndLeavesOutThoseWithoutACompleteSpinUp)
{
    // Newest first, as the Runs tab lists them.
    const RunComparison c = compareRuns({run("d", 40, 2502, 0.104), run("c", 30, 9999, 9.0, false),
                                         run("b", 20, 2500, 0.1025), run("a", 10, 2498, 0.101)});
    ASSERT_EQ(c.runs.size(), 4u);
    EXPECT_EQ(c.runs[0].folder, "a");
    EXPECT_EQ(c.runs[3].folder, "d");
    EXPECT_EQ(c.included(), 3u);
    const FigureComparison& kv = c.figures.front();
    EXPECT_EQ(kv.key, "kv_rpm_per_v");
    ASSERT_TRUE(kv.spread);
    EXPECT_EQ(kv.spread->count, 3u) << "the run left out must not count";
    EXPECT_DOUBLE_EQ(kv.spread->mean, 2500);
    EXPECT_DOUBLE_EQ(kv.spread->lowest, 2498);
    EXPECT_DOUBLE_EQ(kv.spread->highest, 2502);
    EXPECT_FALSE(kv.values[2].has_value()) << "the run left out shows no value in the statistics";
    EXPECT_EQ(kv.drift, Drift::Up) << "2498, 2500, 2502 against ± 0.5";
    const auto power = std::find_if(c.figures.begin(), c.figures.end(),
                                    [](const FigureComparison& f) { return f.key == "peak_power_w"; });
    ASSERT_NE(power, c.figures.end());
    EXPECT_FALSE(power->spread) << "no run gives it";

    const QString text = comparisonText(c);
    EXPECT_TRUE(text.contains("3 of 4 runs in the statistics")) << text.toStdString();
    EXPECT_TRUE(text.contains("3 c: 2026-12-08 10:30:00, motor A2212; left out of the statistics: no complete "
                              "spin-up"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("Drift: kv_rpm_per_v up, resistance_ohm up")) << text.toStdString();
}

TEST(CompareRuns, JsonHasTheLayoutOfCompareJson)
{
    // The outlier in the middle of the runs, where it makes no slope.
    RunComparison c = compareRuns({run("a", 10, 2500, 0.1), run("b", 20, 2500.5, 0.1), run("c", 30, 2560, 0.1),
                                   run("d", 40, 2499.5, 0.1), run("e", 50, 2500, 0.1), run("f", 55, 9, 9, false)});
    const QJsonObject o = QJsonDocument::fromJson(comparisonJson(c)).object();
    EXPECT_EQ(o.keys(), (QStringList{"figures", "format", "runs"}));
    EXPECT_EQ(o.value("format").toInt(), 1);
    const QJsonArray runs = o.value("runs").toArray();
    ASSERT_EQ(runs.size(), 6);
    const QJsonObject first = runs[0].toObject();
    EXPECT_EQ(first.keys(), (QStringList{"figures", "folder", "included", "motor", "started"}));
    EXPECT_EQ(first.value("folder").toString(), "a");
    EXPECT_EQ(first.value("motor").toString(), "A2212");
    EXPECT_TRUE(first.value("started").toString().startsWith("2026-12-08T10:10:00"));
    EXPECT_EQ(first.value("figures").toObject().value("kv_rpm_per_v").toDouble(), 2500);
    EXPECT_FALSE(runs[5].toObject().value("included").toBool());
    const QJsonObject kv = o.value("figures").toObject().value("kv_rpm_per_v").toObject();
    EXPECT_EQ(kv.keys(), (QStringList{"drift", "max", "mean", "min", "n", "outliers", "sd"}));
    EXPECT_EQ(kv.value("n").toInt(), 5);
    EXPECT_EQ(kv.value("max").toDouble(), 2560);
    EXPECT_TRUE(kv.value("drift").isNull());
    EXPECT_EQ(kv.value("outliers").toArray(), QJsonArray{"c"});
    const QJsonObject power = o.value("figures").toObject().value("peak_power_w").toObject();
    EXPECT_TRUE(power.value("mean").isNull());
    EXPECT_EQ(power.value("n").toInt(), 0);
}

TEST(CompareRuns, NameplateDeviationIsTheNameplatesOffTheMeasuredKv)
{
    ComparedRun a = run("a", 10, 2500, 0.1);
    a.nameplateKv = 2625;
    ComparedRun b = run("b", 20, 2500, 0.1);
    const RunComparison c = compareRuns({a, b});
    EXPECT_NEAR(c.nameplate(0).deviationPct().value_or(0), 5.0, 1e-9);
    EXPECT_FALSE(c.nameplate(1).deviationPct()) << "no nameplate, no deviation";
    EXPECT_TRUE(comparisonText(c).contains("Kv 2500.0 RPM/V measured, nameplate 2625.0 (+5.00 % off)"))
        << comparisonText(c).toStdString();
    const QList<QByteArray> csv = comparisonCsv(c).split('\n');
    EXPECT_TRUE(csv[0].startsWith(QByteArray(kComparisonCsvFields) + ",kv_rpm_per_v,resistance_ohm"))
        << csv[0].toStdString();
    EXPECT_TRUE(csv[1].startsWith("run,a,2026-12-08T10:10:00")) << csv[1].toStdString();
    EXPECT_TRUE(csv[1].contains(",A2212,true,2625,5,2500,")) << csv[1].toStdString();
    EXPECT_TRUE(csv[3].startsWith("mean,,,,,,,2500,")) << csv[3].toStdString();
}

} // namespace
