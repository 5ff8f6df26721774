// The chart window on the offscreen platform: opened from the main window
// without moving any of its controls, the live trace and its redraw limit
// under a full-rate stream, the report's curves, earlier reports drawn over
// it, and the PNG export of the window and of zelvar-analyze.

#include "ChartReadings.h"
#include "PlotContents.h"
#include "charts/ChartPlots.h"
#include "charts/ChartWindow.h"
#include "curves/Smoothing.h"
#include "platform/MessageBox.h"
#include "platform/SerialControl.h"
#include "session/LiveTrace.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include "CaseNames.h"
#include "Files.h"
#include "Frames.h"
#include "MemorySerialControl.h"
#include "ProgramTest.h"
#include "QtPrinters.h"
#include "RecordingMessageBox.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace zelvar;
using namespace zelvar::testing_support;
using namespace std::chrono_literals;

namespace {

// A motor spinning the flywheel up from standstill at 0.2 s towards 30 000
// RPM with a time constant of 0.78 s, as the dyno sends it tick by tick.
double spinUpRpm(double t)
{
    return t < 0.2 ? 0.0 : 30000 * (1 - std::exp(-(t - 0.2) / 0.78));
}

QByteArray spinUpSample(int tick)
{
    const double t = tick / 100.0;
    const double rpm = spinUpRpm(t);
    const double amps = t < 0.2 ? 0.0 : std::max(0.5, 114.3 * (1 - rpm / 30000));
    return frameBytes(TelemetryFrame::RunSample, tick,
                      {t < 0.2 ? 0 : 1200, static_cast<int>(std::lround(amps * 10)),
                       static_cast<int>(std::lround(rpm / 100))});
}

QByteArray spinUp(int firstTick, int lastTick)
{
    QByteArray bytes;
    for (int tick = firstTick; tick <= lastTick; ++tick)
        bytes += spinUpSample(tick);
    return bytes;
}

// The share of an image's pixels that are not white, and how many pixels
// are near a colour.
struct Ink {
    double share = 0;
    int nearCount = 0;
};

Ink inkOf(const QImage& image, const QRect& area, const QColor& colour)
{
    Ink ink;
    long inked = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() < 245 || c.green() < 245 || c.blue() < 245)
                ++inked;
            if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                    + std::abs(c.blue() - colour.blue())
                < 40)
                ++ink.nearCount;
        }
    }
    ink.share = static_cast<double>(inked) / (static_cast<double>(area.width()) * area.height());
    return ink;
}

// The report's charts are non-blank in both halves, and the smoothed torque
// (dark blue) and output power (dark orange) curves are drawn.
void expectReportChartsDrawn(const QImage& image)
{
    ASSERT_EQ(image.size(), charts::kReportImageSize * charts::kDefaultImageScale) << "sharp on a high-DPI screen";
    const int half = image.height() / 2;
    const Ink upper = inkOf(image, QRect(0, 0, image.width(), half), QColor(20, 60, 160));
    const Ink lower = inkOf(image, QRect(0, half, image.width(), image.height() - half), QColor(0, 120, 40));
    const Ink power = inkOf(image, QRect(0, 0, image.width(), half), QColor(200, 85, 0));
    EXPECT_GT(upper.share, 0.05) << "torque and power chart";
    EXPECT_GT(lower.share, 0.03) << "efficiency chart";
    EXPECT_GT(upper.nearCount, 300) << "the smoothed torque curve";
    EXPECT_GT(power.nearCount, 200) << "the smoothed power curve";
    EXPECT_GT(lower.nearCount, 300) << "the smoothed efficiency curve";
}

class ChartsTest : public ProgramTest {
protected:
    // Loaded, with the chart window's clock in the test's hands.
    std::unique_ptr<ZelvarApplication> makeProgram()
    {
        auto program = ProgramTest::makeProgram(
            [this](ShellOptions& options) { options.chartClock = [this] { return clock_; }; });
        EXPECT_TRUE(program->Form_Load());
        return program;
    }

    // A whole run through the window: Start, the set-up frame and the
    // spin-up, Stop.
    void run(ZelvarApplication& program, int lastTick = 300)
    {
        NorvDynoData& window = program.mainWindow();
        QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
        ASSERT_EQ(window.label2Widget()->text(), "Now Running") << window.label2Widget()->toolTip().toStdString();
        comm_->feed(setupFrame() + spinUp(1, lastTick));
        QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
        ASSERT_EQ(window.label2Widget()->text(), "Now Ready") << window.label2Widget()->toolTip().toStdString();
        waitForStopReport(program);
    }

