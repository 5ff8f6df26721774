#include "charts/Readout.h"

#include "charts/UnitChoice.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

namespace zelvar::charts {

std::optional<curves::SmoothedPoint> nearestInRpm(const curves::ReportCurves& curves, double rpm)
{
    if (!curves.smoothed || curves.smoothed->points.empty())
        return std::nullopt;
    // The points of a spin-up need not rise in RPM at its ends, so they are
    // looked through; a few thousand per mouse move is nothing.
    const curves::SmoothedPoint* nearest = &curves.smoothed->points.front();
    for (const curves::SmoothedPoint& p : curves.smoothed->points) {
        if (std::abs(p.rpm - rpm) < std::abs(nearest->rpm - rpm))
            nearest = &p;
    }
    return *nearest;
}

std::vector<ReadoutRow> readoutAt(double rpm, const curves::ReportCurves& report,
                                  const std::vector<curves::ReportCurves>& overlays)
{
    std::vector<ReadoutRow> rows;
    if (const auto point = nearestInRpm(report, rpm))
        rows.push_back({report.name, *point});
    for (const curves::ReportCurves& overlay : overlays) {
        if (const auto point = nearestInRpm(overlay, rpm))
            rows.push_back({overlay.name, *point});
    }
    return rows;
}

QString readoutText(const std::vector<ReadoutRow>& rows)
{
    const QLocale c = QLocale::c();
    const curves::DisplayUnits& units = shownUnits();
    // In the program's units: 0 decimals of RPM, 1 of mN·m, 2 of W.
    const auto shown = [](const curves::DisplayUnit& unit, double value, int decimals) {
        return unit.text(value, decimals) + QLatin1Char(' ') + unit.name;
    };
    QStringList lines;
    for (const ReadoutRow& row : rows) {
        const curves::SmoothedPoint& p = row.point;
        lines << QStringLiteral("%1: %2, %3, %4, %5")
                     .arg(row.name, shown(units.speedUnit(), p.rpm, 0), shown(units.torqueUnit(), p.torque, 1),
                          shown(units.powerUnit(), p.outputPower, 2),
                          p.efficiencyResolved ? c.toString(p.efficiency, 'f', 1) + QStringLiteral(" %")
                                               : QStringLiteral("efficiency not resolved"));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace zelvar::charts
