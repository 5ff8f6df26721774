// The motor's figures and the loss correction against the simulated dyno's
// truth, end to end, on rigs with and without losses: dyno-sim streams one spin-up,
// a coast-down and the brake on a pseudo-terminal; the program's receive
// path records it, the analysis writes the report, and the figures are drawn
// from the report as the chart window and zelvar-analyze --summary do.

#include "curves/MotorFigures.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"

#include "CaseNames.h"
#include "DynoSim.h"
#include "EventLoop.h"
#include "QtPrinters.h"
#include "ReceivePath.h"
#include "SimTruth.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace zelvar {
namespace {

using namespace std::chrono_literals;
using testing_support::pumpUntil;
using testing_support::ReceivePath;
using testing_support::SimProcess;
using testing_support::tickOf;
using testing_support::TruthRow;

struct Rig {
    const char* name;
    QStringList options; // besides --pace line --repeat 1 --spin 6
    double coast = 0;    // s
    double kv = 2500;    // the motor's, as the options set it
    double resistance = 0.1;
    double noLoadCurrent = 0.5;
    double friction = 0; // mN·m
    double windage = 0;  // mN·m at 10000 RPM

    double loss(double rpm) const { return rpm > 0 ? friction + windage * (rpm / 10000) * (rpm / 10000) : 0; }
};

void PrintTo(const Rig& r, std::ostream* os)
{
    *os << r.name;
}

class MotorFiguresAgainstTheSimulatedDyno : public testing::TestWithParam<Rig> {};

TEST_P(MotorFiguresAgainstTheSimulatedDyno, MeetTheirAccuracyTargets)
{
    constexpr double kIdle = 1.0, kSpin = 6.0, kBrake = 1.0;
    const Rig& rig = GetParam();
    const int lastTick = static_cast<int>(std::lround((kIdle + kSpin + rig.coast + kBrake) * 100)) - 2;

    QTemporaryDir dir;
    const QString truthFile = dir.filePath("truth.csv");
    QStringList arguments{"--pace", "line", "--wait-for-reader", "--repeat", "1", "--spin", "6", "--truth", truthFile};
    if (rig.coast > 0)
        arguments << "--coast" << QString::number(rig.coast);
    SimProcess sim(arguments << rig.options, dir.path());
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{24};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, dir.filePath("Temp.dat")));
    ASSERT_TRUE(pumpUntil([&] { return rx.shownTick() >= lastTick || rx.failed(); }, 120s))
        << "shown run time " << rx.shownTick() / 100.0 << " s";
    ASSERT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();
    ASSERT_NO_THROW(RunAnalyzer(rx.files, dir.path()).analyze(readFlywheelAndEsc(rx.form, QLocale::c())));

    const curves::ReportCurves report = curves::loadReport(dir.filePath("save.csv"));
    const curves::MotorFigures m = curves::measureMotor(report);
    const std::vector<TruthRow> truth = testing_support::readTruth(truthFile);
    ASSERT_GT(truth.size(), static_cast<std::size_t>(lastTick));

    // The truth over the powered ticks.
    double peakTorque = 0, peakPower = 0, peakEfficiency = 0, topRpm = 0, currentAtTop = 0;
    for (const TruthRow& t : truth) {
        if (t.current <= 0)
            continue;
        peakTorque = std::max(peakTorque, t.motorTorqueMnm);
        peakPower = std::max(peakPower, t.motorOutputPower);
        peakEfficiency = std::max(peakEfficiency, 100 * t.motorOutputPower / t.inputPower);
        if (t.rpm > topRpm) {
            topRpm = t.rpm;
            currentAtTop = t.current;
        }
    }

    EXPECT_EQ(m.losses.has_value(), rig.coast > 0) << m.noCoastReason.toStdString();
    ASSERT_FALSE(m.curve.empty());

    // Every powered record of the spin-up, corrected and not.
    double worstCorrected = 0, worstUncorrected = 0;
    for (const curves::CorrectedPoint& p : m.curve) {
        const TruthRow& t = truth[tickOf(p.runTime)];
        ASSERT_GT(t.current, 0) << "at " << p.runTime << " s the curve has a record of the motor unpowered";
        worstCorrected = std::max(worstCorrected, std::abs(p.correctedTorque - t.motorTorqueMnm) / peakTorque);
        worstUncorrected = std::max(worstUncorrected, std::abs(p.torque - t.motorTorqueMnm) / peakTorque);
    }
    EXPECT_LE(worstCorrected, 0.025);

    ASSERT_TRUE(m.kv.known()) << m.kv.refused.toStdString();
    ASSERT_TRUE(m.noLoadCurrent.known()) << m.noLoadCurrent.refused.toStdString();
    ASSERT_TRUE(m.peakEfficiency.known()) << m.peakEfficiency.refused.toStdString();
    EXPECT_NEAR(m.kv.value, rig.kv, 0.005 * rig.kv);
    EXPECT_NEAR(m.resistance.value, rig.resistance, 0.02 * rig.resistance);
    const double kt = 60.0 / (2 * std::numbers::pi * rig.kv) * 1000; // mN·m/A
    const double lossErrorAtTop = m.losses ? std::abs(m.losses->torqueMnm(topRpm) - rig.loss(topRpm)) : 0;
    EXPECT_NEAR(m.noLoadCurrent.value, rig.noLoadCurrent, 0.15 + lossErrorAtTop / kt);

    double lossAt[3] = {0, 0, 0};
    if (m.losses) {
        for (int q = 1; q <= 3; ++q) {
            const double rpm = topRpm * q / 4;
            lossAt[q - 1] = m.losses->torqueMnm(rpm);
            EXPECT_NEAR(lossAt[q - 1], rig.loss(rpm), std::max(0.15 * rig.loss(rpm), 2.0)) << "at " << rpm << " RPM";
        }
    }

    ASSERT_TRUE(m.peakPower.known());
    EXPECT_NEAR(m.peakPower.value, peakPower, 0.03 * peakPower);
    // The truth's power at the reported speed: the powered tick nearest it.
    const TruthRow* nearest = nullptr;
    for (const TruthRow& t : truth) {
        if (t.current > 0
            && (!nearest || std::abs(t.rpm - m.peakPowerRpm.value) < std::abs(nearest->rpm - m.peakPowerRpm.value)))
            nearest = &t;
    }
    ASSERT_NE(nearest, nullptr);
    EXPECT_GE(nearest->motorOutputPower, 0.99 * peakPower) << "at " << m.peakPowerRpm.value << " RPM";
    EXPECT_NEAR(m.peakEfficiency.value, peakEfficiency, 2.0);

    std::printf("[ measured ] %s: corrected torque within %.2f %% of the peak %.1f mN·m (uncorrected %.2f %%); "
                "Kv %.1f ± %.1f RPM/V (%+.3f %%), R %.4f ± %.4f ohm (%+.2f %%), I0 %.3f ± %.3f A (%+.3f A; "
                "current at top %.2f A); loss at 1/4, 1/2, 3/4 of %.0f RPM: %.2f, %.2f, %.2f mN·m (truth %.2f, "
                "%.2f, %.2f); peak power %.2f ± %.2f W at %.0f RPM (truth %.2f W, %.2f W there); peak efficiency "
                "%.1f ± %.1f %% at %.0f RPM (truth %.1f %%); coast-down: %s\n",
                rig.name, 100 * worstCorrected, peakTorque, 100 * worstUncorrected, m.kv.value, m.kv.sigma,
                100 * (m.kv.value / rig.kv - 1), m.resistance.value, m.resistance.sigma,
                100 * (m.resistance.value / rig.resistance - 1), m.noLoadCurrent.value, m.noLoadCurrent.sigma,
                m.noLoadCurrent.value - rig.noLoadCurrent, currentAtTop, topRpm, lossAt[0], lossAt[1], lossAt[2],
                rig.loss(topRpm / 4), rig.loss(topRpm / 2), rig.loss(3 * topRpm / 4), m.peakPower.value,
                m.peakPower.sigma, m.peakPowerRpm.value, peakPower, nearest->motorOutputPower, m.peakEfficiency.value,
                m.peakEfficiency.sigma, m.peakEfficiencyRpm.value, peakEfficiency,
                qPrintable(m.losses ? m.losses->describe() : m.noCoastReason));
}

INSTANTIATE_TEST_SUITE_P(Rigs, MotorFiguresAgainstTheSimulatedDyno,
                         testing::Values(
                             // Today's run: a brake right after the spin, no coast-down.
                             Rig{"TodaysDefault", {}}, Rig{"DefaultLossFree", {}, 20},
                             Rig{"DefaultWithLosses", {"--friction", "2", "--windage", "5"}, 60, 2500, 0.1, 0.5, 2, 5},
                             Rig{"HeavyAndSlow",
                                 {"--radius", "50", "--weight", "1000", "--kv", "1000", "--supply", "22.2",
                                  "--friction", "5", "--windage", "10"},
                                 120,
                                 1000,
                                 0.1,
                                 0.5,
                                 5,
                                 10},
                             Rig{"LargeWindage", {"--friction", "2", "--windage", "20"}, 30, 2500, 0.1, 0.5, 2, 20}),
                         testing_support::CaseName());

} // namespace
} // namespace zelvar
