#pragma once

#include "curves/PointThinning.h"
#include "curves/Smoothing.h"
#include "curves/SpinUps.h"
#include "records/ReportReader.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace zelvar::curves {

// A report with its smoothed spin-up, ready to draw and to measure.
struct ReportCurves {
    QString name; // the file's name, for legends
    // The trailer, and the rows of the spin-up smoothed with what follows it
    // as far as the motor's figures look (report.rows[0] is the report's
    // data line firstRow, from 0); no rows when the run has no spin-up.
    Report report;
    std::optional<SmoothedSpinUp> smoothed;
    // Every spin-up of the run, and the one smoothed (an index into them).
    std::vector<FoundSpinUp> spinUps;
    std::optional<std::size_t> spinUp;
    // The report's points thinned to what a chart shows, when asked for.
    std::shared_ptr<const ThinnedReport> thinned;
    std::size_t records = 0;
    std::size_t firstRow = 0;
};

struct LoadRequest {
    // The spin-up to smooth, an index into the run's spin-ups; the default
    // (defaultSpinUp()) when not set or past the last, which the caller tells
    // from spinUps.size().
    std::optional<std::size_t> spinUp;
    // The report's points, thinned, for the charts; an overlay and the
    // motor's figures need none.
    bool points = true;
    SmoothingSettings settings;
};

// Reads a report as it streams by: the spin-ups are found and the points
// thinned on the way, then only the rows of the chosen spin-up and of the
// coast-down that may follow it are read again, for its fit and the motor's
// figures. What is kept is what is drawn and what the fits need, whatever
// the run's length, and the figures measured on it are those of the whole
// report. Throws RuntimeError as readReport does. `progress`, when given,
// gets the records read so far now and then.
ReportCurves loadReport(const QString& path, const LoadRequest& request = {},
                        std::atomic<std::size_t>* progress = nullptr);

// How a spin-up is named in lists, legends and the tools' output:
// "spin-up 2 of 3: 12.40 s, 5.10 s to 28900 RPM" (numbered from 1).
QString describeSpinUp(const std::vector<FoundSpinUp>& spinUps, std::size_t index);

} // namespace zelvar::curves