    // A report of a whole run, copied under another name.
    QString reportCopy(ZelvarApplication& program, const QString& name)
    {
        if (!QFile::exists(appFile("save.csv")))
            run(program);
        const QString path = scratch_.filePath(name);
        QFile::copy(appFile("save.csv"), path);
        return path;
    }

    QTemporaryDir scratch_;
    std::chrono::milliseconds clock_{0};
};

// ---------------------------------------------------------------------------
// On the main window.

TEST_F(ChartsTest, TheCurvesButtonTakesFreeSpaceAndTheLastPlaceInTheFocusOrder)
{
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    QPushButton* button = program->chartButton();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->objectName(), "ChartButton");
    EXPECT_EQ(button->parentWidget(), &window);
    EXPECT_EQ(button->text(), "Curves");
    EXPECT_TRUE(window.rect().contains(button->geometry())) << "inside the fixed client area";
    for (const QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != button) {
            EXPECT_FALSE(child->geometry().intersects(button->geometry())) << child->objectName().toStdString();
        }
    }

    QStringList chain;
    QWidget* const first = window.combo1Widget();
    QWidget* widget = first;
    do {
        // The combo box's own text field delegates its focus to the combo.
        if (widget->focusPolicy() & Qt::TabFocus && !widget->focusProxy())
            chain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first && chain.size() < 100);
    EXPECT_EQ(chain, QStringList({"Combo1", "Combo2", "Text2", "Command1", "Text1_7", "Text1_6", "Text1_5", "Text1_4",
                                  "Text1_3", "Text1_2", "Text1_1", "Text1_0", "Text1_8", "ChartButton"}));
}

TEST_F(ChartsTest, TheWindowsOwnControlsKeepTheirPlacesCaptionsAndSize)
{
    auto program = makeProgram();
    const NorvDynoData plain;
    const NorvDynoData& window = program->mainWindow();
    EXPECT_EQ(window.size(), plain.size());
    EXPECT_EQ(window.windowTitle(), plain.windowTitle());
    for (const QWidget* control : plain.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        SCOPED_TRACE(control->objectName().toStdString());
        const auto* same = window.findChild<QWidget*>(control->objectName(), Qt::FindDirectChildrenOnly);
        ASSERT_NE(same, nullptr);
        EXPECT_EQ(same->geometry(), control->geometry());
        EXPECT_EQ(same->metaObject(), control->metaObject());
        if (!control->inherits("QComboBox")) { // the lists are filled by the load step
            EXPECT_EQ(same->property("text").toString(), control->property("text").toString());
        }
    }
}

TEST_F(ChartsTest, CtrlGAndTheCurvesButtonOpenTheChartWindow)
{
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(program->chartWindow(), nullptr) << "made on first use";

    QTest::keyClick(window.text1Widget(3), Qt::Key_G, Qt::ControlModifier);
    ASSERT_NE(program->chartWindow(), nullptr);
    EXPECT_TRUE(program->chartWindow()->isVisible());
    EXPECT_EQ(program->chartWindow()->objectName(), "ChartWindow");
    EXPECT_EQ(window.text1Widget(3)->text(), "") << "the shortcut types nothing";

    program->chartWindow()->close();
    QTest::mouseClick(program->chartButton(), Qt::LeftButton);
    EXPECT_TRUE(program->chartWindow()->isVisible());
}

TEST_F(ChartsTest, AStopThatWritesAReportOpensItsCurves)
{
    auto program = makeProgram();
    program->mainWindow().show();
    ASSERT_NO_FATAL_FAILURE(run(*program));

    ChartWindow* charts = program->chartWindow();
    ASSERT_NE(charts, nullptr);
    EXPECT_TRUE(charts->isVisible());
    EXPECT_FALSE(charts->showsLive());
    ASSERT_TRUE(charts->report().has_value()) << charts->status().toStdString();
    EXPECT_EQ(charts->report()->name, "save.csv");
    EXPECT_EQ(charts->report()->records, 150u);
    EXPECT_TRUE(charts->status().contains("save.csv")) << charts->status().toStdString();

    // A second run replaces the curves with its own.
    ASSERT_NO_FATAL_FAILURE(run(*program, 200));
    EXPECT_EQ(charts->report()->records, 100u);
}

