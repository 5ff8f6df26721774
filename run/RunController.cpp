#include "run/RunController.h"

#include "platform/FileSystem.h"
#include "platform/MainForm.h"
#include "platform/NumberText.h"
#include "platform/Recovery.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"

namespace zelvar {

using runfiles::kRunFileNumber;

FlywheelAndEsc analysisValues(const FlywheelBoxes& boxes)
{
    if (!boxes.radiusMm)
        throw RuntimeError(boxes.radiusFailure);
    if (!boxes.weightG)
        throw RuntimeError(boxes.weightFailure);
    return {*boxes.radiusMm, *boxes.weightG, boxes.escNeutral, boxes.escFull};
}

FlywheelAndEsc readFlywheelAndEsc(MainForm& form, const QLocale& locale)
{
    return analysisValues(readFlywheelBoxes(form, locale));
}

RunController::RunController(MainForm& form, SerialControl& serial, SequentialFiles& files,
                             QString applicationDirectory, const QLocale& locale)
    : form_(form), serial_(serial), files_(files), directory_(std::move(applicationDirectory)), locale_(locale)
{
}

RunOutcome RunController::Command1_Click()
{
    RunOutcome outcome;
    outcome.wasStop = form_.isRunning();
    try {
        if (outcome.wasStop)
            stopStep(outcome);
        else
            startStep(outcome);
    } catch (const std::exception& e) {
        recover(outcome, QString::fromStdString(e.what()));
    }
    return outcome;
}

void RunController::startStep(RunOutcome& outcome)
{
    files_.OpenForOutput(kRunFileNumber, applicationFile(directory_, QLatin1String(runfiles::kRunFileName)));
    form_.Text1(Box::Interval).setText(QStringLiteral("20"));
    form_.Combo2().setEnabled(false);
    form_.Combo1().setEnabled(false);
    form_.Command1().setCaption(caption::kStop);
    form_.Label2().setCaption(caption::kNowRunning);
    // A closed port is opened, closed and opened again, the way the dyno's
    // adapters have always been brought up for a run.
    if (!serial_.PortOpen()) {
        serial_.setPortOpen(true);
        serial_.setPortOpen(false);
        serial_.setPortOpen(true);
    }
    // Whatever the dyno sent before Start is not part of the run.
    if (serial_.PortOpen())
        serial_.setInBufferCount(0);
    outcome.kind = RunOutcome::Kind::Started;
    outcome.interval = form_.Text1(Box::Interval).text();
}

void RunController::stopStep(RunOutcome& outcome)
{
    // The boxes are read before any file is touched: boxes without numbers
    // leave the run file and the report as they were.
    outcome.boxes = readFlywheelBoxes(form_, locale_);
    const FlywheelAndEsc values = analysisValues(*outcome.boxes);
    files_.Close(kRunFileNumber);
    RunAnalyzer(files_, directory_).analyze(values);
    form_.Combo2().setEnabled(true);
    form_.Combo1().setEnabled(true);
    form_.Command1().setCaption(caption::kStart);
    form_.Label2().setCaption(caption::kNowReady);
    if (serial_.PortOpen())
        serial_.setPortOpen(false);
    blankReadouts();
    outcome.kind = RunOutcome::Kind::Stopped;
}

void RunController::recover(RunOutcome& outcome, const QString& reason)
{
    outcome.kind = RunOutcome::Kind::Recovered;
    outcome.reason = reason;
    showIdleAfterError(form_, serial_);
    blankReadouts();
    for (int number : {kRunFileNumber, runfiles::kReportFileNumber, runfiles::kRunFileInputNumber}) {
        try {
            files_.Close(number);
        } catch (const std::exception&) {
        }
    }
}

void RunController::blankReadouts()
{
    for (int i = 0; i < MainForm::kText1Count; ++i)
        form_.Text1(i).setText(QStringLiteral(" "));
}

} // namespace zelvar
