// The curves without a display: reading a report back, the local fit and the
// smoothing of a spin-up against known curves, thinning, the live trace and
// its redraw limit.

#include "curves/PointThinning.h"
#include "curves/Smoothing.h"
#include "platform/MainForm.h"
#include "platform/RuntimeError.h"
#include "records/RunRecord.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"
#include "session/LiveTrace.h"

#include "CaseNames.h"
#include "Files.h"
#include "MemoryMainForm.h"
#include "QtPrinters.h"
#include "ReportRows.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

using namespace zelvar;
using testing_support::writeAll;
using namespace zelvar::curves;
using namespace std::chrono_literals;

namespace {

constexpr double kRadPerSecondPerRpm = 2 * std::numbers::pi / 60;

// ---------------------------------------------------------------------------
// A known curve: a brushed DC motor spinning a solid-disc flywheel up from
// standstill, in closed form. With the winding and supply resistance R, the
// torque constant Kt and the no-load current I0, J dω/dt = Kt ((V - Kt ω)/R -
// I0), so ω(t) = ω∞ (1 - e^(-t/τ)) with τ = J R / Kt² and the torque falls
// as e^(-t/τ) from the stall torque. The motor's numbers are those of a
// typical small brushed motor on a 12 V pack.
struct MotorSpinUp {
    double radiusMm = 30.0;
    double weightG = 240.0;
    double kv = 2500.0;        // RPM/V
    double resistance = 0.105; // ohm, winding and supply
    double noLoadCurrent = 0.5;
    double supply = 12.0;
    double idle = 0.2;  // s at standstill before the spin-up
    double spin = 5.0;  // s powered
    double brake = 0.5; // s to standstill

    double inertia() const { return weightG / 1000 * std::pow(radiusMm / 1000, 2) / 2; }
    double kt() const { return 60 / (2 * std::numbers::pi * kv); }
    double tau() const { return inertia() * resistance / (kt() * kt()); }
    double topSpeed() const { return (supply - noLoadCurrent * resistance) / kt(); } // rad/s

