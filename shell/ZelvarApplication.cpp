#include "shell/ZelvarApplication.h"

#include "archive/RunArchive.h"
#include "charts/ChartWindow.h"
#include "link/FrameReceiver.h"
#include "link/PortSelection.h"
#include "platform/NumberText.h"
#include "platform/Recovery.h"
#include "platform/SerialControl.h"
#include "records/DiskSync.h"
#include "records/RunFiles.h"
#include "records/RunRecord.h"
#include "run/RunController.h"
#include "shell/Frm_RS232.h"
#include "shell/NorvDynoData.h"
#include "shell/PortDialog.h"
#include "shell/QtMessageBox.h"
#include "shell/StartUp.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

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
        // Read before the click: Stop blanks the boxes.
        const archive::RunValues values = wasRunning ? flywheelAndEscBoxes() : archive::RunValues{};
        // A run that never ended is kept before Start empties its run file,
        // also when this one is not to be archived: the run file holds the
        // killed run until the first Start after it, archived or not.
        if (!wasRunning)
            archive_->beforeStart();
        // Decided once for the Start: the setting may change during it.
        const bool archiving = !wasRunning && archiveWanted();
        runControl_->Command1_Click();
        if (form_->isRunning() && !wasRunning) {
            watchForFrames();
            if (archiving)
                archiveStart();
        } else if (!form_->isRunning()) {
            noDataHint_.clear();
            if (wasRunning)
                archiveEnd(values, runControl_->lastError());
        }
        showReason(runControl_->lastError());
        afterCommand1(wasRunning);
        updatePortToolTips();
    });
    connect(form_.get(), &NorvDynoData::Combo1_Click, this, [this] {
        if (!ports_)
            return;
        ports_->Combo1_Click();
        showReason(ports_->lastError());
        updatePortToolTips();
    });
    connect(form_.get(), &NorvDynoData::Combo2_Click, this, [this] {
        if (!ports_)
            return;
        ports_->Combo2_Click();
        showReason(ports_->lastError());
    });
    connect(form_.get(), &NorvDynoData::Form_Unload, this, &ZelvarApplication::Form_Unload);
    addChartControls();
    addPortControls();
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
    connect(&serialForm_->MSComm1(), &SerialControl::OnComm, this, [this] {
        if (!noDataHint_.isEmpty() && serialForm_->receiver().frameSeen())
            noDataHint_.clear();
        const QString failure = serialForm_->receiver().lastError();
        // A run that ended in "Error!" while recording: device pulled, disk
        // full, a frame the run cannot take.
        if (archive_ && archive_->recording() && !form_->isRunning())
            archiveEnd(flywheelAndEscBoxes(),
                       failure.isEmpty() ? QStringLiteral("the run ended in \"Error!\"") : failure);
        showReason(failure);
    });
    // Only stored here; the chart window draws it at its own pace.
    serialForm_->receiver().setSampleObserver([this](const RunRecord& record) { liveTrace_.append(record); });

    ports_ = std::make_unique<PortSelection>(*form_, serialForm_->MSComm1());
    ports_->setUpLists();
    updatePortToolTips();
    runControl_ = std::make_unique<RunController>(*form_, serialForm_->MSComm1(), files_, directory, options_.locale);
    // The run file goes to the disk within a second of every record, so that
    // a power cut in the middle of a run loses at most that second.
    diskSync_ = std::make_unique<DiskSync>(files_, runfiles::kRunFileNumber);
    diskSync_->start();
    // The archive reports from its worker thread; the window hears it on
    // its own.
    const auto onWindowThread = [this](std::function<void()> action) {
        QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
    };
    archive_ = std::make_unique<archive::RunArchive>(
        directory,
        [this, onWindowThread](const QString& notice) { onWindowThread([this, notice] { setArchiveNotice(notice); }); },
        [this, onWindowThread] {
            // The Runs tab reads the list again when a run.json changed.
            onWindowThread([this] {
                if (charts_)
                    charts_->refreshRuns();
            });
        });
    return true;
}

