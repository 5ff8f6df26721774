// dyno-sim as a program: its command line, the stream and truth it writes,
// and end to end with the program's receive path on the pseudo-terminal it
// opens (QSerialPort back end, frame receiver, run file, run analysis).

#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "link/FrameReceiver.h"
#include "link/TelemetryFrame.h"
#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"
#include "tools/dyno-sim/Dyno.h"
#include "tools/dyno-sim/FrameEncoder.h"
#include "tools/dyno-sim/MotorModel.h"

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "MemoryMainForm.h"
#include "QtPrinters.h"
#include "ReceivePath.h"

#include <gtest/gtest.h>

#include <QByteArrayList>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace zelvar {
namespace {

using namespace std::chrono_literals;
using Outcome = testing_support::ProgramOutcome;
using testing_support::pumpUntil;
using testing_support::readAll;
using testing_support::ReceivePath;
using testing_support::runSim;
using testing_support::SimProcess;

// One sample as the frames carry it and the run file records it.
struct Sample {
    int tick;
    int voltage; // 0.01 V
    int current; // 0.1 A
    int rpm;     // 100 RPM

    friend bool operator==(const Sample&, const Sample&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Sample& s)
    {
        return os << "{tick " << s.tick << ", " << s.voltage << ", " << s.current << ", " << s.rpm << "}";
    }
};

std::vector<TelemetryFrame> framesIn(const QByteArray& stream)
{
    std::vector<TelemetryFrame> frames;
    for (qsizetype at = 0; at + TelemetryFrame::kSize <= stream.size(); at += TelemetryFrame::kSize) {
        TelemetryFrame f;
        std::copy_n(stream.constData() + at, TelemetryFrame::kSize, reinterpret_cast<char*>(f.bytes.data()));
        frames.push_back(f);
    }
    return frames;
}

Sample sampleOf(const TelemetryFrame& f)
{
    return {f.tickCount(), f.word(5), f.word(7), f.word(9)};
}

std::vector<Sample> recordedSamples(const QString& runFile)
{
    std::vector<Sample> samples;
    for (const QByteArray& line : readAll(runFile).split('\n')) {
        const QByteArrayList f = line.trimmed().split(',');
        if (f.size() != 4)
            continue;
        samples.push_back({static_cast<int>(std::lround(f[0].toDouble() * 100)),
                           static_cast<int>(std::lround(f[1].toDouble() * 100)),
                           static_cast<int>(std::lround(f[2].toDouble() * 10)),
                           static_cast<int>(std::lround(f[3].toDouble() / 100))});
    }
    return samples;
}

// The model's values, one row per tick from tick 0.
struct TruthRow {
    double time, rpm, torqueMnm, outputPower, inputPower, voltage, current;
    double motorTorqueMnm, lossTorqueMnm, motorOutputPower;
    double windingResistance, supplyVoltage;
};

constexpr const char* kTruthHeader = "time_s,rpm,torque_mNm,output_power_W,input_power_W,voltage_V,current_A,"
                                     "motor_torque_mNm,loss_torque_mNm,motor_output_power_W,"
                                     "winding_resistance_ohm,supply_V";

std::vector<TruthRow> readTruth(const QString& path)
{
    std::vector<TruthRow> rows;
    QByteArrayList lines = readAll(path).split('\n');
    if (!lines.isEmpty())
        lines.removeFirst();
    for (const QByteArray& line : lines) {
        const QByteArrayList f = line.trimmed().split(',');
        if (f.size() == 12)
            rows.push_back({f[0].toDouble(), f[1].toDouble(), f[2].toDouble(), f[3].toDouble(), f[4].toDouble(),
                            f[5].toDouble(), f[6].toDouble(), f[7].toDouble(), f[8].toDouble(), f[9].toDouble(),
                            f[10].toDouble(), f[11].toDouble()});
    }
    return rows;
}

// The first gap in a list of ticks that should run 2, 4, 6, ...
std::optional<std::size_t> firstGap(const std::vector<int>& ticks)
{
    for (std::size_t i = 0; i < ticks.size(); ++i)
        if (ticks[i] != 2 * static_cast<int>(i + 1))
            return i;
    return std::nullopt;
}

// The command line.

TEST(DynoSimTool, HelpExplainsEveryOption)
{
    const Outcome o = runSim({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    for (const char* option : {"--radius",
                               "--weight",
                               "--esc-neutral",
                               "--esc-full",
                               "--interval",
                               "--kv",
                               "--resistance",
                               "--no-load-current",
                               "--supply",
                               "--supply-resistance",
                               "--idle",
                               "--spin",
                               "--brake",
                               "--repeat",
                               "--duration",
                               "--kind",
                               "--pace",
                               "--baud",
                               "--stray",
                               "--bad-trailer",
                               "--bad-kind",
                               "--duplicate",
                               "--burst",
                               "--vanish-after",
                               "--seed",
                               "--com",
                               "--link-file",
                               "--wait-for-reader",
                               "--out",
                               "--truth",
                               "--version",
                               "ZELVAR_COM",
                               "--friction",
                               "--windage",
                               "--coast",
                               "motor_torque_mNm",
                               "loss_torque_mNm",
                               "motor_output_power_W",
                               "--supplies",
                               "--heating",
                               "--heat-capacity",
                               "--cooling-time",
                               "winding_resistance_ohm",
                               "supply_V"})
        EXPECT_TRUE(o.out.contains(option)) << option << " missing from:\n" << o.out.toStdString();
}

TEST(DynoSimTool, BadCallsSayWhyInOneLineAndOpenNothing)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("link.txt");
    const std::pair<QStringList, const char*> calls[] = {
        {{"--frobnicate"}, "Unknown option 'frobnicate'"},
        {{"--radius", "thirty"}, "--radius: \"thirty\" is not a number"},
    };
    for (const auto& [arguments, message] : calls) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome o = runSim(QStringList(arguments) << "--link-file" << link);
        EXPECT_EQ(o.exitCode, 2);
        EXPECT_TRUE(o.err.contains(message)) << o.err.toStdString();
        EXPECT_EQ(o.err.count('\n'), 1) << o.err.toStdString();
        EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        EXPECT_FALSE(QFile::exists(link));
    }
}

// dyno-sim with its stream and its truth written into a scratch folder.
struct SimFiles {
    Outcome run(QStringList arguments) const { return runSim(arguments << "--out" << stream << "--truth" << truth); }

