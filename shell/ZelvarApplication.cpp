#include "ZelvarApplication.h"

#include "FrameReceiver.h"
#include "Frm_RS232.h"
#include "NorvDynoData.h"
#include "PortSelection.h"
#include "QtMessageBox.h"
#include "RunController.h"
#include "SerialControl.h"
#include "StartUp.h"

#include <QCoreApplication>
#include <QLabel>

namespace zelvar {

ZelvarApplication::ZelvarApplication(ShellOptions options)
    : options_(std::move(options)), fileSystem_(options_.drivesRoot), form_(std::make_unique<NorvDynoData>())
{
    if (!options_.makeSerialControl)
        options_.makeSerialControl = [] { return std::make_unique<QtSerialControl>(); };
    if (!options_.messageBox) {
        ownMessageBox_ = std::make_unique<QtMessageBox>();
        options_.messageBox = ownMessageBox_.get();
    }
    if (!options_.clock)
        options_.clock = &systemClock_;
    if (!options_.endProgram)
        options_.endProgram = [] { QCoreApplication::quit(); };

    connect(form_.get(), &NorvDynoData::Command1_Click, this, [this] {
        if (!runControl_)
            return;
        runControl_->Command1_Click();
        showReason(runControl_->lastError());
    });
    connect(form_.get(), &NorvDynoData::Combo1_Click, this, [this] {
        if (!ports_)
            return;
        ports_->Combo1_Click();
        showReason(ports_->lastError());
    });
    connect(form_.get(), &NorvDynoData::Combo2_Click, this, [this] {
        if (!ports_)
            return;
        ports_->Combo2_Click();
        showReason(ports_->lastError());
    });
    connect(form_.get(), &NorvDynoData::Form_Unload, this, &ZelvarApplication::Form_Unload);
}

ZelvarApplication::~ZelvarApplication() = default;

bool ZelvarApplication::Form_Load()
{
    const QString& directory = options_.applicationDirectory;
    const QString missing = startup::missingControlFileMessage(fileSystem_, directory);
    if (!missing.isEmpty()) {
        options_.messageBox->showCritical(QString::fromLatin1(startup::kMessageTitle), missing);
        return false;
    }
    startup::installComponents(fileSystem_, directory);

    SerialForm_ = std::make_unique<Frm_RS232>(options_.makeSerialControl(), *form_, files_, *options_.clock,
                                              options_.locale);
    // After the receiver, which the serial host connected first: by then a
    // failure has been handled and its reason is known.
    connect(&SerialForm_->MSComm1(), &SerialControl::OnComm, this,
            [this] { showReason(SerialForm_->receiver().lastError()); });

    ports_ = std::make_unique<PortSelection>(*form_, SerialForm_->MSComm1());
    ports_->setUpLists();
    runControl_ = std::make_unique<RunController>(*form_, SerialForm_->MSComm1(), files_, directory,
                                                  options_.locale);
    return true;
}

void ZelvarApplication::Form_Unload()
{
    if (SerialForm_) {
        try {
            if (SerialForm_->MSComm1().PortOpen())
                SerialForm_->MSComm1().setPortOpen(false);
        } catch (const std::exception&) {
            // The program ends all the same.
        }
    }
    files_.CloseAll();
    options_.endProgram();
}

void ZelvarApplication::showReason(const QString& reason)
{
    // "Error!" alone says nothing of the cause; the status line's tool tip
    // does.
    QLabel* status = form_->label2Widget();
    status->setToolTip(form_->Label2().caption() == QLatin1String("Error!") ? reason : QString());
}

} // namespace zelvar
