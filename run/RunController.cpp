#include "RunController.h"

#include "FileSystem.h"
#include "MainForm.h"
#include "RunAnalyzer.h"
#include "SequentialFiles.h"
#include "SerialControl.h"

namespace zelvar {

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
        if (MainForm_.Command1().caption() == QLatin1String("Start"))
            startStep();
        else
            stopStep();
    } catch (const std::exception& e) {
        recover(QString::fromStdString(e.what()));
    }
}

void RunController::startStep()
{
    files_.OpenForOutput(kRunFileNumber, applicationFile(directory_, QStringLiteral("Temp.dat")));
    MainForm_.Text1(8).setText(QStringLiteral("20"));
    MainForm_.Combo2().setEnabled(false);
    MainForm_.Combo1().setEnabled(false);
    MainForm_.Command1().setCaption(QStringLiteral("Stop"));
    MainForm_.Label2().setCaption(QStringLiteral("Now Running"));
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
    files_.Close(kRunFileNumber);
    RunAnalyzer(MainForm_, files_, directory_, locale_).analyze();
    MainForm_.Combo2().setEnabled(true);
    MainForm_.Combo1().setEnabled(true);
    MainForm_.Command1().setCaption(QStringLiteral("Start"));
    MainForm_.Label2().setCaption(QStringLiteral("Now Ready"));
    if (MSComm1_.PortOpen())
        MSComm1_.setPortOpen(false);
    blankReadouts();
}

void RunController::recover(const QString& reason)
{
    lastError_ = reason;
    MainForm_.Combo2().setEnabled(true);
    MainForm_.Combo1().setEnabled(true);
    MainForm_.Command1().setCaption(QStringLiteral("Start"));
    MainForm_.Label2().setCaption(QStringLiteral("Error!"));
    try {
        if (MSComm1_.PortOpen())
            MSComm1_.setPortOpen(false);
    } catch (const std::exception&) {
        // Nothing may escape into the event loop; the next Start opens anew.
    }
    blankReadouts();
    for (int number : {kRunFileNumber, RunAnalyzer::kReportFileNumber, RunAnalyzer::kRunFileInputNumber}) {
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