TEST_F(ChartsTest, TheStopClickReturnsBeforeTheReportIsReadAndTheCurvesFollow)
{
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    comm_->feed(setupFrame() + spinUp(1, 300));
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Now Ready");
    EXPECT_EQ(program->chartWindow(), nullptr) << "no event was handled inside the click";
    waitForStopReport(*program);
    ASSERT_NE(program->chartWindow(), nullptr);
    EXPECT_TRUE(program->chartWindow()->isVisible());
    ASSERT_TRUE(program->chartWindow()->figures().has_value()) << "measured once, by the run session";
}

TEST_F(ChartsTest, AReportOfFlywheelValuesTypedOverTheDynosSaysSo)
{
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    comm_->feed(setupFrame() + spinUp(1, 300));
    const QString sent = window.text1Widget(Box::FlywheelRadius)->text();
    window.text1Widget(Box::FlywheelRadius)->setText("50");
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Now Ready");
    waitForStopReport(*program);
    const QString status = program->chartWindow()->status();
    EXPECT_TRUE(status.contains(QStringLiteral("radius typed: 50 mm; dyno sent %1 mm").arg(sent)))
        << status.toStdString();
    EXPECT_FALSE(status.contains("weight typed")) << status.toStdString();
    const auto* mark = program->chartWindow()->findChild<QLabel*>("TypedMark");
    ASSERT_NE(mark, nullptr);
    EXPECT_TRUE(mark->isVisible()) << "above the motor's figures";
    EXPECT_TRUE(mark->text().contains("radius typed: 50 mm")) << mark->text().toStdString();
    // The archive finishes the run's run.json on its own thread.
    EXPECT_TRUE(
        pumpUntil([&] { return program->chartWindow()->heading().lines.join(' ').contains("radius typed: 50 mm"); },
                  5s))
        << "and in a saved image: " << program->chartWindow()->heading().lines.join(" / ").toStdString();
}

TEST_F(ChartsTest, AStopThatFailsOpensNoCharts)
{
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    comm_->feed(spinUp(1, 40)); // no set-up frame: no flywheel to analyse with
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Error!");
    EXPECT_EQ(program->chartWindow(), nullptr);
}

// ---------------------------------------------------------------------------
// The live trace.

TEST_F(ChartsTest, DuringARunTheChartsShowTheLiveTraceOfEveryRecord)
{
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    program->showCharts();
    ChartWindow* charts = program->chartWindow();
    ASSERT_NE(charts, nullptr);
    EXPECT_TRUE(charts->showsLive());

    comm_->feed(setupFrame() + spinUp(1, 100));
    clock_ += 100ms;
    charts->pollLive();
    const QCPAbstractPlottable* rpm = plottableNamed(charts->liveChart(), "RPM");
    const QCPAbstractPlottable* power = plottableNamed(charts->liveChart(), "Input power (W)");
    ASSERT_TRUE(rpm && power) << plottableNames(charts->liveChart()).join(", ").toStdString();
    ASSERT_EQ(pointsOf(rpm).size(), 50u) << "one point per record, ticks 2 to 100";
    EXPECT_EQ(pointsOf(rpm)[49], QPointF(1.0, std::round(spinUpRpm(1.0) / 100) * 100));
    EXPECT_EQ(pointsOf(power)[0], QPointF(0.02, 0.0));
    EXPECT_TRUE(charts->status().contains("50 samples")) << charts->status().toStdString();

    // Stop shows the run's report; the next Start a new, empty trace.
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Now Ready") << window.label2Widget()->toolTip().toStdString();
    waitForStopReport(*program);
    EXPECT_FALSE(charts->showsLive());
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Now Running");
    EXPECT_TRUE(charts->showsLive());
    EXPECT_TRUE(pointsOf(rpm).empty());
}

