// The smoothed curves against the simulated dyno's truth, end to end:
// dyno-sim streams a spin-up on a pseudo-terminal and writes the model's true
// values; the program's receive path (QSerialPort back end, frame receiver,
// run file) records it, the analysis writes the report, and the curves are
// smoothed from the report as the chart window draws them.

#include "platform/Clock.h"
#include "run/Smoothing.h"
#include "link/FrameReceiver.h"
#include "platform/MainForm.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"
#include "run/SequentialFiles.h"
#include "run/RunFiles.h"
#include "platform/SerialControl.h"

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "CaseNames.h"
#include "QtPrinters.h"
#include "MemoryMainForm.h"
#include "ReceivePath.h"

#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <numbers>
#include <unistd.h>
#include <vector>

namespace zelvar {
namespace {

using namespace std::chrono_literals;
using testing_support::pumpUntil;
using testing_support::readAll;
using testing_support::ReceivePath;
using testing_support::SimProcess;

// The model's values, one row per 10 ms tick from tick 0, as dyno-sim
// --truth writes them: the first seven columns (the later ones, the motor's
// own torque and power and the rig's losses, are not needed here).
struct TruthRow {
    double time, rpm, torqueMnm, outputPower, inputPower, voltage, current;
};

std::vector<TruthRow> readTruth(const QString& path)
{
    std::vector<TruthRow> rows;
    const QByteArrayList lines = readAll(path).split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QByteArrayList f = line.trimmed().split(',');
        if (f.size() >= 7)
            rows.push_back({f[0].toDouble(), f[1].toDouble(), f[2].toDouble(), f[3].toDouble(), f[4].toDouble(),
                            f[5].toDouble(), f[6].toDouble()});
    }
    return rows;
}

int tickOf(double runTime)
{
    return static_cast<int>(std::lround(runTime * 100));
}

struct Dyno {
    const char* name;
    QStringList flywheel;
    double spin; // s
};

void PrintTo(const Dyno& d, std::ostream* os)
{
    *os << d.name;
}

class SmoothedCurvesAgainstTheSimulatedDyno : public testing::TestWithParam<Dyno> {};

// Every record of the spin-up is compared, from the record at standstill on
// which the motor is switched on to the last one before the brake: the
// smoothed torque within 3 % of the peak torque, the smoothed output power
// within 5 % of the peak power (power is torque times speed, so an error
// of the torque near top speed counts up to four times against the peak
// power of a DC motor, reached at half that speed), and the efficiency,
// where it is drawn, within 6 percentage points.
TEST_P(SmoothedCurvesAgainstTheSimulatedDyno, TorqueAndPowerFollowTheModelThroughTheWholeSpinUp)
{
    constexpr double kIdle = 0.2;
    constexpr double kBrake = 0.5;
    const Dyno& dyno = GetParam();
    const int lastTick = static_cast<int>(std::lround((kIdle + dyno.spin + kBrake) * 100)) - 2;

    QTemporaryDir dir;
    const QString truthFile = dir.filePath("truth.csv");
    SimProcess sim(QStringList({"--pace", "line", "--wait-for-reader", "--idle", "0.2", "--spin",
                                QString::number(dyno.spin), "--brake", "0.5", "--repeat", "1", "--truth", truthFile})
                       << dyno.flywheel,
                   dir.path());
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{22};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, dir.filePath("Temp.dat")));
    ASSERT_TRUE(pumpUntil([&] { return rx.shownTick() >= lastTick || rx.failed(); }, 60s))
        << "shown run time " << rx.shownTick() / 100.0 << " s";
    ASSERT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();

    ASSERT_NO_THROW(RunAnalyzer(rx.files, dir.path()).analyze(readFlywheelAndEsc(rx.form, QLocale::c())));
    const curves::ReportCurves curves = curves::loadReportCurves(dir.filePath("save.csv"));
    const std::vector<curves::ReportPoint>& rows = curves.report.rows;
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(lastTick / 2)) << "a record every 20 ms, none lost";
    for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(tickOf(rows[i].runTime), 2 * static_cast<int>(i + 1)) << "record " << i;
    ASSERT_TRUE(curves.smoothed.has_value());
    const curves::SmoothedSpinUp& smoothed = *curves.smoothed;

    const std::vector<TruthRow> truth = readTruth(truthFile);
    ASSERT_GT(truth.size(), static_cast<std::size_t>(lastTick));
    double peakTorque = 0, peakPower = 0;
    for (const TruthRow& t : truth) {
        peakTorque = std::max(peakTorque, t.torqueMnm);
        peakPower = std::max(peakPower, t.outputPower);
    }

    // Every recorded tick on which the motor is powered is in the spin-up.
    int powered = 0;
    for (const curves::ReportPoint& row : rows)
        powered += truth[tickOf(row.runTime)].current > 0 ? 1 : 0;
    EXPECT_EQ(powered, static_cast<int>(std::lround(dyno.spin * 50)));

    int compared = 0;
    double worstTorque = 0, worstPower = 0, worstTorqueAt = 0, worstPowerAt = 0, reportWorst = 0;
    double worstEfficiency = 0;
    for (std::size_t k = 0; k < smoothed.points.size(); ++k) {
        const curves::SmoothedPoint& p = smoothed.points[k];
        const int tick = tickOf(p.runTime);
        const TruthRow& t = truth[tick];
        if (t.current <= 0)
            continue; // the brake's first record still shows top speed
        ++compared;
        const double torqueError = std::abs(p.torque - t.torqueMnm) / peakTorque;
        const double powerError = std::abs(p.outputPower - t.outputPower) / peakPower;
        EXPECT_LE(torqueError, 0.03) << "at " << p.runTime << " s: smoothed " << p.torque << " mN·m, truth "
                                     << t.torqueMnm << " mN·m";
        EXPECT_LE(powerError, 0.05) << "at " << p.runTime << " s: smoothed " << p.outputPower << " W, truth "
                                    << t.outputPower << " W";
        if (p.efficiencyResolved) {
            const double efficiency = 100 * t.outputPower / t.inputPower;
            worstEfficiency = std::max(worstEfficiency, std::abs(p.efficiency - efficiency));
            EXPECT_NEAR(p.efficiency, efficiency, 6.0) << "percentage points at " << p.runTime << " s";
        }
        if (torqueError > worstTorque) {
            worstTorque = torqueError;
            worstTorqueAt = p.runTime;
        }
        if (powerError > worstPower) {
            worstPower = powerError;
            worstPowerAt = p.runTime;
        }
        // The report's torque is the mean over the 20 ms before its record,
        // so its fair truth is the one at the step's midpoint.
        if (tick >= 2) {
            const double report = rows[smoothed.rows.first + k].torque;
            reportWorst = std::max(reportWorst, std::abs(report - truth[tick - 1].torqueMnm) / peakTorque);
        }
    }
    EXPECT_EQ(compared, powered) << "the smoothed curve covers the whole spin-up";
    EXPECT_GE(reportWorst, 0.10) << "the raw report is biased somewhere in this spin-up";
    std::printf("[ measured ] %s: %d records of spin-up, window %d records (%.2f s); smoothed torque within "
                "%.2f %% of the peak %.1f mN·m (worst at %.2f s), output power within %.2f %% of the peak %.1f W "
                "(worst at %.2f s), efficiency within %.1f points where drawn; the raw report's torque is off by up "
                "to %.1f %%\n",
                dyno.name, compared, smoothed.windowRecords, smoothed.windowSeconds, 100 * worstTorque, peakTorque,
                worstTorqueAt, 100 * worstPower, peakPower, worstPowerAt, worstEfficiency, 100 * reportWorst);
}

INSTANTIATE_TEST_SUITE_P(
    Flywheels, SmoothedCurvesAgainstTheSimulatedDyno,
    testing::Values(
        // The simulator's own motor and flywheel (30 mm, 240 g), its 5 s spin.
        Dyno{"DefaultMotor", {}, 5.0},
        // Four times the inertia: the rises are 100 or 200 RPM a record for
        // most of the spin-up, where the report alternates between 0 and
        // twice the torque.
        Dyno{"Heavy960g", {"--weight", "960"}, 3.0},
        // Ten times: rises below 100 RPM, the report's torque nearly all 0.
        Dyno{"Heavy2400g", {"--weight", "2400"}, 5.0}),
    testing_support::CaseName());

} // namespace
} // namespace zelvar
