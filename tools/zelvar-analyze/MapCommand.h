#pragma once

// zelvar-analyze --map and --map-csv: the motor's map of the spin-ups of
// several runs at their supply voltages.

#include <QString>

#include <vector>

namespace zelvar::analyze {

// A run of the map: its report and the name it goes by.
struct MapRun {
    QString report;
    QString name;
};

// Reads every spin-up of `runs`, makes the map and writes it: a PNG image
// to `image` (at `scale`) and the grid as CSV to `csv`, each when not
// empty, then prints what was written and the best point of each supply.
// Empty, or why nothing was written (a map of fewer than two supplies is
// refused with the reason). Throws RuntimeError as the report reader does.
QString writeMotorMap(const std::vector<MapRun>& runs, const QString& image, double scale, const QString& csv);

} // namespace zelvar::analyze
