#pragma once

#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

class QCustomPlot;
class QPainter;

class QFontMetrics;

namespace zelvar::charts {

// The report's charts, one above the other, as the chart window saves them
// and zelvar-analyze --png renders them: the size in layout pixels, drawn
// at a scale of device pixels to each.
inline constexpr QSize kReportImageSize{1000, 1100};
inline constexpr double kDefaultImageScale = 2.0;
// Earlier reports drawn over the current one, each in its own colour.
inline constexpr int kMaxOverlays = 5;
// Points per smoothed line: a few per pixel of the widest chart.
inline constexpr std::size_t kMaxLinePoints = 4000;

// Moves the plot's legend out of its axes into a row of its own below
// them, where it never covers a curve.
void putLegendBelowAxes(QCustomPlot& plot);

// Puts a title row and a notes row above the plot's axes, text elements
// named `titleName` and `notesName` for filling in later.
void addTitleAndNotes(QCustomPlot& plot, const char* titleName, const char* notesName);

// Lines no wider than `width`, broken between words: a text element of a
// plot does not wrap by itself.
QString wrapped(const QStringList& paragraphs, const QFontMetrics& metrics, int width);

// The overlays' palette: none of its colours is one of the run's own.
QColor overlayColour(int index);

// What a chart says about itself: a title, and how its curves were made.
struct ChartText {
    QString title;
    QStringList notes;
};
ChartText torquePowerText(const curves::ReportCurves& report, const curves::MotorFigures* figures);
ChartText efficiencyText(const curves::ReportCurves& report);

// Where a chart's notes go: under its title (an image, a sheet), or into
// its tool tip (the window, where the curves get the room).
enum class Notes { UnderTitle, InToolTip };

// Clears `plot` and draws torque (mN·m, left) and output power (W, right)
// against RPM: the report's points, the smoothed curves of its spin-up, the
// curves corrected for the rig's losses where `figures` has a fit, and the
// smoothed curves of each overlay, named in a legend below the axes.
void drawTorquePower(QCustomPlot& plot, const curves::ReportCurves& report,
                     const std::vector<curves::ReportCurves>& overlays, const curves::MotorFigures* figures,
                     Notes notes);
// Efficiency (%) against RPM likewise, with the efficiency corrected for
// the losses where there is a fit.
void drawEfficiency(QCustomPlot& plot, const curves::ReportCurves& report,
                    const std::vector<curves::ReportCurves>& overlays, const curves::MotorFigures* figures,
                    Notes notes);

// Names the legends and headings give a run: its note where it has one,
// else when it started.
QString runLabel(const QString& note, const QString& started);

// What an image says about its run above the charts: the run's start, note
// and flywheel values.
struct RunHeading {
    QString title;
    QStringList lines;
};

// The heading of the report at `reportPath` named `name`: with the start,
// note and flywheel values of the archived run in `runFolder` where there is
// one (or why its run.json could not be read).
RunHeading runHeading(const QString& name, const QString& reportPath, const QString& runFolder);

// Both charts, one above the other, and the motor's figures under them on
// a white image of `size` layout pixels at `scale` device pixels each.
// Needs a QApplication; no display (the offscreen platform does).
QImage renderReportCharts(const curves::ReportCurves& report, const std::vector<curves::ReportCurves>& overlays,
                          const RunHeading& heading, double scale = kDefaultImageScale, QSize size = kReportImageSize);

// renderReportCharts() written to `path` as PNG; false when it cannot be
// written.
bool saveReportCharts(const QString& path, const curves::ReportCurves& report,
                      const std::vector<curves::ReportCurves>& overlays, const RunHeading& heading,
                      double scale = kDefaultImageScale, QSize size = kReportImageSize);

} // namespace zelvar::charts
