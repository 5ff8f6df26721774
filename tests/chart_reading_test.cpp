// Reading the curves with the mouse, on the offscreen platform: zoom, pan, a
// box zoom and back to the whole run, the read-out at a known speed, the
// live axis of a run started late in the stream, and the window's layout at
// the sizes of a small laptop and a common screen.

#include "ChartReadings.h"
#include "PlotContents.h"
#include "charts/ChartWindow.h"
#include "charts/Readout.h"
#include "charts/UnitChoice.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "session/LiveTrace.h"

#include "Files.h"
#include "ScratchSettings.h"
#include "SyntheticRuns.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

struct Range {
    double lo = 0;
    double hi = 0;
    double width() const { return hi - lo; }
};

Range rangeOf(const QCPAxis* axis)
{
    return {axis->range().lower, axis->range().upper};
}

void wheel(QCustomPlot* plot, QPoint at, int steps)
{
    QWheelEvent event(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &event);
}

class ChartReading : public testing::Test {
protected:
    void SetUp() override
    {
        writeAll(dir_.filePath("Temp.dat"), runOfSpinUps({5.0}));
        SequentialFiles files;
        RunAnalyzer(files, dir_.path()).analyze({Decimal(30), Decimal(240), QString(), QString()});
        window_ = std::make_unique<ChartWindow>(trace_, ChartWindowOptions{dir_.path(), {}});
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        window_->showReport(dir_.filePath("save.csv"));
        ASSERT_TRUE(waitForReadings(*window_));
        ASSERT_TRUE(window_->report() && window_->report()->smoothed) << window_->status().toStdString();
        QApplication::processEvents();
        plot_ = window_->torquePowerChart();
        whole_ = rangeOf(plot_->xAxis);
    }

    QPoint centre() const { return plot_->axisRect()->rect().center(); }

    QTemporaryDir dir_;
    session::LiveTrace trace_;
    std::unique_ptr<ChartWindow> window_;
    QCustomPlot* plot_ = nullptr;
    Range whole_;
};

TEST_F(ChartReading, TheWheelZoomsBothAxesOverThePlotAndOneOverItsAxis)
{
    const Range torque = rangeOf(plot_->yAxis);
    wheel(plot_, centre(), 2);
    EXPECT_LT(rangeOf(plot_->xAxis).width(), 0.9 * whole_.width()) << "in on speed";
    EXPECT_LT(rangeOf(plot_->yAxis).width(), 0.9 * torque.width()) << "and on torque";

    window_->showWholeRun();
    // Over the torque axis's labels, left of the plot's rectangle.
    const QPoint overAxis(plot_->axisRect()->left() - 12, centre().y());
    wheel(plot_, overAxis, 2);
    EXPECT_DOUBLE_EQ(rangeOf(plot_->xAxis).width(), whole_.width()) << "speed untouched";
    EXPECT_LT(rangeOf(plot_->yAxis).width(), 0.9 * torque.width());
}

