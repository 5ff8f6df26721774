#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <vector>

namespace zelvar::curves {

// One data line of a report, as numbers to draw.
struct ReportPoint {
    double runTime = 0.0;     // s
    double voltage = 0.0;     // V
    double current = 0.0;     // A
    double rpm = 0.0;         // 1/min
    double torque = 0.0;      // mN·m
    double outputPower = 0.0; // W
    double inputPower = 0.0;  // W
    double efficiency = 0.0;  // %
};

struct Report {
    std::vector<ReportPoint> rows;
    double radiusMm = 0.0;
    double weightG = 0.0;
    QString escNeutral;
    QString escFull;

    // The flywheel as a solid disc, J = m r² / 2, in kg·m².
    double inertia() const;
};

// Reads a report as the analysis writes it: the header, the data lines, an
// empty line and the trailer. Anything else (a missing file, another CSV, a
// report cut short before its trailer) throws RuntimeError saying what is
// wrong, naming the file and the line.
Report readReport(const QString& path);

// readReport() without keeping the rows: each data line goes to `row` as it
// is read, with its index from 0, and the report comes back with the trailer
// and no rows. A report of a long run is as long as its run; the charts take
// what they need of it on the way.
Report streamReport(const QString& path, const std::function<void(std::size_t, const ReportPoint&)>& row);

// The data lines first to last (from 0) of a report, read as readReport()
// does; the lines before them are only counted. With `more`, reading also
// stops after the first line (kept) for which it returns false. Throws
// RuntimeError as readReport does, and when the report holds fewer lines: it
// was replaced since it was looked at.
std::vector<ReportPoint> readReportRows(const QString& path, std::size_t first, std::size_t last,
                                        const std::function<bool(std::size_t, const ReportPoint&)>& more = {});

} // namespace zelvar::curves