TEST_F(ChartsTest, UnderAFullRateStreamTheLiveTraceIsDrawnAtMostTwentyTimesASecond)
{
    // The line's full rate, 886 frames a second at 115200 baud, fed through
    // the serial control for five seconds of a scripted clock. The chart is
    // asked to redraw every millisecond, far more often than its timer
    // would; its limit alone keeps it to 20 a second.
    constexpr int kSeconds = 5;
    constexpr int kFramesPerSecond = 886;
    auto program = makeProgram();
    NorvDynoData& window = program->mainWindow();
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    comm_->feed(setupFrame());
    program->showCharts();
    ChartWindow* charts = program->chartWindow();
    const int redrawsBefore = charts->liveRedraws();

    int fed = 0;
    for (int ms = 1; ms <= kSeconds * 1000; ++ms) {
        clock_ = std::chrono::milliseconds(ms);
        while (fed < ms * kFramesPerSecond / 1000)
            comm_->feed(spinUpSample(++fed));
        charts->pollLive();
        if (ms % 100 == 0)
            QApplication::processEvents(); // the window's own timer may poll too
    }
    const int redraws = charts->liveRedraws() - redrawsBefore;
    EXPECT_LE(redraws, kSeconds * 20 + 1);
    EXPECT_GE(redraws, kSeconds * 20 - 5) << "and it keeps up with the run";

    // Drawing took nothing from the receiver: every frame that passes the
    // interval rule is in the run file and in the trace.
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    const qsizetype records = readAll(appFile("Temp.dat")).count('\n');
    EXPECT_EQ(records, fed / 2);
    EXPECT_EQ(program->liveTrace().appended(), static_cast<std::uint64_t>(records));
    std::printf("[ measured ] %d frames in %d s of scripted time: %d live redraws\n", fed, kSeconds, redraws);
}

// ---------------------------------------------------------------------------
// The report's curves and earlier reports.

TEST_F(ChartsTest, TheReportChartsShowRawPointsAndSmoothedCurvesAndNameTheMethod)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    ChartWindow* charts = program->chartWindow();
    ASSERT_TRUE(charts && charts->report() && charts->report()->smoothed);
    const curves::SmoothedSpinUp& smoothed = *charts->report()->smoothed;

    QCustomPlot* torquePower = charts->torquePowerChart();
    EXPECT_EQ(plottableNames(torquePower),
              QStringList({"Torque, report", "Output power, report", "Torque, smoothed", "Output power, smoothed"}));
    const QString title = titleOf(torquePower);
    EXPECT_TRUE(title.contains(smoothed.method())) << title.toStdString();
    EXPECT_TRUE(title.contains(smoothed.edges())) << title.toStdString();
    EXPECT_TRUE(title.contains("Savitzky-Golay"));

    const QCPAbstractPlottable* raw = plottableNamed(torquePower, "Torque, report");
    const QCPAbstractPlottable* torque = plottableNamed(torquePower, "Torque, smoothed");
    ASSERT_TRUE(raw && torque);
    EXPECT_EQ(qobject_cast<const QCPGraph*>(raw)->lineStyle(), QCPGraph::lsNone) << "raw points are points";
    // Thinned to what the chart can show: never more than the report holds.
    EXPECT_GT(pointsOf(raw).size(), 0u);
    EXPECT_LE(pointsOf(raw).size(), 150u);
    const std::vector<QPointF> drawn = pointsOf(torque);
    ASSERT_EQ(drawn.size(), smoothed.points.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_DOUBLE_EQ(drawn[i].x(), smoothed.points[i].rpm);
        EXPECT_DOUBLE_EQ(drawn[i].y(), smoothed.points[i].torque);
    }
    EXPECT_EQ(plottableNames(charts->efficiencyChart()), QStringList({"Efficiency, report", "Efficiency, smoothed"}));
    EXPECT_EQ(torquePower->xAxis->label(), "Speed (RPM)");
    EXPECT_EQ(torquePower->yAxis->label(), "Torque (mN·m)");
    EXPECT_EQ(torquePower->yAxis2->label(), "Output power (W)");
}