    QTemporaryDir dir;
    QString stream = dir.filePath("stream.bin");
    QString truth = dir.filePath("truth.csv");
};

// The stream and the truth.

TEST(DynoSimTool, TheStreamCarriesTheModelsValuesQuantisedTickByTick)
{
    const SimFiles files;
    const QString link = files.dir.filePath("link.txt");
    const Outcome o = files.run({"--pace",   "line",     "--idle", "0.5",        "--spin",      "1",      "--brake",
                                 "0.5",      "--repeat", "1",      "--duration", "2.5",         "--kind", "live",
                                 "--radius", "30.5",     "--com",  "9",          "--link-file", link});
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();

    const QString mapping = QString::fromLocal8Bit(readAll(link)).trimmed();
    EXPECT_TRUE(mapping.startsWith("ZELVAR_COM9=/dev/")) << mapping.toStdString();
    EXPECT_TRUE(o.out.split('\n').contains(mapping)) << o.out.toStdString();
    EXPECT_TRUE(o.err.contains("0 dropped")) << o.err.toStdString();

    EXPECT_EQ(readAll(files.truth).split('\r').constFirst(), kTruthHeader);
    const std::vector<TruthRow> truth = readTruth(files.truth);
    ASSERT_EQ(truth.size(), 250u) << "one row per tick of 2.5 s";
    const std::vector<TelemetryFrame> frames = framesIn(readAll(files.stream));
    ASSERT_EQ(frames.size(), 253u) << "a sample per tick and a set-up frame per second";
    std::size_t next = 0;
    for (const TelemetryFrame& f : frames) {
        if (f.is(TelemetryFrame::DynoSetup)) {
            EXPECT_EQ(next % 100, 0u) << "set-up frame before tick " << next;
            EXPECT_EQ(std::make_tuple(f.flywheelRadius(), f.flywheelWeight(), f.escNeutral(), f.escFull(),
                                      f.interval()),
                      std::make_tuple(30.5, 240.0, 1500.0, 2000.0, 20.0));
            continue;
        }
        ASSERT_TRUE(f.is(TelemetryFrame::LiveSample)) << "frame for tick " << next;
        ASSERT_LT(next, truth.size());
        const TruthRow& t = truth[next];
        EXPECT_EQ(t.time, next / 100.0);
        const dynosim::SampleCode code = dynosim::quantise(t.voltage, t.current, t.rpm);
        EXPECT_EQ(sampleOf(f), (Sample{static_cast<int>(next), code.voltage, code.current, code.rpm}))
            << "truth: " << t.voltage << " V, " << t.current << " A, " << t.rpm << " RPM";
        ++next;
    }
    EXPECT_EQ(truth[49].current, 0.0) << "standstill before the spin-up";
    EXPECT_GT(truth[50].current, 100.0) << "the spin-up starts at stall current";
    EXPECT_LT(truth[160].torqueMnm, 0.0) << "braking";
    EXPECT_EQ(truth[249].rpm, 0.0) << "stopped by the end of the brake time";
}

// The stream and the truth's first seven columns as dyno-sim wrote them
// before the rig had losses and a coast: a loss-free rig, run by the
// defaults, still gives them byte for byte.
TEST(DynoSimTool, TheLossFreeRigStreamsAndTellsTheTruthByteForByteAsBefore)
{
    const SimFiles files;
    const Outcome o = files.run({"--pace", "line", "--repeat", "2", "--idle", "0.3", "--spin", "1.5", "--brake", "0.4",
                                 "--seed", "5", "--stray", "0.05", "--duplicate", "0.02"});
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();

    QByteArray firstSeven;
    for (const QByteArray& line : readAll(files.truth).split('\n')) {
        const QByteArrayList f = line.trimmed().split(',');
        if (f.size() >= 10)
            firstSeven += f.mid(0, 7).join(',') + "\r\n";
    }
    const auto sha256 = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
    };
    EXPECT_EQ(sha256(readAll(files.stream)), "11e0f9954a3186d5fe327bc1b23c940b358a6a4fa19d6d2483aa39abb15d5fc4");
    EXPECT_EQ(sha256(firstSeven), "fe939bddf4d66693f3c3f4547bbc92a9b858b2f8ad1e25f97c55a9e87c9c5e65")
        << "the first lines:\n"
        << firstSeven.left(400).toStdString();

