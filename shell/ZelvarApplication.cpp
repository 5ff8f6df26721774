#include "shell/ZelvarApplication.h"

#include "archive/RunArchive.h"
#include "charts/ChartWindow.h"
#include "link/FrameReceiver.h"
#include "link/PortSelection.h"
#include "platform/FlywheelBoxes.h"
#include "platform/Recovery.h"
#include "platform/SerialControl.h"
#include "records/DiskSync.h"
#include "records/RunFiles.h"
#include "run/RunController.h"
#include "session/RunSession.h"
#include "shell/Frm_RS232.h"
#include "shell/NorvDynoData.h"
#include "shell/PortControls.h"
#include "shell/QtMessageBox.h"
#include "shell/StartUp.h"

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
        options_.makeSerialControl = [] { return makeSystemSerialControl(); };
    if (!options_.messageBox) {
        ownMessageBox_ = std::make_unique<QtMessageBox>();
        options_.messageBox = ownMessageBox_.get();
    }
    if (!options_.clock)
        options_.clock = &systemClock_;
    if (!options_.endProgram)
        options_.endProgram = [] { QCoreApplication::quit(); };

    connect(form_.get(), &NorvDynoData::Command1_Click, this, [this] {
        if (!session_)
            return;
        session_->Command1_Click();
        portControls_->updatePortToolTips();
    });
    connect(form_.get(), &NorvDynoData::Combo1_Click, this, [this] {
        if (!ports_)
            return;
        session_->afterPick(ports_->Combo1_Click());
        portControls_->updatePortToolTips();
    });
    connect(form_.get(), &NorvDynoData::Combo2_Click, this, [this] {
        if (ports_)
            session_->afterPick(ports_->Combo2_Click());
    });
    connect(form_.get(), &NorvDynoData::Form_Unload, this, &ZelvarApplication::Form_Unload);
    addChartControls();
    portControls_ = std::make_unique<PortControls>(
        *form_, [this] { return serialForm_ ? serialForm_->MSComm1().CommPort() : SerialControl::kDefaultPort; },
        options_.serialDevices);
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
    SerialControl& serial = serialForm_->MSComm1();
    ports_ = std::make_unique<PortSelection>(*form_, serial);
    ports_->setUpLists();
    portControls_->updatePortToolTips();
    runControl_ = std::make_unique<RunController>(*form_, serial, files_, directory, options_.locale);
    // The run file goes to the disk within a second of every record, so that
    // a power cut in the middle of a run loses at most that second.
    diskSync_ = std::make_unique<DiskSync>(files_, runfiles::kRunFileNumber);
    diskSync_->start();
    session_ = std::make_unique<session::RunSession>(*form_, serial, serialForm_->receiver(), *runControl_, liveTrace_,
                                                     session::SessionOptions{directory, options_.noArchive,
                                                                             QCoreApplication::applicationVersion(),
                                                                             options_.startTimer});
    connectSession();
    return true;
}

void ZelvarApplication::connectSession()
{
    connect(serialForm_.get(), &Frm_RS232::MSComm1_Received, session_.get(), &session::RunSession::afterReceive);
    connect(session_.get(), &session::RunSession::statusToolTipChanged, form_.get(), &NorvDynoData::showStatusReason);
    connect(session_.get(), &session::RunSession::readoutsStale, form_.get(), &NorvDynoData::setReadoutsStale);
    connect(session_.get(), &session::RunSession::liveRunStarted, this, [this] {
        if (charts_ && charts_->isVisible())
            charts_->showLive();
    });
    // A Stop that wrote a report: its curves are what the operator came for.
    connect(session_.get(), &session::RunSession::reportRead, this,
            [this](const curves::ReportReading& reading, const QString& typed, const QString& folder) {
                ChartWindow& window = charts();
                window.showReading(reading, {QString(), folder, typed});
                window.show();
                window.raise();
            });
    connect(session_.get(), &session::RunSession::runsChanged, this, [this] {
        if (charts_)
            charts_->refreshRuns();
    });
}

void ZelvarApplication::Form_Unload()
{
    // Read before anything closes: a run still recorded is kept with them.
    const FlywheelBoxes boxes = readFlywheelBoxes(*form_, options_.locale);
    // The program ends all the same, whether the port closes or not.
    if (serialForm_)
        closePortQuietly(serialForm_->MSComm1());
    files_.CloseAll();
    if (session_)
        session_->unload(boxes);
    if (charts_)
        charts_->close();
    options_.endProgram();
}

PortDialog* ZelvarApplication::portDialog()
{
    return portControls_->portDialog();
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
        options.runs.archiveOffForThisStart = options_.noArchive;
        // Notes wait behind the archive's copies, which write the same
        // run.json files.
        if (session_)
            options.runs.setNote = [this](const QString& folder, const QString& note) {
                session_->archive()->setNote(folder, note);
            };
        if (session_)
            options.runs.setMotor = [this](const QString& folder, const archive::RunMotor& motor) {
                session_->archive()->setMotor(folder, motor);
            };
        charts_ = std::make_unique<ChartWindow>(liveTrace_, options);
    }
    return *charts_;
}

void ZelvarApplication::showCharts()
{
    const bool fresh = !charts_;
    ChartWindow& window = charts();
    const QString report = applicationFile(options_.applicationDirectory,
                                           QString::fromLatin1(runfiles::kReportFileName));
    if (form_->isRunning())
        window.showLive();
    else if (fresh && QFile::exists(report))
        window.showReport(report);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace zelvar
