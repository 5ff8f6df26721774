#pragma once

#include <QString>

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

} // namespace zelvar::curves
