// Runs as a set against the simulated dyno: dyno-sim streams five runs of an
// unchanged rig in a row on a pseudo-terminal, the program's receive path
// records them, and each run is cut out of the stream into a run folder of
// its own, with its report and run.json, as five Start-Stop runs leave them.
// zelvar-analyze --compare then judges the set: the figures repeat, a
// winding that warms is found drifting, and a nameplate 5 % off the motor is
// shown 5 % off.

#include "archive/RunJson.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "QtPrinters.h"
#include "ReceivePath.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace zelvar {
namespace {

using namespace std::chrono_literals;
using testing_support::pumpUntil;
using testing_support::ReceivePath;
using testing_support::SimProcess;

constexpr int kRuns = 5;
// An idle of an odd number of ticks puts each run's records at another
// phase of the 20 ms interval: the runs repeat the rig, not the samples.
constexpr double kIdle = 1.01, kSpin = 6.0, kBrake = 1.0;
constexpr double kCycle = kIdle + kSpin + kBrake;
constexpr double kTrueKv = 2500; // dyno-sim's default motor
constexpr double kTrueResistance = 0.1;

struct ProgramOutcome {
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramOutcome runAnalyze(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral(ZELVAR_ANALYZE_PATH), arguments);
    ProgramOutcome o;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return o;
    }
    o.exitCode = p.exitCode();
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

// Five runs recorded from one stream of dyno-sim with `options`, each cut
// into `root`/run<k> with its Temp.dat, its save.csv and a run.json started
// a minute after the one before. Returns the folders, in the order they ran.
QStringList recordRuns(const QTemporaryDir& root, const QStringList& options)
{
    const QString truth = root.filePath("truth.csv");
    SimProcess sim(QStringList{"--pace", "line", "--wait-for-reader", "--repeat", QString::number(kRuns), "--idle",
                               QString::number(kIdle), "--spin", QString::number(kSpin), "--brake",
                               QString::number(kBrake), "--truth", truth}
                       << options,
                   root.path());
    const QString device = sim.device();
    EXPECT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    if (device.isEmpty())
        return {};
    const int lastTick = static_cast<int>(std::lround(kRuns * kCycle * 100)) - 2;
    ReceivePath rx{29};
    rx.start(device, root.filePath("Temp.dat"));
    if (testing::Test::HasFatalFailure())
        return {};
    EXPECT_TRUE(pumpUntil([&] { return rx.shownTick() >= lastTick || rx.failed(); }, 120s))
        << "shown run time " << rx.shownTick() / 100.0 << " s";
    EXPECT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();
    const FlywheelAndEsc values = readFlywheelAndEsc(rx.form, QLocale::c());

    // Each run from the standstill before its spin-up to the one after
    // its brake: the records whose run time falls in its cycle.
    std::vector<QByteArray> pieces(kRuns);
    for (const QByteArray& line : testing_support::readAll(root.filePath("Temp.dat")).split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const double runTime = line.left(line.indexOf(',')).toDouble();
        const int run = std::clamp(static_cast<int>(runTime / kCycle), 0, kRuns - 1);
        pieces[static_cast<std::size_t>(run)] += line + '\n';
    }
    QStringList folders;
    const QDateTime first(QDate(2026, 12, 8), QTime(9, 0));
    for (int k = 0; k < kRuns; ++k) {
        const QString folder = root.filePath(QStringLiteral("run%1").arg(k + 1));
        EXPECT_TRUE(QDir().mkpath(folder));
        testing_support::writeAll(QDir(folder).filePath("Temp.dat"), pieces[static_cast<std::size_t>(k)]);
        SequentialFiles files;
        EXPECT_NO_THROW(RunAnalyzer(files, folder).analyze(values)) << folder.toStdString();
        archive::RunStart start{first.addSecs(60 * k), 3, device, "115200,N,8,1", "20", "1"};
        start.motor = {QStringLiteral("sim 2500"), std::nullopt, QStringLiteral("12 V bench supply")};
        archive::RunJson json = archive::RunJson::started(start, "zelvar-data");
        json.setState(archive::Ending::Stopped);
        json.setEndedAt(start.started.addSecs(10));
        json.setValues(
            {values.radiusMm.toDouble(), values.weightG.toDouble(), values.escNeutral, values.escFull, {}, {}});
        archive::writeRunJson(folder, json);
        folders << folder;
    }
    return folders;
}

QStringList dirs(const QStringList& folders)
{
    QStringList arguments;
    for (const QString& folder : folders)
        arguments << "--dir" << folder;
    return arguments;
}

// zelvar-analyze --compare of `folders`, its JSON read back.
QJsonObject compared(const QTemporaryDir& root, const QStringList& folders, QString* table = nullptr)
{
    const QString json = root.filePath("compare.json");
    const ProgramOutcome o = runAnalyze(QStringList{"--compare", "--compare-json", json} << dirs(folders));
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    if (table)
        *table = o.out;
    return QJsonDocument::fromJson(testing_support::readAll(json)).object();
}

double relativeSd(const QJsonObject& figure)
{
    return figure.value("sd").toDouble() / figure.value("mean").toDouble();
}

TEST(RunSetAgainstTheSimulatedDyno, FiveRunsOfAnUnchangedRigRepeatKvWithoutADrift)
{
    QTemporaryDir root;
    const QStringList folders = recordRuns(root, {});
    ASSERT_EQ(folders.size(), kRuns);
    QString table;
    const QJsonObject o = compared(root, folders, &table);
    const QJsonObject figures = o.value("figures").toObject();
    for (const QJsonValue run : o.value("runs").toArray())
        EXPECT_TRUE(run.toObject().value("included").toBool())
            << run.toObject().value("folder").toString().toStdString();
    const QJsonObject kv = figures.value("kv_rpm_per_v").toObject();
    EXPECT_EQ(kv.value("n").toInt(), kRuns);
    EXPECT_LT(relativeSd(kv), 0.001) << table.toStdString();
    EXPECT_NEAR(kv.value("mean").toDouble(), kTrueKv, 0.005 * kTrueKv);
    for (const QString& key : figures.keys()) {
        EXPECT_TRUE(figures.value(key).toObject().value("drift").isNull())
            << key.toStdString() << " drifts on an unchanged rig:\n"
            << table.toStdString();
    }
    const QJsonObject r = figures.value("resistance_ohm").toObject();
    const QJsonObject power = figures.value("peak_power_w").toObject();
    const QJsonObject torque = figures.value("peak_torque_mNm").toObject();
    std::printf("[ measured ] five runs: Kv %.2f ± %.3f RPM/V over the runs (sd %.4f %%, truth %.0f, %+.3f %%), R "
                "%.5f ± %.5f ohm (truth %.3f, %+.2f %%), peak torque %.2f ± %.3f mN·m, peak power %.3f ± %.4f W\n%s",
                kv.value("mean").toDouble(), kv.value("sd").toDouble(), 100 * relativeSd(kv), kTrueKv,
                100 * (kv.value("mean").toDouble() / kTrueKv - 1), r.value("mean").toDouble(), r.value("sd").toDouble(),
                kTrueResistance, 100 * (r.value("mean").toDouble() / kTrueResistance - 1),
                torque.value("mean").toDouble(), torque.value("sd").toDouble(), power.value("mean").toDouble(),
                power.value("sd").toDouble(), qPrintable(table));
}

TEST(RunSetAgainstTheSimulatedDyno, ANameplateKvFivePerCentOffIsShownFivePerCentOff)
{
    QTemporaryDir root;
    const QStringList folders = recordRuns(root, {});
    ASSERT_EQ(folders.size(), kRuns);
    // The nameplate 5 % above the motor's true Kv, written as an operator
    // labels a run afterwards.
    const ProgramOutcome label = runAnalyze(
        {"--dir", folders[0], "--nameplate-kv", QString::number(1.05 * kTrueKv), "--motor", "sim 2500"});
    ASSERT_EQ(label.exitCode, 0) << label.err.toStdString();
    EXPECT_TRUE(label.out.contains("nameplate Kv 2625 RPM/V")) << label.out.toStdString();
    EXPECT_EQ(archive::readRunJson(folders[0]).motor().nameplateKv, 1.05 * kTrueKv);
    EXPECT_EQ(archive::readRunJson(folders[0]).motor().supplyText, "12 V bench supply") << "what was not given stays";

    const QString csv = root.filePath("compare.csv");
    const ProgramOutcome o = runAnalyze(QStringList{"--compare", "--compare-csv", csv} << dirs(folders));
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    const QList<QByteArray> lines = testing_support::readAll(csv).split('\n');
    const QList<QByteArray> header = lines[0].split(',');
    const QList<QByteArray> first = lines[1].split(',');
    ASSERT_EQ(first.size(), header.size()) << lines[1].toStdString();
    const double shown = first[header.indexOf("nameplate_kv_deviation_pct")].toDouble();
    EXPECT_NEAR(shown, 5.0, 0.05) << "measured Kv " << first[header.indexOf("kv_rpm_per_v")].toStdString();
    EXPECT_TRUE(lines[2].split(',')[header.indexOf("nameplate_kv_deviation_pct")].isEmpty())
        << "a run without a nameplate has no deviation";
    const QRegularExpression said(QStringLiteral("1 run1: .*nameplate 2625\\.0 \\(\\+(4\\.9\\d|5\\.0\\d) % off\\)"));
    EXPECT_TRUE(said.match(o.out).hasMatch()) << o.out.toStdString();
    std::printf("[ measured ] nameplate %.1f RPM/V against Kv %s measured: shown %+.2f %%\n", 1.05 * kTrueKv,
                first[header.indexOf("kv_rpm_per_v")].constData(), shown);
}

// dyno-sim's --heating: the winding warms with what it dissipates and cools
// between runs, as copper does, so R rises from run to run.
TEST(RunSetAgainstTheSimulatedDyno, AWarmingWindingIsFlaggedAsRDriftingUp)
{
    QTemporaryDir root;
    const QStringList folders = recordRuns(root, {"--heating"});
    ASSERT_EQ(folders.size(), kRuns);
    QString table;
    const QJsonObject o = compared(root, folders, &table);
    const QJsonObject r = o.value("figures").toObject().value("resistance_ohm").toObject();
    EXPECT_EQ(r.value("drift").toString(), "up") << table.toStdString();
    EXPECT_TRUE(table.contains("resistance_ohm up")) << table.toStdString();
    std::printf("[ measured ] five runs with --heating: R from %.5f to %.5f ohm, mean %.5f ± %.5f\n%s",
                r.value("min").toDouble(), r.value("max").toDouble(), r.value("mean").toDouble(),
                r.value("sd").toDouble(), qPrintable(table));
}

} // namespace
} // namespace zelvar