    const std::vector<TruthRow> truth = readTruth(files.truth);
    ASSERT_EQ(truth.size(), 440u);
    for (const TruthRow& t : truth) {
        ASSERT_EQ(t.lossTorqueMnm, 0.0) << "at " << t.time << " s";
        ASSERT_EQ(t.motorTorqueMnm, t.current > 0 ? t.torqueMnm : 0.0) << "at " << t.time << " s";
        ASSERT_EQ(std::make_pair(t.windingResistance, t.supplyVoltage), std::make_pair(0.1, 12.0))
            << "without --heating the winding stays cold; at " << t.time << " s";
    }
}

// A sweep in one stream: each spin-up at its supply, which the records show
// as the open supply while the flywheel coasts; with --heating the truth
// gives the winding's resistance as it warms with each spin-up and cools
// between them.
TEST(DynoSimTool, ASweepFeedsEachRunFromItsSupplyAndTheTruthGivesTheWarmingWinding)
{
    const double supplies[] = {8, 12, 16};
    const SimFiles files;
    const Outcome o = files.run({"--pace", "line", "--idle", "0.2", "--spin", "1", "--coast", "0.3", "--brake", "0.3",
                                 "--supplies", "8,12,16", "--heating", "--cooling-time", "30"});
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    const std::vector<TruthRow> truth = readTruth(files.truth);
    ASSERT_EQ(truth.size(), 540u) << "without --repeat, one run per supply of 0.2 + 1 + 0.3 + 0.3 s";

    std::vector<double> resistanceAtSpinUp, resistanceAfterSpin;
    for (std::size_t tick = 0; tick < truth.size(); ++tick) {
        const TruthRow& t = truth[tick];
        const std::size_t run = tick / 180, at = tick % 180;
        const std::string where = "run " + std::to_string(run + 1) + " at " + std::to_string(t.time) + " s";
        ASSERT_EQ(t.supplyVoltage, supplies[run]) << where;
        if (at == 20) {
            resistanceAtSpinUp.push_back(t.windingResistance);
            EXPECT_DOUBLE_EQ(t.current, supplies[run] / (t.windingResistance + 0.005)) << where << ": stall current";
        }
        if (at == 120)
            resistanceAfterSpin.push_back(t.windingResistance);
        if (tick > 0 && t.current > 0 && truth[tick - 1].current > 0) {
            EXPECT_GT(t.windingResistance, truth[tick - 1].windingResistance) << where << ": warming while powered";
        }
        if (tick > 0 && truth[tick - 1].current == 0 && truth[tick - 1].windingResistance > 0.1) {
            EXPECT_LT(t.windingResistance, truth[tick - 1].windingResistance) << where << ": cooling unpowered";
        }
    }
    EXPECT_EQ(resistanceAtSpinUp.front(), 0.1) << "the winding starts cold";
    for (std::size_t run = 0; run < 3; ++run)
        EXPECT_GT(resistanceAfterSpin[run], resistanceAtSpinUp[run]) << "run " << run + 1;

    // The records: the coast's voltage is each run's open supply.
    std::vector<int> coastVoltages;
    for (const TelemetryFrame& f : framesIn(readAll(files.stream))) {
        const TruthRow& t = truth[static_cast<std::size_t>(f.tickCount())];
        if (f.is(TelemetryFrame::RunSample) && t.current == 0 && t.voltage > 0
            && (coastVoltages.empty() || coastVoltages.back() != f.word(5)))
            coastVoltages.push_back(f.word(5));
    }
    EXPECT_EQ(coastVoltages, (std::vector<int>{800, 1200, 1600}));
}

