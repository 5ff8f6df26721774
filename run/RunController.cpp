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

namespace {

Decimal readNumberBox(MainForm& form, Box box, const char* name, const QLocale& locale)
{
    try {
        return readBox(form.Text1(box).text(), locale);
    } catch (const RuntimeError& e) {
        throw RuntimeError(std::string(name) + ": " + e.what());
    }
}

} // namespace

FlywheelAndEsc readFlywheelAndEsc(MainForm& form, const QLocale& locale)
{
    return {readNumberBox(form, Box::FlywheelRadius, "Flywheel Radius", locale),
            readNumberBox(form, Box::FlywheelWeight, "Flywheel Weight", locale), form.Text1(Box::EscNeutral).text(),
            form.Text1(Box::EscFull).text()};
}

RunController::RunController(MainForm& form, SerialControl& serial, SequentialFiles& files,
                             QString applicationDirectory, const QLocale& locale)
    : form_(form), serial_(serial), files_(files), directory_(std::move(applicationDirectory)), locale_(locale)
{
}

void RunController::Command1_Click()
{
    lastError_.clear();
    try {
        if (form_.isRunning())
            stopStep();
        else
            startStep();
    } catch (const std::exception& e) {
        recover(QString::fromStdString(e.what()));
    }
}

void RunController::startStep()
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
}

void RunController::stopStep()
{
    // The boxes are read before any file is touched: boxes without numbers
    // leave the run file and the report as they were.
    const FlywheelAndEsc values = readFlywheelAndEsc(form_, locale_);
    files_.Close(kRunFileNumber);
    RunAnalyzer(files_, directory_).analyze(values);
    form_.Combo2().setEnabled(true);
    form_.Combo1().setEnabled(true);
    form_.Command1().setCaption(caption::kStart);
    form_.Label2().setCaption(caption::kNowReady);
    if (serial_.PortOpen())
        serial_.setPortOpen(false);
    blankReadouts();
}

void RunController::recover(const QString& reason)
{
    lastError_ = reason;
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
