#include "shell/ZelvarApplication.h"

#include "charts/ChartWindow.h"
#include "link/FrameReceiver.h"
#include "shell/Frm_RS232.h"
#include "shell/NorvDynoData.h"
#include "link/PortSelection.h"
#include "shell/QtMessageBox.h"
#include "run/RunController.h"
#include "run/RunRecord.h"
#include "platform/SerialControl.h"
#include "shell/StartUp.h"
#include "platform/Recovery.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace zelvar {

namespace {

// The main window's free bottom-right corner, below the set-up row and right
// of the interval box, in pixels: nothing of the window's own layout is
// moved for it.
constexpr QRect kChartButtonPlace(592, 204, 72, 24);

} // namespace

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
        const bool wasRunning = form_->isRunning();
        runControl_->Command1_Click();
        showReason(runControl_->lastError());
        afterCommand1(wasRunning);
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
    addChartControls();
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

    serialForm_ = std::make_unique<Frm_RS232>(options_.makeSerialControl(), *form_, files_, *options_.clock,
                                              options_.locale);
    // After the receiver, which the serial host connected first: by then a
    // failure has been handled and its reason is known.
    connect(&serialForm_->MSComm1(), &SerialControl::OnComm, this,
            [this] { showReason(serialForm_->receiver().lastError()); });
    // Only stored here; the chart window draws it at its own pace.
    serialForm_->receiver().setSampleObserver([this](const RunRecord& record) { liveTrace_.append(record); });

    ports_ = std::make_unique<PortSelection>(*form_, serialForm_->MSComm1());
    ports_->setUpLists();
    runControl_ = std::make_unique<RunController>(*form_, serialForm_->MSComm1(), files_, directory,
                                                  options_.locale);
    return true;
}

void ZelvarApplication::Form_Unload()
{
    // The program ends all the same, whether the port closes or not.
    if (serialForm_)
        closePortQuietly(serialForm_->MSComm1());
    files_.CloseAll();
    if (charts_)
        charts_->close();
    options_.endProgram();
}

void ZelvarApplication::showReason(const QString& failure)
{
    // "Error!" alone says nothing of the cause; the status line's tool tip
    // does. It holds the reason of the handler that failed last, and none
    // beside any other status: a handler that succeeds leaves an "Error!"
    // with its reason as it was.
    QLabel* status = form_->label2Widget();
    if (!failure.isEmpty())
        status->setToolTip(failure);
    else if (form_->Label2().caption() != caption::kError)
        status->setToolTip(QString());
}

void ZelvarApplication::addChartControls()
{
    chartButton_ = new QPushButton(QStringLiteral("Curves"), form_.get());
    chartButton_->setObjectName(QStringLiteral("ChartButton"));
    chartButton_->setToolTip(QStringLiteral("Charts of the run and of its report (Ctrl+G)"));
    chartButton_->setGeometry(kChartButtonPlace);
    // The last stop of the window's focus order, after the interval box.
    QWidget::setTabOrder(form_->text1Widget(Box::Interval), chartButton_);
    connect(chartButton_, &QPushButton::clicked, this, &ZelvarApplication::showCharts);

    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), form_.get());
    shortcut->setObjectName(QStringLiteral("ChartShortcut"));
    connect(shortcut, &QShortcut::activated, this, &ZelvarApplication::showCharts);
}

ChartWindow& ZelvarApplication::charts()
{
    if (!charts_) {
        ChartWindowOptions options;
        options.applicationDirectory = options_.applicationDirectory;
        options.clock = options_.chartClock;
        charts_ = std::make_unique<ChartWindow>(liveTrace_, options);
        if (!form_->isRunning() && QFile::exists(reportPath()))
            charts_->showReport(reportPath());
    }
    return *charts_;
}

void ZelvarApplication::showCharts()
{
    ChartWindow& window = charts();
    if (form_->isRunning())
        window.showLive();
    window.show();
    window.raise();
    window.activateWindow();
}

void ZelvarApplication::afterCommand1(bool wasRunning)
{
    const QString status = form_->Label2().caption();
    if (!wasRunning && status == caption::kNowRunning) {
        liveTrace_.clear();
        if (charts_ && charts_->isVisible())
            charts_->showLive();
    } else if (wasRunning && status == caption::kNowReady) {
        // A Stop that wrote a report: its curves are what the operator came
        // for.
        const bool fresh = !charts_;
        ChartWindow& window = charts();
        if (!fresh)
            window.showReport(reportPath());
        window.show();
        window.raise();
    }
}

QString ZelvarApplication::reportPath() const
{
    return applicationFile(options_.applicationDirectory, QStringLiteral("save.csv"));
}

} // namespace zelvar