void ZelvarApplication::Form_Unload()
{
    // A run still recorded keeps its records in its folder, though it never
    // ended.
    const bool recording = archive_ && archive_->recording();
    const archive::RunValues values = recording ? flywheelAndEscBoxes() : archive::RunValues{};
    // The program ends all the same, whether the port closes or not.
    if (serialForm_)
        closePortQuietly(serialForm_->MSComm1());
    files_.CloseAll();
    if (recording) {
        archive::RunEnd end;
        end.ended = QDateTime::currentDateTime();
        end.ending = archive::Ending::Unfinished;
        end.values = values;
        archive_->runEnded(end);
        archive_->waitForCopies();
    }
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
    //
    // The no-data hint is a notice of ours, not a reason: it shows instead of
    // nothing, never beside "Error!", and a failure ends it.
    QLabel* status = form_->label2Widget();
    if (!failure.isEmpty()) {
        noDataHint_.clear();
        status->setToolTip(failure);
    } else if (form_->Label2().caption() != caption::kError) {
        QStringList notices{noDataHint_, archiveNotice_};
        notices.removeAll(QString());
        status->setToolTip(notices.join(QLatin1Char('\n')));
    }
}

void ZelvarApplication::setArchiveNotice(const QString& notice)
{
    archiveNotice_ = notice;
    showReason(QString());
}

bool ZelvarApplication::archiveWanted() const
{
    return archive_ && !options_.noArchive && archive::enabledInSettings();
}

void ZelvarApplication::archiveStart()
{
    const SerialControl& serial = serialForm_->MSComm1();
    archive_->runStarted({QDateTime::currentDateTime(), serial.CommPort(), serial.deviceName(), serial.Settings(),
                          form_->Text1(Box::Interval).text(), QCoreApplication::applicationVersion()});
}

void ZelvarApplication::archiveEnd(const archive::RunValues& values, const QString& failure)
{
    if (!archive_->recording())
        return;
    archive::RunEnd end;
    end.ended = QDateTime::currentDateTime();
    end.ending = failure.isEmpty() ? archive::Ending::Stopped : archive::Ending::Error;
    end.reason = failure;
    end.values = values;
    // A failed Stop leaves the report of an earlier run.
    end.reportWritten = failure.isEmpty();
    archive_->runEnded(end);
}

archive::RunValues ZelvarApplication::flywheelAndEscBoxes() const
{
    const auto number = [this](Box box) -> std::optional<double> {
        try {
            return readBox(form_->Text1(box).text(), options_.locale).toDouble();
        } catch (const std::exception&) {
            return std::nullopt; // blank, or not a number
        }
    };
    return {number(Box::FlywheelRadius), number(Box::FlywheelWeight), form_->Text1(Box::EscNeutral).text(),
            form_->Text1(Box::EscFull).text()};
}

void ZelvarApplication::addPortControls()
{
    // The window's own layout stays as it is: the dialog is reached through
    // the port list's context menu and a shortcut. A disabled list (during a
    // run) gets no context menu; the shortcut works at any time.
    auto* action = new QAction(QStringLiteral("Serial device for this COM port... (Ctrl+P)"), form_.get());
    action->setObjectName(QStringLiteral("PortDialogAction"));
    connect(action, &QAction::triggered, this, &ZelvarApplication::showPortDialog);
    QComboBox* ports = form_->combo1Widget();
    ports->addAction(action);
    ports->setContextMenuPolicy(Qt::ActionsContextMenu);
    // Adapters come and go while the program runs: the entries' tool tips
    // are brought up to date whenever the operator reaches for the list.
    ports->installEventFilter(this);

    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), form_.get());
    shortcut->setObjectName(QStringLiteral("PortDialogShortcut"));
    connect(shortcut, &QShortcut::activated, this, &ZelvarApplication::showPortDialog);
}