// Each run spins, coasts for the coast time with the motor disconnected, and
// brakes; the truth's new columns split the net torque into the motor's and
// the rig's losses', and the frames show the disconnected motor.
TEST(DynoSimTool, EachRunCoastsForTheCoastTimeWithOnlyTheRigsLossesSlowingIt)
{
    constexpr double kFrictionMnm = 3, kWindageMnm = 20, kSupply = 12;
    constexpr int kCoastTicks = 50;
    const SimFiles files;
    const Outcome o = files.run({"--pace", "line", "--idle", "0.2", "--spin", "1", "--coast", "0.5", "--brake", "0.3",
                                 "--repeat", "2", "--friction", "3", "--windage", "20"});
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    const std::vector<TruthRow> truth = readTruth(files.truth);
    ASSERT_EQ(truth.size(), 400u) << "two runs of 0.2 + 1 + 0.5 + 0.3 s";

    std::vector<int> coasts; // ticks of each coast
    bool wasCoasting = false;
    for (const TruthRow& t : truth) {
        const std::string at = "at " + std::to_string(t.time) + " s, " + std::to_string(t.rpm) + " RPM";
        ASSERT_GE(t.rpm, 0.0) << at;
        const bool powered = t.current > 0;
        const bool coasting = !powered && t.voltage == kSupply;
        // At standstill friction holds back as much of the drive as it can:
        // all of it, the motor's stall torque being larger.
        const double loss = t.rpm > 0 ? kFrictionMnm + kWindageMnm * std::pow(t.rpm / 10000, 2)
                          : powered   ? kFrictionMnm
                                      : 0.0;
        EXPECT_NEAR(t.lossTorqueMnm, loss, 1e-9 * loss) << at;
        if (powered) {
            EXPECT_NEAR(t.motorTorqueMnm - t.lossTorqueMnm, t.torqueMnm, 1e-9 * t.motorTorqueMnm) << at;
            EXPECT_NEAR(t.motorOutputPower, t.motorTorqueMnm / 1000 * t.rpm * dynosim::kPi / 30,
                        1e-9 * t.motorOutputPower)
                << at;
        } else {
            EXPECT_EQ(std::make_tuple(t.motorTorqueMnm, t.motorOutputPower, t.inputPower),
                      std::make_tuple(0.0, 0.0, 0.0))
                << at << ": no drive without power";
        }
        if (coasting) {
            EXPECT_EQ(t.torqueMnm, -t.lossTorqueMnm) << at;
            if (!wasCoasting)
                coasts.push_back(0);
            ++coasts.back();
        }
        wasCoasting = coasting;
    }
    EXPECT_EQ(coasts, std::vector<int>(2, kCoastTicks)) << "one coast of 0.5 s after each spin";

    int coastFrames = 0;
    for (const TelemetryFrame& f : framesIn(readAll(files.stream))) {
        if (!f.is(TelemetryFrame::RunSample))
            continue;
        const TruthRow& t = truth[static_cast<std::size_t>(f.tickCount())];
        if (t.current == 0 && t.voltage == kSupply) {
            ++coastFrames;
            EXPECT_EQ(std::make_tuple(f.word(5), f.word(7)), std::make_tuple(1200, 0)) << "tick " << f.tickCount();
        }
    }
    EXPECT_EQ(coastFrames, 2 * kCoastTicks);
}

