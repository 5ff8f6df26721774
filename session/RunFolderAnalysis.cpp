#include "session/RunFolderAnalysis.h"

#include "archive/RunArchive.h"
#include "archive/RunJson.h"
#include "curves/ReportReading.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"

#include <QDir>

#include <exception>

namespace zelvar::session {

FolderAnalysis analyseRunFolder(const QString& folder)
{
    FolderAnalysis outcome;
    try {
        const archive::RunValues values = archive::readRunJson(folder).values();
        // A run that never had the dyno's set-up frame has nothing to
        // analyse with; the operator gives the values on the command line.
        const auto missing = [&](const char* what) {
            return QStringLiteral("run.json holds no flywheel %1 (the dyno sent no set-up frame): analyse it with "
                                  "zelvar-analyze --dir \"%2\" --radius MM --weight G")
                .arg(QLatin1String(what), QDir::toNativeSeparators(folder));
        };
        if (!values.radiusMm) {
            outcome.failure = missing("radius");
            return outcome;
        }
        if (!values.weightG) {
            outcome.failure = missing("weight");
            return outcome;
        }
        SequentialFiles files;
        outcome.records = RunAnalyzer(files, folder)
                              .analyze({Decimal::fromDouble(*values.radiusMm), Decimal::fromDouble(*values.weightG),
                                        values.escNeutral, values.escFull});
        const curves::ReportReading reading =
            curves::readAndMeasure(QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName)), {}, true);
        if (reading.figures)
            archive::recordFigures(folder, *reading.figures);
    } catch (const std::exception& e) {
        outcome.failure = QString::fromUtf8(e.what());
    }
    return outcome;
}

} // namespace zelvar::session