TEST_F(ChartsTest, UpToFiveEarlierReportsAreDrawnEachInItsColourWithItsName)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    ChartWindow* charts = program->chartWindow();
    QSet<QRgb> colours;
    for (int i = 1; i <= charts::kMaxOverlays; ++i) {
        const QString name = QStringLiteral("run-%1.csv").arg(i);
        charts->addOverlay(reportCopy(*program, name));
        ASSERT_TRUE(waitForReadings(*charts));
        EXPECT_TRUE(charts->status().contains(name)) << charts->status().toStdString();
    }
    ASSERT_EQ(charts->overlays().size(), 5u);
    QCustomPlot* torquePower = charts->torquePowerChart();
    QSet<QRgb> own;
    for (QCustomPlot* plot : {torquePower, charts->efficiencyChart()}) {
        for (int k = 0; k < plot->plottableCount(); ++k) {
            if (!plot->plottable(k)->name().startsWith("run-"))
                own.insert(plot->plottable(k)->pen().color().rgb());
        }
    }
    for (int i = 1; i <= charts::kMaxOverlays; ++i) {
        const QString name = QStringLiteral("run-%1.csv").arg(i);
        SCOPED_TRACE(name.toStdString());
        const QCPAbstractPlottable* torque = plottableNamed(torquePower, name);
        ASSERT_NE(torque, nullptr) << plottableNames(torquePower).join(", ").toStdString();
        EXPECT_GT(pointsOf(torque).size(), 100u) << "its smoothed torque";
        colours.insert(torque->pen().color().rgb());
        EXPECT_EQ(legendNames(torquePower).count(name), 1) << "one legend entry for the file";
        ASSERT_NE(plottableNamed(charts->efficiencyChart(), name), nullptr);
    }
    EXPECT_EQ(colours.size(), 5) << "each in its own colour";
    EXPECT_FALSE(colours.intersects(own)) << "none in a colour of the run's own curves";

    charts->addOverlay(reportCopy(*program, "run-6.csv"));
    ASSERT_TRUE(waitForReadings(*charts));
    EXPECT_TRUE(charts->status().contains("at most 5")) << charts->status().toStdString();
    EXPECT_EQ(charts->overlays().size(), 5u);

    charts->clearOverlays();
    EXPECT_TRUE(charts->overlays().empty());
    EXPECT_EQ(plottableNames(charts->torquePowerChart()).size(), 4);
}

struct NotAReport {
    const char* name;
    QByteArray contents; // null: no such file
    const char* reason;
};

void PrintTo(const NotAReport& c, std::ostream* os)
{
    *os << c.name;
}

class ChartsRefuse : public ChartsTest, public testing::WithParamInterface<NotAReport> {};

TEST_P(ChartsRefuse, AFileThatIsNotAReportWithAMessageAndKeepsWhatIsShown)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    ChartWindow* charts = program->chartWindow();
    charts->addOverlay(reportCopy(*program, "good.csv"));
    ASSERT_TRUE(waitForReadings(*charts));
    const QString path = scratch_.filePath(QStringLiteral("%1.csv").arg(GetParam().name));
    if (!GetParam().contents.isNull())
        writeAll(path, GetParam().contents);

    charts->addOverlay(path);
    ASSERT_TRUE(waitForReadings(*charts));
    EXPECT_TRUE(charts->status().startsWith("Not added: ")) << charts->status().toStdString();
    EXPECT_TRUE(charts->status().contains(GetParam().reason)) << charts->status().toStdString();
    EXPECT_EQ(charts->overlays().size(), 1u);

    charts->showReport(path);
    ASSERT_TRUE(waitForReadings(*charts));
    EXPECT_TRUE(charts->status().startsWith("Cannot show the report: ")) << charts->status().toStdString();
    ASSERT_TRUE(charts->report().has_value());
    EXPECT_EQ(charts->report()->name, "save.csv") << "the report on show stays";
}

INSTANTIATE_TEST_SUITE_P(Files, ChartsRefuse,
                         // The reasons themselves are the report reader's, tested with it.
                         testing::Values(NotAReport{"Missing", QByteArray(), "cannot open"},
                                         NotAReport{"Picture", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
                                                    "is not a report"}),
                         testing_support::CaseName());

// ---------------------------------------------------------------------------
// Images.

TEST_F(ChartsTest, SaveImageWritesTheReportChartsAtTheirSizeWithTheirCurves)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    ChartWindow* charts = program->chartWindow();
    const QString path = scratch_.filePath("curves.png");
    ASSERT_TRUE(charts->saveImage(path)) << charts->status().toStdString();
    EXPECT_TRUE(charts->status().contains("curves.png")) << charts->status().toStdString();
    QImage image;
    ASSERT_TRUE(image.load(path, "PNG"));
    expectReportChartsDrawn(image);

    EXPECT_FALSE(charts->saveImage(scratch_.filePath("no/such/folder/curves.png")));
    EXPECT_TRUE(charts->status().startsWith("Cannot write")) << charts->status().toStdString();
}