TEST_F(ChartReading, ADragPansABoxZoomsAndADoubleClickOrTheButtonShowsTheWholeRunAgain)
{
    const QPoint from = centre();
    const QPoint to = from + QPoint(80, 0);
    QTest::mousePress(plot_, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(plot_, to);
    QTest::mouseRelease(plot_, Qt::LeftButton, Qt::NoModifier, to);
    const Range panned = rangeOf(plot_->xAxis);
    EXPECT_NEAR(panned.width(), whole_.width(), 1e-6 * whole_.width()) << "a pan keeps the scale";
    EXPECT_LT(panned.lo, whole_.lo) << "dragged right, the speeds move left";

    window_->findChild<QPushButton*>("WholeRunButton")->click();
    EXPECT_DOUBLE_EQ(rangeOf(plot_->xAxis).lo, whole_.lo);

    // Shift and a drag: the box between the two points becomes the view.
    const QPoint boxFrom = centre() - QPoint(100, 40);
    const QPoint boxTo = centre() + QPoint(60, 40);
    const double lo = plot_->xAxis->pixelToCoord(boxFrom.x());
    const double hi = plot_->xAxis->pixelToCoord(boxTo.x());
    QTest::mousePress(plot_, Qt::LeftButton, Qt::ShiftModifier, boxFrom);
    QTest::mouseMove(plot_, boxTo);
    QTest::mouseRelease(plot_, Qt::LeftButton, Qt::ShiftModifier, boxTo);
    EXPECT_NEAR(rangeOf(plot_->xAxis).lo, lo, 0.01 * whole_.width());
    EXPECT_NEAR(rangeOf(plot_->xAxis).hi, hi, 0.01 * whole_.width());

    QTest::mouseDClick(plot_, Qt::LeftButton, Qt::NoModifier, centre());
    EXPECT_DOUBLE_EQ(rangeOf(plot_->xAxis).lo, whole_.lo);
    EXPECT_DOUBLE_EQ(rangeOf(plot_->xAxis).hi, whole_.hi);
}

TEST_F(ChartReading, TheReadOutFollowsTheMouseWithTheSmoothedPointNearestInSpeed)
{
    const curves::SmoothedSpinUp& smoothed = *window_->report()->smoothed;
    const curves::SmoothedPoint& known = smoothed.points[smoothed.points.size() / 2];
    const QPoint at(qRound(plot_->xAxis->coordToPixel(known.rpm)), centre().y());
    QTest::mouseMove(plot_, at);
    const auto expected = charts::nearestInRpm(*window_->report(), plot_->xAxis->pixelToCoord(at.x()));
    ASSERT_TRUE(expected);
    // Within a pixel of the point asked for.
    EXPECT_NEAR(expected->rpm, known.rpm, whole_.width() / plot_->axisRect()->width() * 2);
    const QString text = window_->readout();
    EXPECT_TRUE(text.contains(QLocale::c().toString(expected->rpm, 'f', 0) + " RPM")) << text.toStdString();
    EXPECT_TRUE(text.contains(QLocale::c().toString(expected->torque, 'f', 1) + " mN·m")) << text.toStdString();
    EXPECT_TRUE(text.contains(QLocale::c().toString(expected->outputPower, 'f', 2) + " W")) << text.toStdString();

    // An overlay gets a line of its own, under the run's.
    writeAll(dir_.filePath("other.csv"), readAll(dir_.filePath("save.csv")));
    window_->addOverlay(dir_.filePath("other.csv"));
    ASSERT_TRUE(waitForReadings(*window_));
    QTest::mouseMove(plot_, at + QPoint(1, 0));
    QTest::mouseMove(plot_, at);
    const QStringList lines = window_->readout().split('\n');
    ASSERT_EQ(lines.size(), 2) << window_->readout().toStdString();
    EXPECT_TRUE(lines[1].startsWith("other.csv: ")) << lines[1].toStdString();
}

// The units picked in the window's Units menu: the read-out, the axes and
// the motor's figures show them, and a window opened later still does.
TEST(ChartUnits, TheChosenUnitsShowInTheReadOutTheAxesAndTheFiguresAndAreKept)
{
    const ScratchSettings settings;
    // The program's units again for the tests after this one, however it ends.
    struct Restore {
        ~Restore() { charts::setShownUnits({}); }
    } restore;
    QTemporaryDir dir;
    writeAll(dir.filePath("Temp.dat"), runOfSpinUps({5.0}));
    SequentialFiles files;
    RunAnalyzer(files, dir.path()).analyze({Decimal(30), Decimal(240), QString(), QString()});
    session::LiveTrace trace;
    const auto open = [&] {
        auto window = std::make_unique<ChartWindow>(trace, ChartWindowOptions{dir.path(), {}});
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->showReport(dir.filePath("save.csv"));
        EXPECT_TRUE(waitForReadings(*window));
        QApplication::processEvents();
        return window;
    };
    // The table's row of a figure: its value and unit.
    const auto figureCells = [](const ChartWindow& window, const QString& name) {
        const auto* table = window.findChild<QTableWidget*>("MotorSummary");
        for (int r = 0; table && r < table->rowCount(); ++r)
            if (table->item(r, 0)->text() == name)
                return std::make_pair(table->item(r, 1)->text(), table->item(r, 3)->text());
        return std::make_pair(QString(), QString());
    };
    constexpr double kMnmPerOzIn = 7.061551814, kWPerHp = 745.699872, kRadPerSPerRpm = 3.14159265358979 / 30;

    std::unique_ptr<ChartWindow> window = open();
    ASSERT_TRUE(window->figures() && window->figures()->peakTorque.known());
    auto* menu = window->findChild<QMenu*>("UnitsMenu");
    ASSERT_NE(menu, nullptr);
    for (const char* unit : {"Unit_oz-in", "Unit_hp", "Unit_rad/s"}) {
        auto* action = menu->findChild<QAction*>(unit);
        ASSERT_NE(action, nullptr) << unit;
        action->trigger();
    }

    QCustomPlot* plot = window->torquePowerChart();
    EXPECT_EQ(plot->xAxis->label(), "Speed (rad/s)");
    EXPECT_EQ(plot->yAxis->label(), "Torque (oz·in)");
    EXPECT_EQ(plot->yAxis2->label(), "Output power (hp)");
    const curves::SmoothedSpinUp& smoothed = *window->report()->smoothed;
    const double topRpm = std::max_element(smoothed.points.begin(), smoothed.points.end(), [](auto& a, auto& b) {
                              return a.rpm < b.rpm;
                          })->rpm;
    EXPECT_LT(plot->xAxis->range().upper, 1.2 * topRpm * kRadPerSPerRpm) << "the speed axis in rad/s";
    EXPECT_GT(plot->xAxis->range().upper, topRpm * kRadPerSPerRpm);

    const curves::SmoothedPoint& known = smoothed.points[smoothed.points.size() / 2];
    QTest::mouseMove(plot, QPoint(qRound(plot->xAxis->coordToPixel(known.rpm * kRadPerSPerRpm)),
                                  plot->axisRect()->rect().center().y()));
    // "run: 1570.8 rad/s, 48.32 oz·in, 0.03893 hp, ..."
    static const QRegularExpression line(R"(: ([0-9.]+) rad/s, ([0-9.]+) oz·in, ([0-9.]+) hp, )");
    const QRegularExpressionMatch read = line.match(window->readout());
    ASSERT_TRUE(read.hasMatch()) << window->readout().toStdString();
    const auto point = charts::nearestInRpm(*window->report(), read.captured(1).toDouble() / kRadPerSPerRpm);
    ASSERT_TRUE(point);
    EXPECT_NEAR(read.captured(1).toDouble(), point->rpm * kRadPerSPerRpm, 0.05);
    EXPECT_NEAR(read.captured(2).toDouble(), point->torque / kMnmPerOzIn, 0.005);
    EXPECT_NEAR(read.captured(3).toDouble(), point->outputPower / kWPerHp, 0.000005);

    const auto peak = figureCells(*window, "Peak torque");
    EXPECT_EQ(peak.second, "oz·in");
    EXPECT_NEAR(peak.first.toDouble(), window->figures()->peakTorque.value / kMnmPerOzIn,
                0.01 + window->figures()->peakTorque.sigma / kMnmPerOzIn);
    EXPECT_EQ(figureCells(*window, "Kt").second, "oz·in/A");
    EXPECT_EQ(figureCells(*window, "Peak output power").second, "hp");
    EXPECT_EQ(figureCells(*window, "Kv").second, "RPM/V") << "Kv stays in the nameplate's unit";

    // Kept in the settings file: the next window, in a program started
    // afresh, shows them too.
    window.reset();
    charts::setShownUnits({});
    window = open();
    EXPECT_EQ(figureCells(*window, "Peak torque").second, "oz·in");
    EXPECT_EQ(window->torquePowerChart()->xAxis->label(), "Speed (rad/s)");
    EXPECT_TRUE(window->findChild<QAction*>("Unit_hp")->isChecked());
}

TEST_F(ChartReading, TheReportOnShowIsNotDrawnOverItselfNorAnOverlayTwice)
{
    window_->addOverlay(dir_.filePath("save.csv"));
    ASSERT_TRUE(waitForReadings(*window_));
    EXPECT_TRUE(window_->overlays().empty());
    EXPECT_TRUE(window_->status().contains("is the report on show")) << window_->status().toStdString();

    writeAll(dir_.filePath("other.csv"), readAll(dir_.filePath("save.csv")));
    for (int twice = 0; twice < 2; ++twice) {
        window_->addOverlay(dir_.filePath("other.csv"));
        ASSERT_TRUE(waitForReadings(*window_));
    }
    EXPECT_EQ(window_->overlays().size(), 1u);
    EXPECT_TRUE(window_->status().contains("is drawn already")) << window_->status().toStdString();
}

TEST_F(ChartReading, PlotsAreDrawnAtTheScreensPixelRatio)
{
    // Run once as is and once with QT_SCALE_FACTOR=2 (see CMakeLists.txt).
    const qreal ratio = plot_->devicePixelRatioF();
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        EXPECT_DOUBLE_EQ(ratio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
    }
    EXPECT_DOUBLE_EQ(plot_->bufferDevicePixelRatio(), ratio) << "the plot draws at the screen's pixels";
    const QPixmap grabbed = plot_->grab();
    EXPECT_EQ(grabbed.width(), qRound(plot_->width() * ratio));
}

// ---------------------------------------------------------------------------
// The live trace.

TEST(LiveTrace, ARunStartedLateInTheStreamFillsTheAxisFromItsFirstRecordOnOneGrid)
{
    session::LiveTrace trace;
    for (int k = 0; k <= 2000; ++k)
        trace.append(session::TracePoint{163.0 + k * 0.01, 12.0 * k, 0.05 * k});
    ChartWindow window(trace, ChartWindowOptions{QDir::tempPath(), {}});
    window.show();
    window.showLive();
    QCustomPlot* live = window.liveChart();
    const Range time = rangeOf(live->xAxis);
    EXPECT_GE(time.lo, 150.0) << "not from the controller's 0";
    EXPECT_LE(time.lo, 163.0);
    EXPECT_GE(time.hi, 183.0);
    EXPECT_LT(time.width(), 40.0);

    // Both value axes in the same number of steps: the power ticks sit on
    // the speed axis's grid lines, the only ones drawn.
    const auto steps = [](QCPAxis* axis) {
        const auto ticker = axis->ticker().dynamicCast<QCPAxisTickerFixed>();
        return ticker ? qRound(axis->range().size() / ticker->tickStep()) : -1;
    };
    EXPECT_EQ(steps(live->yAxis), steps(live->yAxis2));
    EXPECT_GT(steps(live->yAxis), 1);
    EXPECT_FALSE(live->yAxis2->grid()->visible());

    // Paused, the trace holds while the run goes on; resumed, it follows.
    window.pauseLive(true);
    trace.append(session::TracePoint{190.0, 30000.0, 120.0});
    window.pollLive();
    EXPECT_LT(rangeOf(live->xAxis).hi, 190.0);
    window.pauseLive(false);
    EXPECT_GE(rangeOf(live->xAxis).hi, 190.0);
}

// ---------------------------------------------------------------------------
// Layout.

struct WindowSize {
    const char* name;
    QSize size;
};

void PrintTo(const WindowSize& c, std::ostream* os)
{
    *os << c.name;
}

class ChartLayout : public ChartReading, public testing::WithParamInterface<WindowSize> {};

TEST_P(ChartLayout, ThePlotsGetTheRoomAndNothingIsClippedOrOverlaps)
{
    // As it opens, it fits a 1366 x 768 screen with a task bar.
    EXPECT_LE(window_->height(), 768 - 80);
    EXPECT_LE(window_->width(), 1366);
    window_->resize(GetParam().size);
    QApplication::processEvents();
    plot_->replot();
    window_->efficiencyChart()->replot();
    EXPECT_LE(window_->height(), GetParam().size.height()) << "the window fits the screen";

    for (QCustomPlot* plot : {window_->torquePowerChart(), window_->efficiencyChart()}) {
        SCOPED_TRACE(plot->objectName().toStdString());
        const QRect axes = plot->axisRect()->rect();
        EXPECT_GE(axes.height(), 150) << "room for the curves";
        EXPECT_GE(axes.width(), 350);
        // The legend sits below the axes, inside the plot.
        EXPECT_FALSE(plot->legend->outerRect().intersects(axes));
        EXPECT_TRUE(plot->rect().contains(plot->legend->outerRect())) << "the legend is not cut";
        EXPECT_TRUE(plot->rect().contains(plot->axisRect()->outerRect()));
    }
    // The report's widgets side by side or one above the other, none on
    // another, all inside the window.
    const QWidget* page = plot_->parentWidget();
    QList<QWidget*> shown;
    for (QWidget* child : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisible())
            shown << child;
    }
    for (int a = 0; a < shown.size(); ++a) {
        EXPECT_TRUE(page->rect().contains(shown[a]->geometry())) << shown[a]->objectName().toStdString();
        for (int b = a + 1; b < shown.size(); ++b)
            EXPECT_FALSE(shown[a]->geometry().intersects(shown[b]->geometry()))
                << shown[a]->objectName().toStdString() << " and " << shown[b]->objectName().toStdString();
    }
    // The figures are a table whose rows all show.
    const auto* table = window_->findChild<QTableWidget*>("MotorSummary");
    ASSERT_NE(table, nullptr);
    ASSERT_GT(table->rowCount(), 0);
    EXPECT_LE(table->rowViewportPosition(table->rowCount() - 1) + table->rowHeight(table->rowCount() - 1),
              table->viewport()->height());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ChartLayout,
                         testing::Values(WindowSize{"Laptop900x720", QSize(900, 720)},
                                         WindowSize{"Screen1366x768", QSize(1366, 768)}),
                         [](const testing::TestParamInfo<WindowSize>& size) { return std::string(size.param.name); });

} // namespace
