// The smoothed curves against the simulated dyno's truth, end to end:
// dyno-sim streams a spin-up on a pseudo-terminal and writes the model's true
// values; the program's receive path (QSerialPort back end, frame receiver,
// run file) records it, the analysis writes the report, and the curves are
// smoothed from the report as the chart window draws them.

#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "link/FrameReceiver.h"
#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"

#include "CaseNames.h"
#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "MemoryMainForm.h"
#include "QtPrinters.h"
#include "ReceivePath.h"
#include "SimTruth.h"
#include "WholeReport.h"

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
using testing_support::readAll;
using testing_support::readTruth;
using testing_support::ReceivePath;
using testing_support::SimProcess;
using testing_support::tickOf;
using testing_support::TruthRow;

struct Dyno {
    const char* name;
    QStringList flywheel;
    double spin; // s
};

void PrintTo(const Dyno& d, std::ostream* os)
{
    *os << d.name;
}

constexpr double kIdle = 0.2;
constexpr double kBrake = 0.5;

// dyno-sim's runs recorded through the receive path and analysed as Stop
// does: the report's path, with the model's truth beside it.
struct RecordedRun {
    QString report;
    std::vector<TruthRow> truth;
};

void recordRuns(const QTemporaryDir& dir, const QStringList& flywheel, double spin, double coast, int repeat,
                RecordedRun& run)
{
    const int lastTick = static_cast<int>(std::lround(repeat * (kIdle + spin + coast + kBrake) * 100)) - 2;
    const QString truthFile = dir.filePath("truth.csv");
    SimProcess sim(QStringList({"--pace", "line", "--wait-for-reader", "--idle", QString::number(kIdle), "--spin",
                                QString::number(spin), "--coast", QString::number(coast), "--brake",
                                QString::number(kBrake), "--repeat", QString::number(repeat), "--truth", truthFile})
                       << flywheel,
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
    run.report = dir.filePath("save.csv");
    const curves::Report report = curves::readReport(run.report);
    ASSERT_EQ(report.rows.size(), static_cast<std::size_t>(lastTick / 2)) << "a record every 20 ms, none lost";
    for (std::size_t i = 0; i < report.rows.size(); ++i)
        ASSERT_EQ(tickOf(report.rows[i].runTime), 2 * static_cast<int>(i + 1)) << "record " << i;
    run.truth = readTruth(truthFile);
    ASSERT_GT(run.truth.size(), static_cast<std::size_t>(lastTick));
}

// Every record of a spin-up is compared, from the record at standstill on
// which the motor is switched on to the last one before the brake: the
// smoothed torque within 3 % of the peak torque, the smoothed output power
// within 5 % of the peak power (power is torque times speed, so an error
// of the torque near top speed counts up to four times against the peak
// power of a DC motor, reached at half that speed), and the efficiency,
// where it is drawn, within 6 percentage points. `curves.report.rows` are
// the rows smoothed->rows counts in.
void expectFollowsTheTruth(const std::string& name, const curves::ReportCurves& curves,
                           const std::vector<TruthRow>& truth, double spin)
{
    ASSERT_TRUE(curves.smoothed.has_value()) << name;
    const curves::SmoothedSpinUp& smoothed = *curves.smoothed;
    const std::vector<curves::ReportPoint>& rows = curves.report.rows;
    double peakTorque = 0, peakPower = 0;
    for (const TruthRow& t : truth) {
        peakTorque = std::max(peakTorque, t.torqueMnm);
        peakPower = std::max(peakPower, t.outputPower);
    }

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
        EXPECT_LE(torqueError, 0.03) << name << " at " << p.runTime << " s: smoothed " << p.torque << " mN·m, truth "
                                     << t.torqueMnm << " mN·m";
        EXPECT_LE(powerError, 0.05) << name << " at " << p.runTime << " s: smoothed " << p.outputPower << " W, truth "
                                    << t.outputPower << " W";
        if (p.efficiencyResolved) {
            const double efficiency = 100 * t.outputPower / t.inputPower;
            worstEfficiency = std::max(worstEfficiency, std::abs(p.efficiency - efficiency));
            EXPECT_NEAR(p.efficiency, efficiency, 6.0) << name << ": percentage points at " << p.runTime << " s";
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
    // Every recorded tick on which the motor is powered is in the spin-up.
    EXPECT_EQ(compared, static_cast<int>(std::lround(spin * 50))) << name << ": the smoothed curve covers the spin-up";
    EXPECT_GE(reportWorst, 0.10) << name << ": the raw report is biased somewhere in this spin-up";
    std::printf("[ measured ] %s: %d records of spin-up, window %d records (%.2f s); smoothed torque within "
                "%.2f %% of the peak %.1f mN·m (worst at %.2f s), output power within %.2f %% of the peak %.1f W "
                "(worst at %.2f s), efficiency within %.1f points where drawn; the raw report's torque is off by up "
                "to %.1f %%\n",
                name.c_str(), compared, smoothed.windowRecords, smoothed.windowSeconds, 100 * worstTorque, peakTorque,
                worstTorqueAt, 100 * worstPower, peakPower, worstPowerAt, worstEfficiency, 100 * reportWorst);
}

class SmoothedCurvesAgainstTheSimulatedDyno : public testing::TestWithParam<Dyno> {};

TEST_P(SmoothedCurvesAgainstTheSimulatedDyno, TorqueAndPowerFollowTheModelThroughTheWholeSpinUp)
{
    const Dyno& dyno = GetParam();
    QTemporaryDir dir;
    RecordedRun run;
    ASSERT_NO_FATAL_FAILURE(recordRuns(dir, dyno.flywheel, dyno.spin, 0.0, 1, run));
    const curves::ReportCurves curves = curves::loadReport(run.report);
    EXPECT_EQ(curves.spinUps.size(), 1u);
    expectFollowsTheTruth(dyno.name, curves, run.truth, dyno.spin);
}

// Three throttle pulls in one recording, each followed by a coast-down on a
// rig with losses: each is found, and each is smoothed as well as a run's
// only one, and gives the motor's figures a reading of every row of the
// report gives.
TEST(SmoothedCurvesOfEverySpinUp, ThreeRunsInOneRecordingAreThreeSpinUpsEachFollowingTheModel)
{
    constexpr double kSpin = 3.0;
    constexpr double kCoast = 3.0;
    QTemporaryDir dir;
    RecordedRun run;
    ASSERT_NO_FATAL_FAILURE(recordRuns(dir, {"--friction", "2", "--windage", "5"}, kSpin, kCoast, 3, run));
    const std::vector<curves::FoundSpinUp> spinUps = curves::loadReport(run.report).spinUps;
    ASSERT_EQ(spinUps.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        const curves::FoundSpinUp& found = spinUps[k];
        const double cycleStart = static_cast<double>(k) * (kIdle + kSpin + kCoast + kBrake);
        EXPECT_NEAR(found.startTime, cycleStart + kIdle, 0.05) << "spin-up " << k + 1 << " starts when powered";
        EXPECT_TRUE(found.complete) << "spin-up " << k + 1;
        curves::LoadRequest request;
        request.spinUp = k;
        const curves::ReportCurves curves = curves::loadReport(run.report, request);
        expectFollowsTheTruth("spin-up " + std::to_string(k + 1) + " of 3", curves, run.truth, kSpin);
        const curves::MotorFigures figures = curves::measureMotor(curves);
        EXPECT_TRUE(figures.losses.has_value()) << "spin-up " << k + 1 << ": " << figures.noCoastReason.toStdString();
        EXPECT_EQ(summaryJson(figures), summaryJson(testing_support::figuresOfWholeReport(run.report, k)))
            << "spin-up " << k + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Flywheels, SmoothedCurvesAgainstTheSimulatedDyno,
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
