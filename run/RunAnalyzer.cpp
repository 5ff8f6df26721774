#include "RunAnalyzer.h"

#include "FileSystem.h"
#include "MainForm.h"
#include "NumberText.h"
#include "RunRecord.h"
#include "RuntimeError.h"
#include "SequentialFiles.h"

#include <QFile>

namespace zelvar {

namespace {

// The value the analysis has always used for pi, not the full constant: the
// reports of every run are computed with it.
const Decimal kPi = Decimal::fromDouble(3.141592654);
const Decimal kThousand(1000);
const Decimal kTorqueThreshold(100); // RPM rise at or below which the torque is 0
const Decimal kEfficiencyCap(100);
const Decimal kTwo(2);
const Decimal kSixty(60);

Decimal readBoxNamed(MainForm& form, int index, const char* name, const QLocale& locale)
{
    try {
        return readBox(form.Text1(index).text(), locale);
    } catch (const RuntimeError& e) {
        throw RuntimeError(std::string(name) + ": " + e.what());
    }
}

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

RunAnalyzer::RunAnalyzer(MainForm& mainForm, SequentialFiles& files, QString applicationDirectory,
                         const QLocale& locale)
    : MainForm_(mainForm), files_(files), directory_(std::move(applicationDirectory)), locale_(locale)
{
}

std::int64_t RunAnalyzer::analyze()
{
    const QString runPath = applicationFile(directory_, QStringLiteral("Temp.dat"));
    const QString reportPath = applicationFile(directory_, QStringLiteral("save.csv"));

    // Both values are read before anything is written, so that boxes without
    // numbers leave every file as it was.
    const Decimal radius = readBoxNamed(MainForm_, 4, "Flywheel Radius", locale_);
    const Decimal weight = readBoxNamed(MainForm_, 5, "Flywheel Weight", locale_);

    const QString tempPath = createReplacementFile(reportPath);

    try {
        const std::int64_t records = writeReport(tempPath, runPath, radius, weight);
        replaceFile(tempPath, reportPath);
        return records;
    } catch (...) {
        try {
            files_.Close(kReportFileNumber);
        } catch (const RuntimeError&) {
        }
        files_.Close(kRunFileInputNumber);
        QFile::remove(tempPath);
        throw;
    }
}

std::int64_t RunAnalyzer::writeReport(const QString& reportPath, const QString& runPath, const Decimal& radius,
                                      const Decimal& weight)
{
    const Decimal inertia = RowCalculator::inertiaOf(radius, weight);

    files_.OpenForOutput(kReportFileNumber, reportPath, SequentialFiles::Flush::OnClose);
    files_.WriteRecord(kReportFileNumber,
                       {QStringLiteral("Run Time (sec)"), QStringLiteral("Output Voltage (V)"),
                        QStringLiteral("Output Current (A)"), QStringLiteral("RPM"), QStringLiteral("Torque (mNm)"),
                        QStringLiteral("Horse Power (W)"), QStringLiteral("Input Power (W)"),
                        QStringLiteral("Efficiency (%)")});

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
    files_.WriteRecord(kReportFileNumber,
                       {QStringLiteral("Flywheel Radius"), QStringLiteral("Flywheel Weight"),
                        QStringLiteral("ESC Neutral Timing"), QStringLiteral("ESC Full Throttle Timing")});
    files_.WriteRecord(kReportFileNumber, {radius, weight, MainForm_.Text1(6).text(), MainForm_.Text1(7).text()});
    files_.Close(kReportFileNumber);
    files_.Close(kRunFileInputNumber);
    return count;
}

} // namespace zelvar
