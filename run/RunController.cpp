#include "RunController.h"

#include "FileSystem.h"
#include "MainForm.h"
#include "NumberText.h"
#include "RunAnalyzer.h"
#include "RunFiles.h"
#include "RuntimeError.h"
#include "SequentialFiles.h"
#include "SerialControl.h"

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

RunController::RunController(MainForm& mainForm, SerialControl& MSComm1, SequentialFiles& files,
                             QString applicationDirectory, const QLocale& locale)
    : MainForm_(mainForm), MSComm1_(MSComm1), files_(files), directory_(std::move(applicationDirectory)),
      locale_(locale)
{
}

void RunController::Command1_Click()
{
    lastError_.clear();
    try {
        if (MainForm_.isRunning())
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
    MainForm_.Text1(Box::Interval).setText(QStringLiteral("20"));
    MainForm_.Combo2().setEnabled(false);
    MainForm_.Combo1().setEnabled(false);
    MainForm_.Command1().setCaption(caption::kStop);
    MainForm_.Label2().setCaption(caption::kNowRunning);
    // A closed port is opened, closed and opened again, the way the dyno's
    // adapters have always been brought up for a run.
    if (!MSComm1_.PortOpen()) {
        MSComm1_.setPortOpen(true);
        MSComm1_.setPortOpen(false);
        MSComm1_.setPortOpen(true);
    }
    // Whatever the dyno sent before Start is not part of the run.
    if (MSComm1_.PortOpen())
        MSComm1_.setInBufferCount(0);
}

void RunController::stopStep()
{
    // The boxes are read before any file is touched: boxes without numbers
    // leave the run file and the report as they were.
    const FlywheelAndEsc values = readFlywheelAndEsc(MainForm_, locale_);
    files_.Close(kRunFileNumber);
    RunAnalyzer(files_, directory_).analyze(values);
    MainForm_.Combo2().setEnabled(true);
    MainForm_.Combo1().setEnabled(true);
    MainForm_.Command1().setCaption(caption::kStart);
    MainForm_.Label2().setCaption(caption::kNowReady);
    if (MSComm1_.PortOpen())
        MSComm1_.setPortOpen(false);
    blankReadouts();
}

void RunController::recover(const QString& reason)
{
    lastError_ = reason;
    MainForm_.Combo2().setEnabled(true);
    MainForm_.Combo1().setEnabled(true);
    MainForm_.Command1().setCaption(caption::kStart);
    MainForm_.Label2().setCaption(caption::kError);
    try {
        if (MSComm1_.PortOpen())
            MSComm1_.setPortOpen(false);
    } catch (const std::exception&) {
        // Nothing may escape into the event loop; the next Start opens anew.
    }
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
        MainForm_.Text1(i).setText(QStringLiteral(" "));
}

} // namespace zelvar