TEST_F(ChartsTest, SaveImageOnTheLiveTabWritesTheLiveChart)
{
    auto program = makeProgram();
    QTest::mouseClick(program->mainWindow().command1Widget(), Qt::LeftButton);
    comm_->feed(setupFrame() + spinUp(1, 100));
    program->showCharts();
    ChartWindow* charts = program->chartWindow();
    ASSERT_TRUE(charts->showsLive());
    const QString path = scratch_.filePath("live.png");
    ASSERT_TRUE(charts->saveImage(path)) << charts->status().toStdString();
    QImage image;
    ASSERT_TRUE(image.load(path, "PNG"));
    EXPECT_GT(image.width(), 400);
    EXPECT_GT(image.height(), 200);
    EXPECT_GT(inkOf(image, image.rect(), QColor(20, 60, 160)).nearCount, 100) << "the RPM trace";
}

#ifdef ZELVAR_ANALYZE_PATH
TEST_F(ChartsTest, ZelvarAnalyzeDrawsTheSameChartsWithoutADisplay)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    const QByteArray report = readAll(appFile("save.csv"));
    const QString image = scratch_.filePath("analysed.png");

    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(ZELVAR_ANALYZE_PATH), {"--dir", appDir_.path(), "--radius", "30", "--weight", "240",
                                                     "--esc-neutral", "1500", "--esc-full", "2000", "--png", image});
    ASSERT_TRUE(tool.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains("save.csv: 150 records")) << out.toStdString();
    EXPECT_TRUE(out.contains("analysed.png: charts")) << out.toStdString();
    EXPECT_EQ(readAll(appFile("save.csv")), report) << "the same analysis as the Stop button's";

    QImage drawn;
    ASSERT_TRUE(drawn.load(image, "PNG"));
    expectReportChartsDrawn(drawn);
    // The report as a file, not as the run's: the same heading.
    program->chartWindow()->showReport(appFile("save.csv"));
    ASSERT_TRUE(waitForReadings(*program->chartWindow()));
    const QString saved = scratch_.filePath("saved.png");
    ASSERT_TRUE(program->chartWindow()->saveImage(saved));
    EXPECT_EQ(drawn, QImage(saved)) << "the chart window's Save image draws the same";
}

TEST_F(ChartsTest, ZelvarAnalyzeSaysSoWhenTheImageCannotBeWritten)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    QProcess tool;
    tool.start(QStringLiteral(ZELVAR_ANALYZE_PATH), {"--dir", appDir_.path(), "--radius", "30", "--weight", "240",
                                                     "--png", scratch_.filePath("no/such/folder/x.png")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(tool.readAllStandardError());
    EXPECT_TRUE(err.contains("cannot write the image")) << err.toStdString();
    EXPECT_TRUE(err.contains("x.png")) << err.toStdString();
}

TEST_F(ChartsTest, ZelvarAnalyzeDrawsAtTheScaleAskedForAndRefusesAScaleOutOfRange)
{
    auto program = makeProgram();
    ASSERT_NO_FATAL_FAILURE(run(*program));
    const QString image = scratch_.filePath("small.png");
    const auto analyze = [&](const QString& scale) {
        QProcess tool;
        tool.start(QStringLiteral(ZELVAR_ANALYZE_PATH), {"--dir", appDir_.path(), "--radius", "30", "--weight", "240",
                                                         "--png", image, "--png-scale", scale});
        EXPECT_TRUE(tool.waitForFinished(60000));
        return std::pair{tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardError())};
    };
    ASSERT_EQ(analyze("1").first, 0);
    QImage drawn;
    ASSERT_TRUE(drawn.load(image, "PNG"));
    EXPECT_EQ(drawn.size(), charts::kReportImageSize);
    for (const char* bad : {"0.1", "9", "big"}) {
        const auto [code, err] = analyze(QString::fromLatin1(bad));
        EXPECT_EQ(code, 2) << bad;
        EXPECT_TRUE(err.contains("--png-scale")) << err.toStdString();
    }
}
#endif

} // namespace
