// The loss fit and the motor's figures on curves made here, whose answers are
// known: a wrong sign or unit shows at once.

#include "curves/FigureFormats.h"
#include "curves/LossFit.h"
#include "curves/MotorFigures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zelvar::curves {
namespace {

constexpr double kRadPerRpm = 2 * std::numbers::pi / 60;
constexpr double kInertia = 0.24 * 0.03 * 0.03 / 2; // the default flywheel, kg·m²

// A flywheel coasting from `rpm` on T = c0 + c1·ω + c2·ω² (mN·m, ω in
// rad/s), a record every 20 ms with the speed in the report's 100 RPM steps,
// after one powered record at the same speed.
std::vector<ReportPoint> coastDown(double rpm, double c0, double c1, double c2, double seconds)
{
    std::vector<ReportPoint> rows;
    rows.push_back({0.0, 12.0, 10.0, rpm, 0, 0, 0, 0});
    double w = rpm * kRadPerRpm;
    for (int k = 1; k * 0.02 <= seconds; ++k) {
        for (int s = 0; s < 200; ++s) {
            const double torque = w > 0 ? (c0 + c1 * w + c2 * w * w) / 1000 : 0;
            w = std::max(0.0, w - torque / kInertia * 1e-4);
        }
        rows.push_back({k * 0.02, 12.0, 0.0, 100 * std::round(w / kRadPerRpm / 100), 0, 0, 0, 0});
    }
    return rows;
}

TEST(LossFit, RecoversAPolynomialCoastDown)
{
    const std::vector<ReportPoint> rows = coastDown(27000, 2.0, 0.002, 5e-6, 60);
    const CoastDownSearch search = findCoastDown(rows, 0, kInertia, 45.0);
    ASSERT_TRUE(search.coast.has_value()) << search.reason.toStdString();
    EXPECT_EQ(search.coast->end, QStringLiteral("standstill"));
    const LossFit fit = fitLosses(rows, *search.coast, kInertia);
    for (double rpm : {5000.0, 10000.0, 20000.0, 26000.0}) {
        const double w = rpm * kRadPerRpm;
        const double truth = 2.0 + 0.002 * w + 5e-6 * w * w;
        EXPECT_NEAR(fit.torqueMnm(rpm), truth, 0.03 * truth) << rpm << " RPM";
        EXPECT_TRUE(fit.covers(rpm));
    }
    EXPECT_FALSE(fit.covers(28000));
    EXPECT_GT(fit.sigmaMnm(20000), 0.0);
}

TEST(LossFit, ABrakeAloneIsNoCoastDown)
{
    // Three seconds from 27000 RPM to standstill at a steady rate: far
    // harder than the 2 mN·m the motor gave at top speed.
    std::vector<ReportPoint> rows;
    rows.push_back({0.0, 12.0, 0.6, 27000, 0, 0, 0, 0});
    for (int k = 1; k <= 150; ++k)
        rows.push_back({k * 0.02, 0.0, 0.0, 100 * std::round(270 - k * 1.8), 0, 0, 0, 0});
    const CoastDownSearch search = findCoastDown(rows, 0, kInertia, 2.0);
    EXPECT_FALSE(search.coast.has_value());
    EXPECT_TRUE(search.reason.contains(QStringLiteral("brake"))) << search.reason.toStdString();
    // A brake of a second is too short to be one in any case.
    rows.resize(51);
    EXPECT_FALSE(findCoastDown(rows, 0, kInertia).coast.has_value());
}

// A motor spinning the flywheel up without any rounding: V = I·R + RPM/Kv
// at the terminals, shaft torque Kt·(I − I0), a supply of 12 V behind 5 mΩ.
Report motorRun(double kv, double r, double i0, int records)
{
    Report report;
    report.radiusMm = 30;
    report.weightG = 240;
    const double kt = 60 / (2 * std::numbers::pi * kv);
    double w = 0;
    for (int k = 0; k < records; ++k) {
        const double current = (12.0 - w / kRadPerRpm / kv) / (r + 0.005);
        const double voltage = 12.0 - 0.005 * current;
        report.rows.push_back({k * 0.02, voltage, current, w / kRadPerRpm, 0, 0, voltage * current, 0});
        for (int s = 0; s < 200; ++s) {
            const double c = (12.0 - w / kRadPerRpm / kv) / (r + 0.005);
            w += kt * (c - i0) / report.inertia() * 1e-4;
        }
    }
    return report;
}

TEST(MotorFigures, ANoiselessMotorLineGivesItsConstants)
{
    const Report report = motorRun(2500, 0.1, 0.5, 300);
    const MotorFigures m = measureMotor(report, smoothSpinUp(report.rows, report.inertia()));
    ASSERT_TRUE(m.kv.known()) << m.kv.refused.toStdString();
    EXPECT_NEAR(m.kv.value, 2500, 1.0);
    EXPECT_NEAR(m.resistance.value, 0.1, 0.001);
    EXPECT_NEAR(m.kt.value, 60 / (2 * std::numbers::pi * 2500) * 1000, 0.01);
    EXPECT_NEAR(m.supplyVoltage.value, 12.0, 0.01);
    ASSERT_TRUE(m.noLoadCurrent.known());
    EXPECT_NEAR(m.noLoadCurrent.value, 0.5, 0.05);
    EXPECT_GT(m.peakTorque.value, 400);
    EXPECT_LT(m.peakTorqueRpm.value, 1000);
    EXPECT_GT(m.peakEfficiency.value, 80);
    EXPECT_FALSE(m.losses.has_value());
    EXPECT_FALSE(m.noCoastReason.isEmpty());
    EXPECT_TRUE(summaryJson(m).contains("\"loss_c0_mNm\": null"));
    EXPECT_TRUE(curvesCsv(m).startsWith(QByteArray(kCurvesCsvHeader) + '\n'));
}

TEST(MotorFigures, RefusedWithAReason)
{
    Report report = motorRun(2500, 0.1, 0.5, 300);
    for (ReportPoint& row : report.rows)
        row.current = 3.0;
    const MotorFigures steady = measureMotor(report, smoothSpinUp(report.rows, report.inertia()));
    EXPECT_FALSE(steady.kv.known());
    EXPECT_TRUE(steady.resistance.refused.contains(QStringLiteral("current never changes")));
    EXPECT_FALSE(steady.peakEfficiency.known());
    EXPECT_TRUE(summaryJson(steady).contains("\"refused\""));

    const MotorFigures none = measureMotor(report, std::nullopt);
    EXPECT_TRUE(none.peakTorque.refused.contains(QStringLiteral("no spin-up")));
}

} // namespace
} // namespace zelvar::curves