    bool powered(double t) const { return t >= idle && t < idle + spin; }
    double omega(double t) const
    {
        if (t < idle)
            return 0.0;
        const double end = topSpeed() * (1 - std::exp(-spin / tau()));
        if (t < idle + spin)
            return topSpeed() * (1 - std::exp(-(t - idle) / tau()));
        return std::max(0.0, end * (1 - (t - idle - spin) / brake));
    }
    double current(double t) const { return powered(t) ? (supply - kt() * omega(t)) / resistance : 0.0; }
    double torqueMnm(double t) const { return powered(t) ? 1000 * kt() * (current(t) - noLoadCurrent) : 0.0; }
    double peakTorqueMnm() const { return torqueMnm(idle); }
};

// The run as the dyno records it, every 20 ms, in the frames' steps (100
// RPM, 0.01 V, 0.1 A), and the report the analysis makes of it.
std::vector<ReportPoint> reportOf(const MotorSpinUp& motor)
{
    RowCalculator rows(
        RowCalculator::inertiaOf(Decimal::fromDouble(motor.radiusMm), Decimal::fromDouble(motor.weightG)));
    std::vector<ReportPoint> report;
    const int lastTick = static_cast<int>(std::lround((motor.idle + motor.spin + motor.brake) * 100));
    for (int tick = 2; tick <= lastTick; tick += 2) {
        const double t = tick / 100.0;
        const double volts = motor.powered(t) ? motor.supply : 0.0;
        const ReportRow row = rows.next(Decimal::scaled(tick, 2), Decimal::scaled(std::lround(volts * 100), 2),
                                        Decimal::scaled(std::lround(motor.current(t) * 10), 1),
                                        Decimal(std::lround(motor.omega(t) / kRadPerSecondPerRpm / 100) * 100));
        report.push_back({row.runTime.toDouble(), row.outputVoltage.toDouble(), row.outputCurrent.toDouble(),
                          row.rpm.toDouble(), row.torque.toDouble(), row.outputPower.toDouble(),
                          row.inputPower.toDouble(), row.efficiency.toDouble()});
    }
    return report;
}

// ---------------------------------------------------------------------------
// Reading a report back.

class ReadReportTest : public testing::Test {
protected:
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir_;
};

TEST_F(ReadReportTest, GivesBackTheRowsAndTrailerTheAnalysisWrote)
{
    writeAll(path("Temp.dat"), "0.02,12,10,200\r\n0.04,12,10,300\r\n0.06,12,10,600\r\n");
    MemoryMainForm form;
    form.Text1(Box::FlywheelRadius).setText("50");
    form.Text1(Box::FlywheelWeight).setText("1000");
    form.Text1(Box::EscNeutral).setText("15\"00");
    form.Text1(Box::EscFull).setText("full, fast");
    SequentialFiles files;
    RunAnalyzer(files, dir_.path()).analyze(readFlywheelAndEsc(form, QLocale::c()));

    const Report report = readReport(path("save.csv"));
    ASSERT_EQ(report.rows.size(), 3u);
    const ReportPoint& first = report.rows[0];
    EXPECT_EQ(first.runTime, 0.02);
    EXPECT_EQ(first.voltage, 12.0);
    EXPECT_EQ(first.current, 10.0);
    EXPECT_EQ(first.rpm, 200.0);
    EXPECT_NEAR(first.torque, 1308.996939, 1e-6);
    EXPECT_NEAR(first.outputPower, 27.41556779, 1e-8);
    EXPECT_EQ(first.inputPower, 120.0);
    EXPECT_NEAR(first.efficiency, 22.84630649, 1e-8);
    EXPECT_EQ(report.rows[1].torque, 0.0) << "a rise of exactly 100 RPM";
    EXPECT_EQ(report.rows[2].efficiency, 100.0);
    EXPECT_EQ(report.radiusMm, 50.0);
    EXPECT_EQ(report.weightG, 1000.0);
    EXPECT_EQ(report.escNeutral, "15\"00");
    EXPECT_EQ(report.escFull, "full, fast");
    EXPECT_DOUBLE_EQ(report.inertia(), 0.00125);
}

TEST_F(ReadReportTest, AReportOfAnEmptyRunHasNoRows)
{
    writeAll(path("save.csv"), "\"Run Time (sec)\",\"Output Voltage (V)\",\"Output Current (A)\",\"RPM\","
                               "\"Torque (mNm)\",\"Horse Power (W)\",\"Input Power (W)\",\"Efficiency (%)\"\r\n"
                               "\r\n"
                               "\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\","
                               "\"ESC Full Throttle Timing\"\r\n"
                               "30.5,240,\"1500\",\"2000\"\r\n");
    const Report report = readReport(path("save.csv"));
    EXPECT_TRUE(report.rows.empty());
    EXPECT_EQ(report.radiusMm, 30.5);
    EXPECT_EQ(report.weightG, 240.0);
}

struct NotAReport {
    const char* name;
    QByteArray contents; // null: no file at all
    const char* message;
};

void PrintTo(const NotAReport& c, std::ostream* os)
{
    *os << c.name;
}

const QByteArray kHeader = "\"Run Time (sec)\",\"Output Voltage (V)\",\"Output Current (A)\",\"RPM\",\"Torque (mNm)\","
                           "\"Horse Power (W)\",\"Input Power (W)\",\"Efficiency (%)\"\r\n";
const QByteArray kTrailer = "\r\n\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\","
                            "\"ESC Full Throttle Timing\"\r\n30,240,\"1500\",\"2000\"\r\n";

class ReadReportRefuses : public ReadReportTest, public testing::WithParamInterface<NotAReport> {};

TEST_P(ReadReportRefuses, AFileThatIsNotAReportSayingWhy)
{
    const NotAReport& c = GetParam();
    if (!c.contents.isNull())
        writeAll(path("file.csv"), c.contents);
    try {
        readReport(path("file.csv"));
        FAIL() << "read as a report:\n" << c.contents.toStdString();
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
            << "message: " << e.what() << "\nexpected to contain: " << c.message;
        EXPECT_NE(std::string(e.what()).find("file.csv"), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadReportRefuses,
    testing::Values(NotAReport{"Missing", QByteArray(), "cannot open"},
                    NotAReport{"Empty", "", "is not a report: its first line is not the report header"},
                    NotAReport{"RunFile", "0.02,12,10,200\r\n", "is not a report"},
                    NotAReport{"OtherHeader", "\"Run Time (sec)\",\"RPM\"\r\n0.02,200\r\n", "is not a report"},
                    NotAReport{"ShortRow", kHeader + "0.02,12,10,200,0,0,120\r\n" + kTrailer,
                               "line 2: 7 items where a report line has 8"},
                    NotAReport{"TextInARow", kHeader + "0.02,12,10,\"fast\",0,0,120,0\r\n" + kTrailer,
                               "line 2: RPM \"fast\" is not a number"},
                    NotAReport{"CutBeforeTheTrailer", kHeader + "0.02,12,10,200,0,0,120,0\r\n",
                               "has no trailer with the flywheel values after line 2"},
                    NotAReport{"TrailerWithoutWeight",
                               kHeader
                                   + "\r\n\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\","
                                     "\"ESC Full Throttle Timing\"\r\n30,\" \",\"1500\",\"2000\"\r\n",
                               "line 4: Flywheel Weight \" \" is not a number"}),
    testing_support::CaseName());

// ---------------------------------------------------------------------------
// The local fit.

std::vector<double> evenTimes(int count, double step = 0.02)
{
    std::vector<double> x;
    for (int i = 0; i < count; ++i)
        x.push_back(1.0 + i * step);
    return x;
}

struct Spacing {
    const char* name;
    std::vector<double> x;
};

void PrintTo(const Spacing& s, std::ostream* os)
{
    *os << s.name;
}

std::vector<Spacing> spacings()
{
    std::vector<double> uneven;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> step(0.01, 0.03);
    double t = 0.0;
    for (int i = 0; i < 40; ++i)
        uneven.push_back(t += step(random));
    std::vector<double> gap = evenTimes(40);
    for (std::size_t i = 20; i < gap.size(); ++i)
        gap[i] += 0.1; // five records lost
    return {{"Even", evenTimes(40)}, {"Uneven", uneven}, {"WithAGap", gap}};
}

class LocalFitOfAQuadratic : public testing::TestWithParam<Spacing> {};

TEST_P(LocalFitOfAQuadratic, IsExactAtEveryPointEvenAtTheEnds)
{
    const std::vector<double>& x = GetParam().x;
    const auto f = [](double t) { return 300 - 2000 * t + 1500 * t * t; };
    const auto df = [](double t) { return -2000 + 3000 * t; };
    std::vector<double> y;
    for (double t : x)
        y.push_back(f(t));
    for (const int halfWindow : {2, 5, 8}) {
        const std::vector<LocalFit> fits = localPolynomialFit(x, y, 0, x.size() - 1, halfWindow, 2);
        ASSERT_EQ(fits.size(), x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            EXPECT_NEAR(fits[i].value, f(x[i]), 1e-7) << "half-window " << halfWindow << ", point " << i;
            EXPECT_NEAR(fits[i].slope, df(x[i]), 1e-6) << "half-window " << halfWindow << ", point " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Spacings, LocalFitOfAQuadratic, testing::ValuesIn(spacings()), testing_support::CaseName());

TEST(LocalPolynomialFit, InsideEvenDataItIsTheSavitzkyGolayFilter)
{
    // The five-point quadratic filter's tables: smoothing (-3 12 17 12 -3)/35
    // and first derivative (-2 -1 0 1 2)/(10 h).
    const std::vector<double> x = evenTimes(9, 0.02);
    const std::vector<double> y = {3, 9, 4, 12, 7, 1, 15, 8, 6};
    const std::vector<LocalFit> fits = localPolynomialFit(x, y, 0, x.size() - 1, 2, 2);
    for (std::size_t i = 2; i + 2 < x.size(); ++i) {
        const double value = (-3 * y[i - 2] + 12 * y[i - 1] + 17 * y[i] + 12 * y[i + 1] - 3 * y[i + 2]) / 35;
        const double slope = (-2 * y[i - 2] - y[i - 1] + y[i + 1] + 2 * y[i + 2]) / (10 * 0.02);
        EXPECT_NEAR(fits[i].value, value, 1e-9) << "point " << i;
        EXPECT_NEAR(fits[i].slope, slope, 1e-7) << "point " << i;
    }
}

TEST(LocalPolynomialFit, TakesNoPointFromOutsideItsRange)
{
    const std::vector<double> x = evenTimes(30);
    std::vector<double> y;
    for (double t : x)
        y.push_back(50 * t);
    for (std::size_t i = 0; i < 10; ++i)
        y[i] = 1e6; // the standstill before, the brake after: anything
    for (std::size_t i = 22; i < 30; ++i)
        y[i] = -1e6;
    const std::vector<LocalFit> fits = localPolynomialFit(x, y, 10, 21, 5, 2);
    ASSERT_EQ(fits.size(), 12u);
    for (std::size_t k = 0; k < fits.size(); ++k) {
        EXPECT_NEAR(fits[k].value, 50 * x[10 + k], 1e-8) << "point " << 10 + k;
        EXPECT_NEAR(fits[k].slope, 50, 1e-6) << "point " << 10 + k;
    }
}

TEST(LocalPolynomialFit, ARangeShorterThanTheWindowIsFittedWhole)
{
    const std::vector<double> x = {0.02, 0.04, 0.06};
    const std::vector<double> y = {100, 300, 0};
    const std::vector<LocalFit> line = localPolynomialFit(x, y, 0, 1, 10, 2);
    ASSERT_EQ(line.size(), 2u);
    EXPECT_NEAR(line[0].slope, 10000, 1e-6) << "two points fix a line, not a parabola";
    EXPECT_NEAR(line[1].value, 300, 1e-9);
    const std::vector<LocalFit> single = localPolynomialFit(x, y, 2, 2, 10, 2);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].value, 0.0);
    EXPECT_EQ(single[0].slope, 0.0);
    EXPECT_TRUE(localPolynomialFit(x, y, 2, 1, 10, 2).empty());
    EXPECT_TRUE(localPolynomialFit(x, y, 0, 3, 10, 2).empty()) << "a range past the data";
}

TEST(LocalPolynomialFit, RecordsThatRepeatARunTimeDoNotBreakIt)
{
    // Two records at one run time, then a window of them alone: the fit
    // falls back to what the points can fix rather than dividing by zero.
    const std::vector<double> x = {0.02, 0.02, 0.02, 0.04, 0.06, 0.08};
    const std::vector<double> y = {100, 100, 100, 200, 300, 400};
    for (const auto& [first, last] : {std::pair<std::size_t, std::size_t>{0, 2}, {0, 5}}) {
        for (const LocalFit& fit : localPolynomialFit(x, y, first, last, 1, 2)) {
            EXPECT_TRUE(std::isfinite(fit.value)) << first << ".." << last;
            EXPECT_TRUE(std::isfinite(fit.slope)) << first << ".." << last;
        }
    }
    EXPECT_NEAR(localPolynomialFit(x, y, 0, 5, 1, 2)[5].slope, 5000, 1e-6);
}

// ---------------------------------------------------------------------------
// Where the spin-up is.

struct SpinUpCase {
    const char* name;
    std::vector<double> rpm;
    std::optional<std::pair<std::size_t, std::size_t>> expected;
};

void PrintTo(const SpinUpCase& c, std::ostream* os)
{
    *os << c.name;
}

class FindSpinUp : public testing::TestWithParam<SpinUpCase> {};

TEST_P(FindSpinUp, RunsFromTheLastStandstillToTheLastRecordAtTopSpeed)
{
    const SpinUpCase& c = GetParam();
    const std::vector<ReportPoint> rows = testing_support::rowsAtRpm(c.rpm);
    const std::vector<FoundSpinUp> spinUps = findSpinUps(rows);
    const std::optional<std::size_t> found = defaultSpinUp(spinUps);
    ASSERT_EQ(found.has_value(), c.expected.has_value());
    if (found) {
        EXPECT_EQ(spinUps[*found].rows.first, c.expected->first);
        EXPECT_EQ(spinUps[*found].rows.last, c.expected->second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindSpinUp,
    testing::Values(
        SpinUpCase{"StandstillSpinPlateauBrake", {0, 0, 0, 800, 1500, 2100, 2500, 2500, 2500, 1900, 1200, 0}, {{2, 8}}},
        SpinUpCase{"MovingFromTheFirstRecord", {300, 900, 1400, 1800, 2000}, {{0, 4}}},
        SpinUpCase{"JitterAtStandstill", {0, 100, 0, 100, 0, 700, 1300, 1800, 1700}, {{4, 7}}},
        SpinUpCase{"TheFirstOfTwoRuns", {0, 900, 1600, 1600, 0, 0, 900, 1600, 1600, 0}, {{0, 3}}},
        SpinUpCase{"NeverRises", {0, 0, 0, 0}, std::nullopt},
        SpinUpCase{"OnlyFalls", {2000, 1500, 900, 0}, std::nullopt}, SpinUpCase{"TooShort", {0, 900}, std::nullopt},
        SpinUpCase{"OneStepUp", {0, 0, 0, 0, 100}, std::nullopt}),
    testing_support::CaseName());

// ---------------------------------------------------------------------------
// The smoothed spin-up against the motor's own curve.

struct Flywheel {
    const char* name;
    double weightG;
    double spin;
};

void PrintTo(const Flywheel& f, std::ostream* os)
{
    *os << f.name;
}

class SmoothedSpinUpOf : public testing::TestWithParam<Flywheel> {
protected:
    MotorSpinUp motor() const
    {
        MotorSpinUp m;
        m.weightG = GetParam().weightG;
        m.spin = GetParam().spin;
        return m;
    }
};

// The report's torque is 0 for every rise of 100 RPM or less and twice the
// truth for a rise of 200 where the truth is 150: wherever the flywheel
// gains 100 to 200 RPM a record, it is off by most of the torque. The
// smoothed torque is to stay within a few per cent of the peak everywhere.
TEST_P(SmoothedSpinUpOf, FollowsTheMotorsTorqueWhereTheReportCannot)
{
    const MotorSpinUp m = motor();
    const std::vector<ReportPoint> report = reportOf(m);
    const std::optional<SmoothedSpinUp> smoothed = smoothSpinUp(report, m.inertia());
    ASSERT_TRUE(smoothed.has_value());
    ASSERT_FALSE(smoothed->points.empty());
    EXPECT_NEAR(smoothed->points.front().runTime, m.idle, 1e-9) << "from the last record at standstill";

    const double peak = m.peakTorqueMnm();
    double worst = 0.0, worstAt = 0.0, reportWorst = 0.0, efficiencyWorst = 0.0;
    std::size_t compared = 0;
    for (std::size_t k = 0; k < smoothed->points.size(); ++k) {
        const SmoothedPoint& p = smoothed->points[k];
        if (!m.powered(p.runTime))
            continue;
        ++compared;
        const double truth = m.torqueMnm(p.runTime);
        const double error = std::abs(p.torque - truth) / peak;
        if (error > worst) {
            worst = error;
            worstAt = p.runTime;
        }
        // The report's torque is the mean over the step before its record.
        const double stepTruth = m.torqueMnm(p.runTime - 0.01);
        reportWorst = std::max(reportWorst, std::abs(report[smoothed->rows.first + k].torque - stepTruth) / peak);
        EXPECT_NEAR(p.outputPower, truth / 1000 * m.omega(p.runTime), 0.05 * peak / 1000 * m.topSpeed() / 4)
            << "at " << p.runTime << " s";
        if (p.efficiencyResolved) {
            const double efficiency = 100 * truth / 1000 * m.omega(p.runTime) / (m.supply * m.current(p.runTime));
            efficiencyWorst = std::max(efficiencyWorst, std::abs(p.efficiency - efficiency));
        }
    }
    EXPECT_LE(efficiencyWorst, 6.0) << "percentage points, where the efficiency is drawn";
    EXPECT_GE(compared, static_cast<std::size_t>(m.spin / 0.02) - 1) << "every record of the spin-up";
    EXPECT_LE(worst, 0.025) << "worst at " << worstAt << " s";
    EXPECT_GE(reportWorst, 0.10) << "the report itself is biased here";
    std::printf("[ measured ] %s: window %d records (%.2f s); smoothed torque within %.2f %% of the peak "
                "(%.1f mN·m), efficiency within %.1f points where drawn; the report's own torque is off by up to "
                "%.1f %%\n",
                GetParam().name, smoothed->windowRecords, smoothed->windowSeconds, 100 * worst, peak, efficiencyWorst,
                100 * reportWorst);
}

INSTANTIATE_TEST_SUITE_P(Flywheels, SmoothedSpinUpOf,
                         testing::Values(Flywheel{"Light240g", 240, 5}, Flywheel{"Heavy960g", 960, 3},
                                         Flywheel{"Heavy2400g", 2400, 5}),
                         testing_support::CaseName());

TEST(SmoothSpinUp, TheWindowFollowsTheFlywheelsTimeScale)
{
    MotorSpinUp light;
    MotorSpinUp heavy;
    heavy.weightG = 2400;
    const auto lightWindow = smoothSpinUp(reportOf(light), light.inertia());
    const auto heavyWindow = smoothSpinUp(reportOf(heavy), heavy.inertia());
    ASSERT_TRUE(lightWindow && heavyWindow);
    EXPECT_GE(lightWindow->windowRecords, 11);
    EXPECT_LE(lightWindow->windowRecords, 21);
    EXPECT_GT(heavyWindow->windowRecords, 2 * lightWindow->windowRecords)
        << "a heavier flywheel bends its speed more slowly and needs more records per 100 RPM of torque";
    EXPECT_LE(heavyWindow->windowRecords, 101);
}

TEST(SmoothSpinUp, ASteadyAccelerationGivesItsTorqueExactly)
{
    // 50 000 RPM/s on 1.08e-4 kg m² is 565.5 mN·m throughout, at every
    // record, the ends included.
    std::vector<ReportPoint> rows;
    for (int i = 0; i <= 40; ++i)
        rows.push_back({0.5 + 0.02 * i, 12, 50, 1000.0 * i, 0, 0, 600, 0});
    const double inertia = 0.24 * 0.03 * 0.03 / 2;
    const auto smoothed = smoothSpinUp(rows, inertia);
    ASSERT_TRUE(smoothed.has_value());
    ASSERT_EQ(smoothed->points.size(), rows.size());
    const double torque = 1000 * inertia * 50000 * kRadPerSecondPerRpm;
    for (const SmoothedPoint& p : smoothed->points) {
        EXPECT_NEAR(p.torque, torque, 1e-6) << "at " << p.runTime << " s";
        EXPECT_NEAR(p.outputPower, torque / 1000 * p.rpm * kRadPerSecondPerRpm, 1e-6);
        EXPECT_NEAR(p.efficiency, std::min(100.0, p.outputPower / 6), 1e-9);
    }
}

TEST(SmoothSpinUp, NamesItsMethodWindowAndEnds)
{
    MotorSpinUp m;
    const auto smoothed = smoothSpinUp(reportOf(m), m.inertia());
    ASSERT_TRUE(smoothed.has_value());
    const QString method = smoothed->method();
    EXPECT_TRUE(method.contains("local quadratic least-squares fit of RPM against run time")) << method.toStdString();
    EXPECT_TRUE(method.contains(QString("window %1 records").arg(smoothed->windowRecords))) << method.toStdString();
    EXPECT_TRUE(method.contains(QString::number(smoothed->windowSeconds, 'f', 2) + " s")) << method.toStdString();
    EXPECT_TRUE(smoothed->edges().startsWith("Spin-up 0.20 s to 5.20 s")) << smoothed->edges().toStdString();
}

TEST(SmoothSpinUp, TheEfficiencyIsLeftOutOnlyNearTopSpeed)
{
    // Where the torque has fallen to 5 % of its peak the output power is a
    // few 100 RPM steps over the window: there, and only there, no
    // efficiency is drawn.
    MotorSpinUp m;
    const auto smoothed = smoothSpinUp(reportOf(m), m.inertia());
    ASSERT_TRUE(smoothed.has_value());
    const auto& points = smoothed->points;
    const auto firstLeftOut = std::find_if(points.begin(), points.end(),
                                           [](const SmoothedPoint& p) { return !p.efficiencyResolved; });
    ASSERT_NE(firstLeftOut, points.end()) << "the light flywheel reaches top speed";
    EXPECT_GT(firstLeftOut->runTime, m.idle + 2.0) << "not before the torque is down to a few per cent";
    EXPECT_LT(m.torqueMnm(firstLeftOut->runTime), 0.06 * m.peakTorqueMnm());
    EXPECT_TRUE(std::all_of(firstLeftOut, points.end(), [](const SmoothedPoint& p) { return !p.efficiencyResolved; }))
        << "from there to top speed";
    EXPECT_TRUE(smoothed->efficiencyNote().contains("above 5 % of its peak"))
        << smoothed->efficiencyNote().toStdString();
}

TEST(SmoothSpinUp, NothingToSmoothWithoutASpinUp)
{
    EXPECT_FALSE(smoothSpinUp({}, 1e-4).has_value());
    const std::vector<ReportPoint> standing(20, ReportPoint{0.02, 12, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(smoothSpinUp(standing, 1e-4).has_value());
    // Rising, but every record at one run time: no rate to speak of.
    std::vector<ReportPoint> stuck;
    for (int i = 0; i < 5; ++i)
        stuck.push_back({0.02, 12, 10, 500.0 * i, 0, 0, 120, 0});
    EXPECT_FALSE(smoothSpinUp(stuck, 1e-4).has_value());
}

// ---------------------------------------------------------------------------
// Thinning for drawing.

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

// ---------------------------------------------------------------------------
// The live trace.

TEST(LiveTrace, StoresEachSampleAndCountsItsChanges)
{
    LiveTrace trace;
    const std::uint64_t start = trace.version();
    trace.append(RunRecord{Decimal::scaled(2, 2), Decimal::scaled(1150, 2), Decimal::scaled(1084, 1), Decimal(900)});
    ASSERT_EQ(trace.points().size(), 1u);
    EXPECT_EQ(trace.points()[0].runTime, 0.02);
    EXPECT_EQ(trace.points()[0].rpm, 900.0);
    EXPECT_NEAR(trace.points()[0].inputPower, 11.5 * 108.4, 1e-9);
    EXPECT_GT(trace.version(), start);

    const std::uint64_t beforeClear = trace.version();
    trace.clear();
    EXPECT_TRUE(trace.points().empty());
    EXPECT_EQ(trace.appended(), 0u);
    EXPECT_GT(trace.version(), beforeClear) << "a new run is a change to draw";
}

TEST(LiveTrace, ALongRunIsThinnedEvenlyWithinItsCapacity)
{
    LiveTrace trace(64);
    for (int i = 0; i < 1000; ++i)
        trace.append(TracePoint{0.02 * i, 100.0 * i, 1.0});
    EXPECT_EQ(trace.appended(), 1000u);
    ASSERT_LT(trace.points().size(), 64u);
    EXPECT_GE(trace.points().size(), 32u - 1);
    EXPECT_EQ(trace.points().front().rpm, 0.0) << "the start of the run stays";
    const double step = trace.points()[1].rpm - trace.points()[0].rpm;
    for (std::size_t i = 1; i < trace.points().size(); ++i)
        EXPECT_EQ(trace.points()[i].rpm - trace.points()[i - 1].rpm, step) << "point " << i;
    EXPECT_GT(trace.points().back().rpm, 100.0 * 1000 - 2 * step) << "and its end";
}

// ---------------------------------------------------------------------------
// The redraw limit.

TEST(RedrawLimiter, AFullRateStreamIsDrawnAtMostTwentyTimesASecond)
{
    // 886 samples a second (115200 baud, one frame each), the limit asked
    // every millisecond, over ten seconds of a scripted clock.
    RedrawLimiter limiter;
    LiveTrace trace;
    std::uint64_t drawn = trace.version();
    int redraws = 0;
    for (int ms = 0; ms <= 10000; ++ms) {
        if (ms * 886 / 1000 != (ms - 1) * 886 / 1000)
            trace.append(TracePoint{ms / 1000.0, 1000, 10});
        if (limiter.take(std::chrono::milliseconds(ms), trace.version() != drawn)) {
            drawn = trace.version();
            ++redraws;
        }
    }
    EXPECT_LE(redraws, 201) << "10 s at 20 a second, the first at once";
    EXPECT_GE(redraws, 195) << "and the trace is kept up to date";
}

TEST(RedrawLimiter, DrawsOnlyWhatChangedAndAtOnceAfterAReset)
{
    RedrawLimiter limiter(50ms);
    EXPECT_FALSE(limiter.take(0ms, false)) << "nothing new";
    EXPECT_TRUE(limiter.take(0ms, true));
    EXPECT_FALSE(limiter.take(49ms, true));
    EXPECT_TRUE(limiter.take(50ms, true));
    EXPECT_FALSE(limiter.take(60ms, true));
    limiter.reset();
    EXPECT_TRUE(limiter.take(61ms, true)) << "a new run is drawn at once";
    EXPECT_FALSE(limiter.take(1000ms, false));
}

} // namespace
