// The motor's map against the simulated dyno's truth, end to end: dyno-sim
// sweeps the supply over 8, 12 and 16 V in one stream of a rig with losses,
// each run a spin-up, a coast-down and the brake (and the same as three runs
// of their own, for the window and the sheet); the program's receive path records them, the
// analysis writes their reports, and the map is made from them as the chart
// window and zelvar-analyze --map make it. Its efficiency is held against the
// model's own at points between and on the supplies, and its best points
// against the model's best on each supply's line.

#include "charts/MotorMapView.h"
#include "charts/RunSheet.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"
#include "sets/MotorMap.h"
#include "tools/dyno-sim/MotorModel.h"

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "PdfText.h"
#include "ReceivePath.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

#include "charts/Plot.h"

namespace zelvar {
namespace {

using namespace std::chrono_literals;
using testing_support::pumpUntil;
using testing_support::ReceivePath;
using testing_support::SimProcess;

constexpr double kIdle = 1.0, kSpin = 6.0, kCoast = 30.0, kBrake = 1.0;
// Losses light enough for every supply's best point to lie within the speeds
// its spin-up reaches, and large enough to matter: about 2 to 28 mN·m.
const QStringList kRig{"--friction", "2", "--windage", "2"};

// The simulated motor's efficiency at a speed and shaft torque, from its
// parameters as dyno-sim's model uses them.
struct Truth {
    dynosim::MotorParameters motor;

    double kt() const { return dynosim::MotorModel(motor, {}).torqueConstant(); }
    double efficiency(double rpm, double torqueMnm) const
    {
        const double omega = rpm / dynosim::kRpmPerRadPerSecond;
        const double current = torqueMnm / 1000 / kt() + motor.noLoadCurrent;
        const double terminal = current * motor.windingResistance + kt() * omega;
        return 100 * torqueMnm / 1000 * omega / (terminal * current);
    }
    double torqueOnLine(double supply, double rpm) const
    {
        const double omega = rpm / dynosim::kRpmPerRadPerSecond;
        const double current = (supply - kt() * omega) / (motor.windingResistance + motor.supplyResistance);
        return 1000 * kt() * (current - motor.noLoadCurrent);
    }
    sets::MotorModel model() const
    {
        return {motor.kv, motor.windingResistance, motor.noLoadCurrent, motor.supplyResistance};
    }
};

// The `runs` runs of one dyno-sim stream recorded into `dir`'s Temp.dat and
// analysed into its save.csv; `supplies` chooses their supplies.
void recordRuns(const QString& dir, const QStringList& supplies, int runs)
{
    const int lastTick = runs * static_cast<int>(std::lround((kIdle + kSpin + kCoast + kBrake) * 100)) - 2;
    QStringList arguments{"--pace", "line", "--wait-for-reader", "--spin", "6", "--coast", "30"};
    SimProcess sim(arguments << supplies << kRig, dir);
    const QString device = sim.device();
    ASSERT_FALSE(device.isEmpty()) << sim.finish().err.toStdString();
    ReceivePath rx{27};
    ASSERT_NO_FATAL_FAILURE(rx.start(device, QDir(dir).filePath("Temp.dat")));
    ASSERT_TRUE(pumpUntil([&] { return rx.shownTick() >= lastTick || rx.failed(); }, 120s))
        << "shown run time " << rx.shownTick() / 100.0 << " s";
    ASSERT_FALSE(rx.failed()) << rx.receiver.lastError().toStdString();
    rx.stop();
    sim.finish();
    ASSERT_NO_THROW(RunAnalyzer(rx.files, dir).analyze(readFlywheelAndEsc(rx.form, QLocale::c())));
}

class MotorMapOfASweep : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dirs_ = new QTemporaryDir;
        // The sweep in one stream, a spin-up at each supply.
        const QString sweep = dirs_->filePath("sweep");
        QDir().mkpath(sweep);
        recordRuns(sweep, {"--supplies", "8,12,16"}, 3);
        if (testing::Test::HasFatalFailure())
            return;
        sweepDir_ = sweep;
        // And as three runs of their own, for the window and the sheet.
        for (double supply : kSupplies) {
            const QString dir = dirs_->filePath(QStringLiteral("%1V").arg(supply));
            QDir().mkpath(dir);
            recordRuns(dir, {"--repeat", "1", "--supply", QString::number(supply)}, 1);
            if (testing::Test::HasFatalFailure())
                return;
            runDirs_ << dir;
        }
    }
    static void TearDownTestSuite()
    {
        delete dirs_;
        dirs_ = nullptr;
    }