TEST(DynoSimTool, ASeedReplaysTheSameFaultsInTheStream)
{
    QTemporaryDir dir;
    const auto streamWith = [&](const char* seed) {
        const QString out = dir.filePath(QString("stream-%1.bin").arg(seed));
        const Outcome o = runSim({"--pace", "line", "--duration", "3", "--stray", "0.1", "--bad-trailer", "0.05",
                                  "--bad-kind", "0.05", "--duplicate", "0.05", "--burst", "3", "--seed", seed, "--out",
                                  out});
        EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
        EXPECT_TRUE(o.out.contains(QString("fault seed %1").arg(seed))) << o.out.toStdString();
        EXPECT_TRUE(o.err.contains("0 dropped")) << o.err.toStdString();
        return readAll(out);
    };
    const QByteArray first = streamWith("7");
    EXPECT_GT(first.size(), 303 * TelemetryFrame::kSize) << "faults add bytes";
    EXPECT_EQ(streamWith("7"), first);
    EXPECT_NE(streamWith("8"), first);
}

// End to end.

TEST(DynoSimEndToEnd, ADeviceThatDisappearsEndsTheRunWithErrorAndItsRecordsKept)
{
    QTemporaryDir dir;
    SimProcess sim({"--idle", "0.2", "--spin", "2", "--vanish-after", "1", "--wait-for-reader"}, dir.path());
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{21};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, dir.filePath("Temp.dat")));

    ASSERT_TRUE(pumpUntil([&] { return rx.failed(); }, 20s)) << "shown run time " << rx.shownTick();
    EXPECT_EQ(rx.form.Command1().caption(), "Start");
    EXPECT_FALSE(rx.comm.PortOpen());
    EXPECT_FALSE(rx.files.isBound(runfiles::kRunFileNumber));
    EXPECT_TRUE(rx.receiver.lastError().contains("lost")) << rx.receiver.lastError().toStdString();

    std::vector<int> ticks;
    for (const Sample& s : recordedSamples(dir.filePath("Temp.dat")))
        ticks.push_back(s.tick);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(firstGap(ticks), std::nullopt) << "records run 0.02, 0.04, ... up to the loss";
    EXPECT_LT(ticks.back(), 100) << "nothing after the device disappeared at 1 s";

    const Outcome o = sim.finish();
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_TRUE(o.err.contains("the device disappeared")) << o.err.toStdString();
}

