#include "run/RunAnalyzer.h"

#include "platform/FileSystem.h"
#include "platform/RuntimeError.h"
#include "records/RunFiles.h"
#include "records/RunRecord.h"
#include "records/SequentialFiles.h"

#include <QFile>
#include <QFileInfo>

namespace zelvar {

using runfiles::kReportFileNumber;
using runfiles::kRunFileInputNumber;

namespace {

// The value the analysis has always used for pi, not the full constant: the
// reports of every run are computed with it.
const Decimal kPi = Decimal::fromDouble(3.141592654);
const Decimal kThousand(1000);
const Decimal kTorqueThreshold(100); // RPM rise at or below which the torque is 0
const Decimal kEfficiencyCap(100);
const Decimal kTwo(2);
const Decimal kSixty(60);

} // namespace

Decimal RowCalculator::inertiaOf(const Decimal& radiusMm, const Decimal& weightG)
{
    return radiusMm / kThousand * (radiusMm / kThousand) * (weightG / kThousand) / kTwo;
}

ReportRow RowCalculator::next(const Decimal& t, const Decimal& v, const Decimal& a, const Decimal& n)
{
    ReportRow row{t, v, a, n, Decimal(), Decimal(), Decimal(), Decimal()};
    const Decimal rise = n - lastRpm_;
    if (rise > kTorqueThreshold) {
        const Decimal step = t - lastTime_;
        // A record that repeats or goes back in run time has no rate of
        // change: its torque is 0 rather than a failed report or a negative
        // torque.
        if (step > Decimal()) {
            row.torque = inertia_ * rise * kTwo * kPi / kSixty / step * kThousand;
            row.outputPower = row.torque * n * kTwo * kPi / kSixty / kThousand;
        }
    }
    row.inputPower = v * a;
    if (!row.inputPower.isZero()) {
        row.efficiency = row.outputPower / row.inputPower * Decimal(100);
        if (row.efficiency > kEfficiencyCap)
            row.efficiency = kEfficiencyCap;
    }
    lastRpm_ = n;
    lastTime_ = t;
    return row;
}

RunAnalyzer::RunAnalyzer(SequentialFiles& files, QString applicationDirectory)
    : files_(files), directory_(std::move(applicationDirectory))
{
}

std::int64_t RunAnalyzer::analyze(const FlywheelAndEsc& values)
{
    const QString runPath = applicationFile(directory_, QLatin1String(runfiles::kRunFileName));
    const QString reportPath = applicationFile(directory_, QLatin1String(runfiles::kReportFileName));
    const QString tempPath = createReplacementFile(reportPath);

    try {
        const std::int64_t records = writeReport(tempPath, runPath, values);
        replaceDurably(tempPath, reportPath);
        return records;
    } catch (const std::exception& e) {
        try {
            files_.Close(kReportFileNumber);
        } catch (const RuntimeError&) {
        }
        files_.Close(kRunFileInputNumber);
        QFile::remove(tempPath);
        // The operator must know the report on the disk is an older run's.
        if (QFileInfo::exists(reportPath))
            throw RuntimeError(std::string(e.what()) + "; the previous save.csv is kept");
        throw;
    }
}

namespace {

Record textRecord(const auto& texts)
{
    Record record;
    for (const char* text : texts)
        record.emplace_back(QString::fromLatin1(text));
    return record;
}

} // namespace

std::int64_t RunAnalyzer::writeReport(const QString& reportPath, const QString& runPath, const FlywheelAndEsc& values)
{
    const Decimal inertia = RowCalculator::inertiaOf(values.radiusMm, values.weightG);

    files_.OpenForOutput(kReportFileNumber, reportPath, SequentialFiles::Flush::OnClose);
    files_.WriteRecord(kReportFileNumber, textRecord(runfiles::kReportHeader));

    RowCalculator rows(inertia);
    files_.OpenForInput(kRunFileInputNumber, runPath);
    std::int64_t count = 0;
    Record line(8);
    while (!files_.AtEnd(kRunFileInputNumber)) {
        const RunRecord r = RunRecord::read(files_, kRunFileInputNumber);
        ++count;
        ReportRow row;
        try {
            row = rows.next(r.runTime, r.outputVoltage, r.outputCurrent, r.rpm);
        } catch (const RuntimeError& e) {
            throw RuntimeError("\"" + runPath.toStdString() + "\" record " + std::to_string(count) + " ("
                               + r.runTime.toString() + "," + r.outputVoltage.toString() + ","
                               + r.outputCurrent.toString() + "," + r.rpm.toString() + "): " + e.what());
        }
        line[0] = row.runTime;
        line[1] = row.outputVoltage;
        line[2] = row.outputCurrent;
        line[3] = row.rpm;
        line[4] = row.torque;
        line[5] = row.outputPower;
        line[6] = row.inputPower;
        line[7] = row.efficiency;
        files_.WriteRecord(kReportFileNumber, line);
        if (progress_ && count % kProgressStep == 0)
            progress_(count);
    }

    files_.WriteRecord(kReportFileNumber, {});
    files_.WriteRecord(kReportFileNumber, textRecord(runfiles::kTrailerHeader));
    files_.WriteRecord(kReportFileNumber, {values.radiusMm, values.weightG, values.escNeutral, values.escFull});
    files_.Close(kReportFileNumber);
    files_.Close(kRunFileInputNumber);
    return count;
}

} // namespace zelvar