    static constexpr double kSupplies[] = {8.0, 12.0, 16.0};
    static inline QTemporaryDir* dirs_ = nullptr;
    static inline QString sweepDir_;
    static inline QStringList runDirs_;
};

TEST_F(MotorMapOfASweep, IsWithinTwoPointsOfTheModelsTruthWithItsBestPointsNearTheTruths)
{
    ASSERT_FALSE(sweepDir_.isEmpty()) << "the sweep was not recorded";
    // One stream, three spin-ups, each a point of the sweep at its supply.
    const std::vector<sets::SweepSpinUp> sweep = sets::sweepOfReport(QDir(sweepDir_).filePath("save.csv"), "sweep");
    ASSERT_EQ(sweep.size(), 3u);
    for (std::size_t k = 0; k < sweep.size(); ++k) {
        ASSERT_TRUE(sweep[k].supply.has_value()) << sweep[k].supplyNote.toStdString();
        EXPECT_NEAR(*sweep[k].supply, kSupplies[k], 0.05) << "the supply the records show";
        EXPECT_TRUE(sweep[k].figures.losses.has_value()) << sweep[k].figures.noCoastReason.toStdString();
    }
    const sets::MotorMap map = sets::motorMap(sweep);
    ASSERT_TRUE(map.drawn()) << map.refused.toStdString();
    ASSERT_EQ(map.supplies.size(), 3u);
    EXPECT_TRUE(map.leftOut.isEmpty()) << map.leftOut.join('\n').toStdString();

    // Points on the supplies' lines and between them, from low speed to
    // near the top: the grid point nearest each, against the truth there.
    const Truth truth;
    const sets::Grid& g = map.grid;
    const auto nearest = [](const std::vector<double>& axis, double v) {
        std::size_t best = 0;
        for (std::size_t k = 1; k < axis.size(); ++k) {
            if (std::abs(axis[k] - v) < std::abs(axis[best] - v))
                best = k;
        }
        return best;
    };
    double worst = 0.0;
    int checked = 0;
    std::printf("[ measured ] model Kv %.1f RPM/V, R %.4f ohm, I0 %.3f A (truth %.0f, %.4f, %.3f)\n", map.model.kv,
                map.model.resistance, map.model.noLoadCurrent, truth.motor.kv, truth.motor.windingResistance,
                truth.motor.noLoadCurrent);
    for (double supply : {9.0, 10.0, 12.0, 14.0, 15.0}) {
        for (double share : {0.3, 0.5, 0.7, 0.85}) {
            const double rpm = share * truth.motor.kv * supply;
            const std::size_t c = nearest(g.x, rpm);
            const std::size_t r = nearest(g.y, truth.torqueOnLine(supply, rpm));
            const double e = g.at(c, r);
            ASSERT_FALSE(std::isnan(e)) << "no value at " << g.x[c] << " RPM, " << g.y[r] << " mN·m (" << supply
                                        << " V)";
            const double expected = truth.efficiency(g.x[c], g.y[r]);
            EXPECT_NEAR(e, expected, 2.0) << "at " << g.x[c] << " RPM, " << g.y[r] << " mN·m (" << supply << " V)";
            worst = std::max(worst, std::abs(e - expected));
            ++checked;
            std::printf("[ measured ] %5.1f V, %6.0f RPM, %6.1f mN·m: map %.2f %%, truth %.2f %% (%+.2f)\n", supply,
                        g.x[c], g.y[r], e, expected, e - expected);
        }
    }
    std::printf("[ measured ] largest efficiency error over %d points: %.2f points\n", checked, worst);
    // Beyond the lowest and highest supply the map has no values.
    for (double supply : {6.0, 18.0}) {
        const double rpm = 0.5 * truth.motor.kv * supply;
        const double torque = truth.torqueOnLine(supply, rpm);
        EXPECT_FALSE(map.covers(rpm, torque)) << supply << " V";
        if (rpm <= g.x.back() && torque <= g.y.back()) {
            EXPECT_TRUE(std::isnan(g.at(nearest(g.x, rpm), nearest(g.y, torque)))) << supply << " V";
        }
    }

    for (const sets::SupplyLevel& level : map.supplies) {
        const sets::BestPoint best = sets::bestOnLine(truth.model(), level.supply, level.lowRpm, level.topRpm);
        std::printf("[ measured ] best at %.2f V: %.2f %% at %.0f RPM, %.1f mN·m (truth %.2f %% at %.0f RPM, "
                    "%.1f mN·m)\n",
                    level.supply, level.best.efficiency, level.best.rpm, level.best.torqueMnm, best.efficiency,
                    best.rpm, best.torqueMnm);
        EXPECT_NEAR(level.best.efficiency, best.efficiency, 1.0) << level.supply << " V";
        EXPECT_NEAR(level.best.rpm, best.rpm, 0.01 * level.topRpm) << level.supply << " V";
        EXPECT_NEAR(level.best.torqueMnm, best.torqueMnm, 0.1 * best.torqueMnm + 1.0) << level.supply << " V";
    }
}