// Five runs back to back of the default rig with --heating, received and
// analysed as the program does: the winding's resistance, as the motor's
// figures measure it on each spin-up, rises from the first to the last by
// more than three times the first's uncertainty, so that a set of runs has
// a drift to find; and each spin-up's figure follows the truth's resistance
// over its powered ticks.
TEST(DynoSimEndToEnd, FiveHeatedRunsMeasureARisingResistanceWellBeyondOneRunsUncertainty)
{
    constexpr int kRuns = 5, kCycleTicks = 700; // the default 1 + 5 + 1 s
    QTemporaryDir dir;
    const QString truthFile = dir.filePath("truth.csv");
    SimProcess sim({"--pace", "line", "--wait-for-reader", "--repeat", "5", "--heating", "--truth", truthFile},
                   dir.path());
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{24};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, dir.filePath("Temp.dat")));
    ASSERT_TRUE(pumpUntil([&] { return rx.shownTick() >= kRuns * kCycleTicks - 2 || rx.failed(); }, 180s))
        << "shown run time " << rx.shownTick() / 100.0 << " s";
    ASSERT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();
    ASSERT_NO_THROW(RunAnalyzer(rx.files, dir.path()).analyze(readFlywheelAndEsc(rx.form, QLocale::c())));
    const std::vector<TruthRow> truth = readTruth(truthFile);
    ASSERT_EQ(truth.size(), static_cast<std::size_t>(kRuns * kCycleTicks));

    std::vector<curves::Figure> measured;
    for (std::size_t k = 0; k < kRuns; ++k) {
        curves::LoadRequest request;
        request.spinUp = k;
        request.points = false;
        const curves::ReportCurves report = curves::loadReport(dir.filePath("save.csv"), request);
        ASSERT_EQ(report.spinUps.size(), static_cast<std::size_t>(kRuns));
        const curves::MotorFigures m = curves::measureMotor(report);
        ASSERT_TRUE(m.resistance.known()) << "spin-up " << k + 1 << ": " << m.resistance.refused.toStdString();
        measured.push_back(m.resistance);

        // The truth's resistance over the spin-up's powered ticks: it warms
        // within the spin-up, so the figure lies within its range.
        double least = 1e9, most = 0;
        for (std::size_t tick = k * kCycleTicks; tick < (k + 1) * kCycleTicks; ++tick)
            if (truth[tick].current > 0) {
                least = std::min(least, truth[tick].windingResistance);
                most = std::max(most, truth[tick].windingResistance);
            }
        EXPECT_GT(m.resistance.value, least - 0.02 * least) << "spin-up " << k + 1;
        EXPECT_LT(m.resistance.value, most + 0.02 * most) << "spin-up " << k + 1;
        std::printf("[ measured ] spin-up %zu: R %.5f ± %.5f ohm, truth %.5f to %.5f ohm over the spin-up\n", k + 1,
                    m.resistance.value, m.resistance.sigma, least, most);
    }
    const double rise = measured.back().value - measured.front().value;
    EXPECT_GE(rise, 3 * measured.front().sigma);
    std::printf("[ measured ] R rose by %.5f ohm from the first spin-up to the fifth: %.1f times the first's ± of "
                "%.5f ohm\n",
                rise, rise / measured.front().sigma, measured.front().sigma);
}

// At 115200 baud, 8N1, the line carries 11520 bytes a second: 886 frames.
// Paced at that rate the tick count advances one tick per sample frame, so
// the run time runs about 8.8 times faster than the clock.
TEST(DynoSimEndToEnd, AtTheFullLineRateEveryFrameThatPassesTheIntervalRuleIsRecorded)
{
    constexpr double kLineSeconds = 30.0;
    // 101 frames per 100 ticks: one set-up frame a second of run time.
    const int targetTick = static_cast<int>(kLineSeconds * 11520 / TelemetryFrame::kSize * 100 / 101);
    QTemporaryDir dir;
    const QString stream = dir.filePath("stream.bin");
    SimProcess sim({"--pace", "line", "--duration", "400", "--wait-for-reader", "--out", stream}, dir.path());
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{21};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, dir.filePath("Temp.dat")));

    ASSERT_TRUE(pumpUntil([&] { return rx.shownTick() >= targetTick || rx.failed(); }, 120s))
        << "shown run time " << rx.shownTick() / 100.0 << " s";
    ASSERT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();

    const std::vector<Sample> recorded = recordedSamples(dir.filePath("Temp.dat"));
    ASSERT_FALSE(recorded.empty());
    const int lastRecorded = recorded.back().tick;
    EXPECT_GE(lastRecorded, targetTick);

    // Every run sample the line carried with an even, non-zero tick count, up
    // to the last one recorded: after it the port was closed.
    std::vector<Sample> expected;
    std::vector<int> ticks;
    for (const TelemetryFrame& f : framesIn(readAll(stream))) {
        if (f.is(TelemetryFrame::RunSample) && f.tickCount() % 2 == 0 && f.tickCount() != 0
            && f.tickCount() <= lastRecorded) {
            expected.push_back(sampleOf(f));
            ticks.push_back(f.tickCount());
        }
    }
    EXPECT_EQ(firstGap(ticks), std::nullopt) << "the simulator dropped frames: the program did not keep up";
    ASSERT_EQ(recorded.size(), expected.size());
    const auto [got, want] = std::mismatch(recorded.begin(), recorded.end(), expected.begin());
    EXPECT_TRUE(got == recorded.end()) << "record " << (got - recorded.begin()) << " is " << *got << ", sent " << *want;
    std::printf("[ measured ] %zu records of %d s of run time, none lost\n", recorded.size(), lastRecorded / 100);
}

