#pragma once

#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "session/LiveTrace.h"

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

class QChart;

namespace zelvar::charts {

// The report's charts, one above the other, as the chart window saves them
// and zelvar-analyze --png renders them.
inline constexpr QSize kReportImageSize{1000, 1100};
// Earlier reports drawn over the current one, each in its own colour.
inline constexpr int kMaxOverlays = 5;
// Points per smoothed line: a few per pixel of the widest chart.
inline constexpr std::size_t kMaxLinePoints = 4000;

QColor overlayColour(int index);

// Torque (mN·m) and output power (W) against RPM: the report's points, the
// smoothed curves of its spin-up, and the smoothed curves of each overlay
// with its file name in the legend. The method of smoothing and what was
// done at the ends of the spin-up are named under the title; `figures`, the
// motor's figures measured on the report, add the curves corrected for the
// rig's losses. The caller owns the chart.
QChart* makeTorquePowerChart(const curves::ReportCurves& report, const std::vector<curves::ReportCurves>& overlays,
                             const curves::MotorFigures* figures);

// Efficiency (%) against RPM, likewise.
QChart* makeEfficiencyChart(const curves::ReportCurves& report, const std::vector<curves::ReportCurves>& overlays);

// Both charts, one above the other, on a white image of `size`. Needs a
// QApplication; no display (the offscreen platform does).
QImage renderReportCharts(const curves::ReportCurves& report, const std::vector<curves::ReportCurves>& overlays,
                          QSize size = kReportImageSize);

// renderReportCharts() written to `path` as PNG; false when it cannot be
// written.
bool saveReportCharts(const QString& path, const curves::ReportCurves& report,
                      const std::vector<curves::ReportCurves>& overlays, QSize size = kReportImageSize);

} // namespace zelvar::charts