// The flywheel is dyno-sim's: these folders are not the archive's.
const QStringList kFlywheel{"--radius", "30", "--weight", "240"};

TEST_F(MotorMapOfASweep, ZelvarAnalyzeWritesTheMapAndItsCsvOfOneStreamOrOfSeveralRuns)
{
    ASSERT_EQ(runDirs_.size(), 3) << "the runs were not recorded";
    const QString image = dirs_->filePath("map.png"), csv = dirs_->filePath("map.csv");
    QStringList severalRuns;
    for (const QString& dir : runDirs_)
        severalRuns << "--dir" << dir;
    for (const QStringList& dirs : {QStringList{"--dir", sweepDir_}, severalRuns}) {
        QProcess tool;
        tool.start(QStringLiteral(ZELVAR_ANALYZE_PATH),
                   QStringList{"--map", image, "--map-csv", csv} + kFlywheel + dirs);
        ASSERT_TRUE(tool.waitForFinished(120000));
        const QString out = QString::fromUtf8(tool.readAllStandardOutput());
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        EXPECT_TRUE(out.contains("motor's map of 3 spin-ups at 3 supplies")) << out.toStdString();
        EXPECT_EQ(out.count("best efficiency at "), 3) << out.toStdString();
    }
    EXPECT_TRUE(QImage(image).width() > 0);
    const QList<QByteArray> lines = testing_support::readAll(csv).split('\n');
    ASSERT_GT(lines.size(), 1000);
    EXPECT_EQ(lines.front(), "rpm,torque_mNm,efficiency_pct\r");
    int empty = 0, full = 0;
    for (const QByteArray& line : lines.mid(1)) {
        if (line.isEmpty())
            continue;
        (line.trimmed().endsWith(',') ? empty : full) += 1;
    }
    EXPECT_GT(empty, 0) << "beyond the supplies the map is empty";
    EXPECT_GT(full, 0);

    // One supply only: a message, and no image.
    QProcess one;
    const QString lone = dirs_->filePath("lone.png");
    one.start(QStringLiteral(ZELVAR_ANALYZE_PATH), QStringList{"--map", lone, "--dir", runDirs_[1]} + kFlywheel);
    ASSERT_TRUE(one.waitForFinished(120000));
    EXPECT_EQ(one.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(one.readAllStandardError()).contains("two supply voltages"));
    EXPECT_FALSE(QFileInfo::exists(lone));
}