// The physics check: the report's torque and output power against the
// model's truth over the spin-up.
//
// Where the report is comparable. A record's RPM is the true RPM rounded to
// 100, off by at most 50; its rise over the record before is off by at most
// 100. Where the true rise per 20 ms record is near 100 to 200 RPM the
// recorded rises alternate between 100 (torque 0 by the analysis's threshold)
// and 200 (torque doubled), and the report is biased; so the comparison is
// over the records whose true rise is above 300 RPM: the first 0.7 s of the
// default spin-up, a few dozen records.
//
// Tolerances, from that rounding. Smoothed over K = 10 records the rises add
// up and the roundings between cancel: the mean torque is off by at most
// J * (2 pi / 60) * 100 RPM / (K * 0.02 s) = 5.65 mN m, 3.3 % or less of the
// true mean where each true rise is above 300 RPM. The analysis's torque is
// the mean over its 20 ms step, so it is compared with the true torque at the
// step's midpoint (a 10 ms tick of the truth; the midpoint rule's own error
// is below 0.01 %). The output power is that torque times the recorded RPM at
// the step's end; rounding the products r_k * n_k of rise and RPM gives at
// most 50 W + 100 n_K + 5000 K (RPM^2) over a window of true rise W ending
// at RPM n_K, by summation by parts, times J (2 pi / 60)^2 / 0.02 s / K. The
// same pairing makes the report's power read high against the instantaneous
// power at any one time, by exp(0.01 s / tau) - 1 = 1.3 % for the mechanical
// time constant tau: that much more is allowed for the peak output power.
TEST(DynoSimEndToEnd, ReportTorqueAndOutputPowerAgreeWithTheModelOverTheSpinUp)
{
    constexpr int kIdleTicks = 20;
    constexpr int kWindow = 10;
    constexpr double kStep = 0.02; // s between records
    constexpr double kRadPerRpm = 2 * dynosim::kPi / 60;
    QTemporaryDir dir;
    const QString truthFile = dir.filePath("truth.csv");
    SimProcess sim({"--idle", "0.2", "--spin", "3", "--brake", "0", "--repeat", "1", "--wait-for-reader", "--truth",
                    truthFile},
                   dir.path());
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{21};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, dir.filePath("Temp.dat")));
    ASSERT_TRUE(pumpUntil([&] { return rx.shownTick() >= kIdleTicks + 100 || rx.failed(); }, 20s));
    ASSERT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();

    EXPECT_EQ(rx.form.texts().mid(4), QStringList({"30", "240", "1500", "2000", "20"})) << "the set-up frame";
    RunAnalyzer analyzer(rx.files, dir.path());
    ASSERT_NO_THROW(analyzer.analyze(readFlywheelAndEsc(rx.form, QLocale::c())));

    struct Row {
        int tick;
        double rpm, torque, power;
    };
    std::vector<Row> rows;
    for (const QByteArray& line : readAll(dir.filePath("save.csv")).split('\n').mid(1)) {
        const QByteArrayList f = line.trimmed().split(',');
        if (f.size() != 8)
            break;
        rows.push_back(
            {static_cast<int>(std::lround(f[0].toDouble() * 100)), f[3].toDouble(), f[4].toDouble(), f[5].toDouble()});
    }
    const std::vector<TruthRow> truth = readTruth(truthFile);
    ASSERT_GT(rows.size(), 50u);
    std::vector<int> ticks;
    for (const Row& r : rows)
        ticks.push_back(r.tick);
    ASSERT_EQ(firstGap(ticks), std::nullopt) << "records are missing; the report cannot be compared";
    ASSERT_GT(truth.size(), static_cast<std::size_t>(rows.back().tick));
    for (const Row& r : rows)
        ASSERT_EQ(r.rpm, std::round(truth[r.tick].rpm / 100) * 100) << "tick " << r.tick;

    // The records of the spin-up whose true rise is above 300 RPM.
    const auto trueRise = [&](const Row& r) { return truth[r.tick].rpm - truth[r.tick - 2].rpm; };
    const auto first = std::find_if(rows.begin(), rows.end(), [](const Row& r) { return r.tick > kIdleTicks; });
    const auto end = std::find_if(first, rows.end(), [&](const Row& r) { return trueRise(r) <= 300; });
    const auto resolvable = end - first;
    ASSERT_GE(resolvable, 24) << "too few records for a comparison";

    const dynosim::MotorModel model({}, {});
    const double inertia = model.flywheel().inertia();
    const double pairing = std::exp(kStep / 2 / model.mechanicalTimeConstant()) - 1;
    double worstTorque = 0, worstPower = 0, torqueAllowed = 0, powerAllowed = 0;
    double reportPeak = 0, peakBound = 0;
    for (auto w = first; w + kWindow <= end; ++w) {
        double torque = 0, trueTorque = 0, power = 0, pairedPower = 0;
        for (auto r = w; r != w + kWindow; ++r) {
            torque += r->torque / kWindow;
            trueTorque += truth[r->tick - 1].torqueMnm / kWindow;
            power += r->power / kWindow;
            pairedPower += truth[r->tick - 1].torqueMnm / 1000 * truth[r->tick].rpm * kRadPerRpm / kWindow;
        }
        const double rise = truth[(w + kWindow - 1)->tick].rpm - truth[w->tick - 2].rpm;
        const double endRpm = truth[(w + kWindow - 1)->tick].rpm;
        const double torqueBound = 1000 * inertia * kRadPerRpm * 100 / (kWindow * kStep) + 1e-4 * trueTorque;
        const double powerBound = inertia * kRadPerRpm * kRadPerRpm / kStep / kWindow
                                    * (50 * rise + 100 * endRpm + 5000 * kWindow)
                                + 1e-4 * pairedPower;
        const double at = w->tick / 100.0;
        EXPECT_NEAR(torque, trueTorque, torqueBound) << "10 records from " << at << " s";
        EXPECT_NEAR(power, pairedPower, powerBound) << "10 records from " << at << " s";
        EXPECT_LE(torqueBound / trueTorque, 0.05) << "the region is chosen for a few per cent";
        worstTorque = std::max(worstTorque, std::abs(torque / trueTorque - 1));
        worstPower = std::max(worstPower, std::abs(power / pairedPower - 1));
        torqueAllowed = std::max(torqueAllowed, torqueBound / trueTorque);
        powerAllowed = std::max(powerAllowed, powerBound / pairedPower);
        if (power > reportPeak) {
            reportPeak = power;
            peakBound = powerBound;
        }
    }
    double truePeak = 0;
    for (const TruthRow& t : truth)
        truePeak = std::max(truePeak, t.outputPower);
    EXPECT_NEAR(reportPeak, truePeak, peakBound + pairing * truePeak);
    EXPECT_LE(peakBound / truePeak + pairing, 0.06);

    std::printf("[ measured ] %td resolvable records; 10-record means: torque within %.2f %% (allowed up to %.2f %%), "
                "output power within %.2f %% (up to %.2f %%); peak output power %.1f W against %.1f W (%+.2f %%, "
                "allowed %.2f %%)\n",
                resolvable, 100 * worstTorque, 100 * torqueAllowed, 100 * worstPower, 100 * powerAllowed, reportPeak,
                truePeak, 100 * (reportPeak / truePeak - 1), 100 * (peakBound / truePeak + pairing));
}

} // namespace
} // namespace zelvar
