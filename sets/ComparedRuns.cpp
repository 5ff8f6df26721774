#include "sets/ComparedRuns.h"

#include "archive/RunJson.h"
#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "records/RunFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <exception>

namespace zelvar::sets {

ComparedRun readComparedRun(const QString& folder)
{
    ComparedRun run;
    run.folder = folder;
    run.motor = archive::motorName({});
    try {
        if (archive::isRunFolder(folder)) {
            const archive::RunJson json = archive::readRunJson(folder);
            run.started = json.startedAt();
            const archive::RunMotor motor = json.motor();
            run.motor = archive::motorName(motor);
            run.nameplateKv = motor.nameplateKv;
        }
    } catch (const std::exception& e) {
        // The report still gives the figures; only the label is missing.
        run.exclusion = QString::fromStdString(e.what());
    }
    const QString report = QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName));
    if (!QFileInfo::exists(report)) {
        run.exclusion = QStringLiteral("no report (save.csv)");
        return run;
    }
    try {
        curves::LoadRequest request;
        request.points = false;
        const curves::ReportCurves curves = curves::loadReport(report, request);
        if (curves.spinUp) {
            // The figures of what the run has, so that the list still shows
            // them; the statistics take only a complete spin-up.
            run.figures = QJsonDocument::fromJson(curves::summaryJson(curves::measureMotor(curves))).object();
        }
        const bool complete = std::any_of(curves.spinUps.begin(), curves.spinUps.end(),
                                          [](const curves::FoundSpinUp& s) { return s.complete; });
        run.included = complete;
        run.exclusion = complete               ? QString()
                      : curves.spinUps.empty() ? QStringLiteral("no spin-up")
                                               : QStringLiteral("no complete spin-up (the run ended at top speed)");
    } catch (const std::exception& e) {
        run.exclusion = QStringLiteral("report not read: %1").arg(QString::fromStdString(e.what()));
    }
    return run;
}

RunComparison compareFolders(const QStringList& folders)
{
    std::vector<ComparedRun> runs;
    runs.reserve(static_cast<std::size_t>(folders.size()));
    for (const QString& folder : folders)
        runs.push_back(readComparedRun(folder));
    return compareRuns(std::move(runs));
}

} // namespace zelvar::sets