TEST_F(MotorMapOfASweep, TheMapTabDrawsTheTickedRunsAndRefusesOneSupply)
{
    ASSERT_EQ(runDirs_.size(), 3) << "the runs were not recorded";
    QStringList ticked = runDirs_;
    charts::MotorMapView view([&] { return ticked; });
    view.resize(900, 700);
    QPushButton* map = view.findChild<QPushButton*>("MapRunsButton");
    ASSERT_NE(map, nullptr);
    QString status;
    QObject::connect(&view, &charts::MotorMapView::statusChanged, [&](const QString& text) { status = text; });
    map->click();
    ASSERT_TRUE(pumpUntil([&] { return !view.reading(); }, 60s));
    ASSERT_TRUE(view.map().has_value());
    EXPECT_TRUE(view.map()->drawn()) << view.map()->refused.toStdString();
    EXPECT_EQ(status, "The motor's map of 3 spin-ups at 3 supplies");
    EXPECT_EQ(view.bestPoints().count("Best efficiency at "), 3) << view.bestPoints().toStdString();
    // The colour map, and the contours, bounding supplies, measured lines
    // drawn as curves over it.
    QCustomPlot* plot = view.plot();
    int colourMaps = 0, curves = 0;
    for (int k = 0; k < plot->plottableCount(); ++k) {
        colourMaps += qobject_cast<QCPColorMap*>(plot->plottable(k)) != nullptr;
        curves += qobject_cast<QCPCurve*>(plot->plottable(k)) != nullptr;
    }
    EXPECT_EQ(colourMaps, 1);
    EXPECT_GE(static_cast<std::size_t>(curves), view.map()->contours.size() + 2 + 3);
    const QString csv = dirs_->filePath("view.csv");
    EXPECT_TRUE(view.findChild<QPushButton*>("SaveMapCsvButton")->isEnabled());
    ASSERT_TRUE(view.saveCsv(csv)) << status.toStdString();
    EXPECT_EQ(testing_support::readAll(csv), sets::mapCsv(*view.map()));

    ticked = {runDirs_[0]};
    map->click();
    ASSERT_TRUE(pumpUntil([&] { return !view.reading(); }, 60s));
    EXPECT_FALSE(view.map()->drawn());
    EXPECT_TRUE(status.startsWith("No map: a map needs runs at two supply voltages or more")) << status.toStdString();
    EXPECT_TRUE(view.bestPoints().startsWith("No map: ")) << view.bestPoints().toStdString();
    EXPECT_FALSE(view.findChild<QPushButton*>("SaveMapImageButton")->isEnabled());
    EXPECT_FALSE(view.saveImage(dirs_->filePath("none.png")));
}

TEST_F(MotorMapOfASweep, TheComparisonSheetHoldsTheMapAfterTheStatistics)
{
    ASSERT_EQ(runDirs_.size(), 3) << "the runs were not recorded";
    if (const QString missing = testing_support::missingPdfTools(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    std::vector<charts::SheetRun> runs;
    for (const QString& dir : runDirs_) {
        const QString report = QDir(dir).filePath("save.csv");
        curves::ReportCurves drawn = curves::loadReport(report);
        curves::MotorFigures figures = curves::measureMotor(drawn);
        runs.push_back({std::move(drawn), std::move(figures), report, QString()});
    }
    const QString sheet = dirs_->filePath("comparison.pdf");
    ASSERT_EQ(charts::writeRunSheet(sheet, runs), QString());
    EXPECT_TRUE(testing_support::pdfInfo(sheet).contains(QRegularExpression("Pages: +3\n")));
    const QString text = testing_support::pdfText(sheet);
    EXPECT_TRUE(text.contains("The motor's map of these runs is on page 3, after their statistics."))
        << text.toStdString();
    EXPECT_TRUE(text.contains("The motor's map\n")) << text.toStdString();
    // The PDF's text may set "ffi" as one ligature.
    for (const char* supply : {"8.00 V: ", "12.00 V: ", "16.00 V: "})
        EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("Best e(ffi|\uFB03)ciency at ") + supply)))
            << supply;

    // Two runs at one supply: the charts and the statistics, and the first
    // page says why there is no map.
    const std::vector<charts::SheetRun> same{runs[1], runs[1]};
    ASSERT_EQ(charts::writeRunSheet(sheet, same), QString());
    EXPECT_TRUE(testing_support::pdfInfo(sheet).contains(QRegularExpression("Pages: +2\n")));
    EXPECT_TRUE(testing_support::pdfText(sheet).simplified().contains(
        "No motor's map: a map needs runs at two supply voltages or more"));
}

} // namespace
} // namespace zelvar
