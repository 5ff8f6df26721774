#include "MapCommand.h"

#include "ArchiveCommands.h"

#include "charts/MotorMapPlot.h"
#include "sets/MotorMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace zelvar::analyze {

namespace {

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString writeMotorMap(const std::vector<MapRun>& runs, const QString& image, double scale, const QString& csv)
{
    std::vector<sets::SweepSpinUp> sweep;
    QStringList names;
    for (const MapRun& run : runs) {
        std::vector<sets::SweepSpinUp> spinUps = sets::sweepOfReport(run.report, run.name);
        sweep.insert(sweep.end(), std::make_move_iterator(spinUps.begin()), std::make_move_iterator(spinUps.end()));
        names << run.name;
    }
    const sets::MotorMap map = sets::motorMap(sweep);
    for (const QString& left : map.leftOut)
        std::fprintf(stderr, "zelvar-analyze: warning: the map leaves out %s\n", qPrintable(left));
    if (!map.drawn())
        return QStringLiteral("no motor's map of %1: %2").arg(names.join(QStringLiteral(", ")), map.refused);
    if (!image.isEmpty()) {
        const QString title =
            QStringLiteral("Zelvar QT4 Data: the motor's map of %1").arg(names.join(QStringLiteral(", ")));
        if (!charts::saveMotorMap(image, map, title, scale))
            return QStringLiteral("cannot write the image \"%1\"").arg(image);
        std::printf("%s: motor's map of %lld spin-ups at %lld supplies\n", qPrintable(shown(image)),
                    static_cast<long long>(map.lines.size()), static_cast<long long>(map.supplies.size()));
    }
    if (!csv.isEmpty()) {
        if (const QString failure = writeOutputFile(csv, sets::mapCsv(map)); !failure.isEmpty())
            return failure;
        std::printf("%s: motor's map, %lld x %lld grid points\n", qPrintable(shown(csv)),
                    static_cast<long long>(map.grid.columns()), static_cast<long long>(map.grid.rows()));
    }
    for (const QString& line : sets::bestPointLines(map))
        std::printf("best efficiency at %s\n", line.toUtf8().constData());
    return {};
}

} // namespace zelvar::analyze
