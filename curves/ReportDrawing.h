#pragma once

#include "curves/Smoothing.h"

#include <QPointF>
#include <QString>

#include <atomic>
#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::curves {

// A scatter thinned for drawing, and the range of all its points.
struct ThinnedSeries {
    std::vector<QPointF> points;
    double xLo = 0.0, xHi = 0.0, yLo = 0.0, yHi = 0.0;
    bool empty() const { return points.empty(); }
};

class PointThinning;
// What a thinning kept, with the range of every point it was given.
ThinnedSeries seriesOf(const PointThinning& thinning);

// The report's own points against RPM, thinned.
struct ThinnedReport {
    ThinnedSeries torque;
    ThinnedSeries outputPower;
    ThinnedSeries efficiency;
};

// Cells per axis of the thinning: twice the pixels of the largest chart the
// program draws (the PNG's, 1000 pixels wide), so that whatever two points
// share a cell would share a pixel. Past kMaxThinnedPoints cells a scatter is
// a blot on any screen.
inline constexpr int kThinningColumns = 2048;
inline constexpr int kThinningRows = 1024;
inline constexpr std::size_t kMaxThinnedPoints = 10000;

struct DrawingRequest {
    // The spin-up to smooth, an index into the run's spin-ups; the default
    // (defaultSpinUp()) when not set or past the last.
    std::optional<std::size_t> spinUp;
    // An overlay draws only the smoothed curves: the points are not kept.
    bool points = true;
    SmoothingSettings settings;
};

// Reads a report for the charts as it streams by: the spin-ups are found
// and the points thinned on the way, then only the rows from the chosen
// spin-up to the next one are read again, for its fit and the motor's
// figures (report.rows, from data line firstRow). What is kept is what is
// drawn and what the fits need, whatever the run's length.
// Throws RuntimeError as readReport does. `progress`, when given, gets the
// records read so far now and then.
ReportCurves loadReportForDrawing(const QString& path, const DrawingRequest& request = {},
                                  std::atomic<std::size_t>* progress = nullptr);

// How a spin-up is named in lists, legends and the tools' output:
// "spin-up 2 of 3: 12.40 s, 5.10 s to 28900 RPM" (numbered from 1).
QString describeSpinUp(const std::vector<FoundSpinUp>& spinUps, std::size_t index);

} // namespace zelvar::curves