bool ZelvarApplication::eventFilter(QObject* watched, QEvent* event)
{
    // The list reports events while the window is being taken apart too, so
    // the window is asked nothing unless the operator reached for the list.
    const bool reached = event->type() == QEvent::Enter || event->type() == QEvent::MouseButtonPress
                      || event->type() == QEvent::KeyPress;
    if (reached && watched == form_->combo1Widget())
        updatePortToolTips();
    return QObject::eventFilter(watched, event);
}

int ZelvarApplication::selectedPort() const
{
    const int listed = PortSelection::numericValue(form_->combo1Widget()->currentText());
    if (listed >= 1)
        return listed;
    return serialForm_ ? serialForm_->MSComm1().CommPort() : SerialControl::kDefaultPort;
}

void ZelvarApplication::showPortDialog()
{
    if (!portDialog_) {
        auto devices = options_.serialDevices ? options_.serialDevices : [] { return portmap::presentDevices(); };
        portDialog_ = std::make_unique<PortDialog>(std::move(devices), form_.get());
        portDialog_->setWindowFlag(Qt::Window);
        // The port opens only at Start, and reads the map then: a device
        // saved while idle is what the next Start opens, one saved during a
        // run waits for the next Start. The tool tips follow at once.
        connect(portDialog_.get(), &PortDialog::mapChanged, this, &ZelvarApplication::updatePortToolTips);
    }
    portDialog_->showFor(selectedPort());
}

void ZelvarApplication::updatePortToolTips()
{
    QComboBox* ports = form_->combo1Widget();
    for (int i = 0; i < ports->count(); ++i) {
        const int port = PortSelection::numericValue(ports->itemText(i));
        if (port < 1)
            continue;
        try {
            const portmap::Resolution resolution = portmap::resolve(port);
            ports->setItemData(i, portmap::entryToolTip(port, resolution, portmap::devicePresent(resolution.device)),
                               Qt::ToolTipRole);
        } catch (const std::exception&) {
            // Not a port number the map knows; no tool tip.
        }
    }
}

void ZelvarApplication::watchForFrames()
{
    serialForm_->receiver().forgetFrames();
    noDataHint_.clear();
    const unsigned run = ++runNumber_;
    const auto ended = [this, run] { frameWatchEnded(run); };
    if (options_.startTimer)
        options_.startTimer(kNoDataDelay, ended);
    else
        QTimer::singleShot(kNoDataDelay, this, ended);
}

void ZelvarApplication::frameWatchEnded(unsigned run)
{
    // Bytes at a wrong line speed arrive but make no frame: what counts is a
    // frame, not an arrival.
    if (run != runNumber_ || !form_->isRunning() || serialForm_->receiver().frameSeen())
        return;
    SerialControl& serial = serialForm_->MSComm1();
    const int port = serial.CommPort();
    portmap::Resolution resolution = portmap::resolve(port);
    // The device open now, which a map saved since Start no longer names.
    resolution.device = serial.deviceName();
    noDataHint_ = portmap::noDataHint(port, resolution, static_cast<int>(kNoDataDelay.count() / 1000));
    showReason(QString());
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
        if (archive_)
            options.runs.setNote = [this](const QString& folder, const QString& note) {
                archive_->setNote(folder, note);
            };
        charts_ = std::make_unique<ChartWindow>(liveTrace_, options);
    }
    return *charts_;
}

void ZelvarApplication::showCharts()
{
    const bool fresh = !charts_;
    ChartWindow& window = charts();
    if (form_->isRunning())
        window.showLive();
    else if (fresh && QFile::exists(reportPath()))
        window.showReport(reportPath());
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
        // for, and the archive takes the motor's figures from them.
        ChartWindow& window = charts();
        if (window.showReport(reportPath()) && window.figures())
            archive_->recordFigures(*window.figures());
        window.show();
        window.raise();
    }
}

QString ZelvarApplication::reportPath() const
{
    return applicationFile(options_.applicationDirectory, QStringLiteral("save.csv"));
}

} // namespace zelvar
