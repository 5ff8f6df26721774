#pragma once

#include "curves/PointThinning.h"
#include "curves/Smoothing.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::curves {

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
