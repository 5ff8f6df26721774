#include "curves/ReportLoader.h"

#include <QFileInfo>
#include <QLocale>

namespace zelvar::curves {

ReportCurves loadReport(const QString& path, const LoadRequest& request, std::atomic<std::size_t>* progress)
{
    ReportCurves curves;
    curves.name = QFileInfo(path).fileName();
    SpinUpFinder finder;
    PointThinning torque(kThinningColumns, kThinningRows, kMaxThinnedPoints);
    PointThinning power(kThinningColumns, kThinningRows, kMaxThinnedPoints);
    PointThinning efficiency(kThinningColumns, kThinningRows, kMaxThinnedPoints);
    std::size_t records = 0;
    curves.report = streamReport(path, [&](std::size_t index, const ReportPoint& row) {
        finder.add(row.runTime, row.rpm);
        if (request.points) {
            torque.add({row.rpm, row.torque});
            power.add({row.rpm, row.outputPower});
            efficiency.add({row.rpm, row.efficiency});
        }
        records = index + 1;
        if (progress != nullptr && records % 4096 == 0)
            progress->store(records, std::memory_order_relaxed);
    });
    curves.records = records;
    if (progress != nullptr)
        progress->store(records, std::memory_order_relaxed);
    if (request.points) {
        auto thinned = std::make_shared<ThinnedReport>();
        thinned->torque = seriesOf(torque);
        thinned->outputPower = seriesOf(power);
        thinned->efficiency = seriesOf(efficiency);
        curves.thinned = std::move(thinned);
    }
    curves.spinUps = finder.finish();
    curves.spinUp = request.spinUp && *request.spinUp < curves.spinUps.size() ? request.spinUp
                                                                              : defaultSpinUp(curves.spinUps);
    if (curves.spinUp) {
        // The spin-up, then the coast-down the rig's losses are measured on
        // as findCoastDown() looks for it: from the record after the last
        // powered one, with the current at 0 and the speed never rising, up
        // to the record that ends it. A motor held at speed for hours after
        // its spin-up costs nothing here.
        const SpinUp rows = curves.spinUps[*curves.spinUp].rows;
        std::size_t lastPowered = rows.first;
        double lastRpm = 0.0;
        curves.report.rows = readReportRows(path, rows.first, records - 1,
                                            [&](std::size_t index, const ReportPoint& p) {
                                                const bool coasting = p.current == 0.0 && p.rpm > 0.0
                                                                   && (index == lastPowered + 1 || p.rpm <= lastRpm);
                                                if (index <= rows.last && p.current > 0.0)
                                                    lastPowered = index;
                                                lastRpm = p.rpm;
                                                return index <= rows.last || coasting;
                                            });
        curves.firstRow = rows.first;
        curves.smoothed = smoothSpinUp(curves.report.rows, SpinUp{0, rows.last - rows.first}, curves.report.inertia(),
                                       request.settings);
    }
    return curves;
}

QString describeSpinUp(const std::vector<FoundSpinUp>& spinUps, std::size_t index)
{
    if (index >= spinUps.size())
        return {};
    const FoundSpinUp& s = spinUps[index];
    const QLocale c = QLocale::c();
    return QStringLiteral("spin-up %1 of %2: %3 s, %4 s to %5 RPM%6")
        .arg(index + 1)
        .arg(spinUps.size())
        .arg(c.toString(s.startTime, 'f', 2), c.toString(s.duration, 'f', 2), c.toString(s.topRpm, 'f', 0),
             s.complete ? QString() : QStringLiteral(" (open: the run ended at top speed)"));
}

} // namespace zelvar::curves
