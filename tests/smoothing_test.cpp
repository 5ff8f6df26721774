// The local fit and the smoothing of a spin-up, against known curves.

#include "curves/Smoothing.h"
#include "run/RunAnalyzer.h"

#include "CaseNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

using namespace zelvar;
using namespace zelvar::curves;

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

} // namespace
