#pragma once

#include "curves/ReportLoader.h"
#include "curves/Smoothing.h"

#include <QString>

#include <optional>
#include <vector>

namespace zelvar::charts {

// What the read-out under the mouse says: for the run and each overlay, the
// point of its smoothed curve nearest in RPM to where the mouse is.
struct ReadoutRow {
    QString name;
    curves::SmoothedPoint point;
};

// The smoothed point nearest in RPM; none without a smoothed spin-up.
std::optional<curves::SmoothedPoint> nearestInRpm(const curves::ReportCurves& curves, double rpm);

std::vector<ReadoutRow> readoutAt(double rpm, const curves::ReportCurves& report,
                                  const std::vector<curves::ReportCurves>& overlays);

// A line per row: "name: 12000 RPM, 23.1 mN·m, 29.04 W, 61.2 %", in the
// shown units (charts/UnitChoice.h).
QString readoutText(const std::vector<ReadoutRow>& rows);

} // namespace zelvar::charts
