#include "charts/ChartWindow.h"

#include "archive/RunJson.h"
#include "charts/AxisScale.h"
#include "charts/ChartPlots.h"
#include "charts/MotorSummary.h"
#include "charts/PlotNavigation.h"
#include "charts/Readout.h"
#include "charts/UnitChoice.h"
#include "records/RunFiles.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "charts/Plot.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>

namespace zelvar {

namespace {

// Points per live series: more than a chart's width in pixels shows nothing
// more and costs drawing time.
constexpr std::size_t kMaxLivePoints = 2000;
constexpr int kLiveTab = 0;
constexpr int kReportTab = 1;
constexpr int kRunsTab = 2;
// A reading shorter than this passes without a progress bar flashing up.
constexpr std::chrono::milliseconds kProgressAfter{500};
// The figures' table and the read-out beside the plots.
constexpr int kSidePanelWidth = 260;

QCustomPlot* makePlot(const QString& name, QWidget* parent)
{
    auto* plot = new QCustomPlot(parent);
    plot->setObjectName(name);
    // Small enough that a 1366 x 768 screen holds the window with both
    // report plots; they take whatever more there is.
    plot->setMinimumSize(320, 150);
    return plot;
}

void setScale(QCPAxis* axis, const charts::RoundScale& scale)
{
    auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
    ticker->setTickStep(scale.step);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    axis->setTicker(ticker);
    axis->setRange(scale.lo, scale.hi);
}

// An archived run as legends name it: its note, else its start; the
// folder's name when its run.json cannot be read.
QString runNameOf(const QString& folder)
{
    try {
        const archive::RunJson run = archive::readRunJson(folder);
        return charts::runLabel(run.note(), run.startedAt().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    } catch (const std::exception&) {
        return QFileInfo(folder).fileName();
    }
}

} // namespace

ChartWindow::ChartWindow(const session::LiveTrace& trace, ChartWindowOptions options, QWidget* parent)
    : QWidget(parent), trace_(trace), options_(std::move(options))
{
    setObjectName(QStringLiteral("ChartWindow"));
    setWindowTitle(QString::fromLatin1(kCaption));
    // Fits a 1366 x 768 screen with its task bar and title bar.
    resize(1000, 660);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("ChartTabs"));

    auto* livePage = new QWidget(tabs_);
    auto* liveLayout = new QVBoxLayout(livePage);
    liveLayout->setContentsMargins(0, 0, 0, 0);
    auto* liveRow = new QHBoxLayout;
    pause_ = new QPushButton(QStringLiteral("Pause"), livePage);
    pause_->setObjectName(QStringLiteral("LivePauseButton"));
    pause_->setCheckable(true);
    pause_->setToolTip(QStringLiteral("Hold the trace to scroll back and zoom; recording goes on"));
    liveRow->addWidget(pause_);
    auto* liveHint = new QLabel(QStringLiteral("Wheel: zoom · drag: pan · Shift+drag: zoom to a box · "
                                               "double-click: whole run"),
                                livePage);
    liveHint->setObjectName(QStringLiteral("LiveHint"));
    liveRow->addWidget(liveHint, 1);
    liveLayout->addLayout(liveRow);
    livePlot_ = makePlot(QStringLiteral("LiveChartView"), livePage);
    livePlot_->setAntialiasedElements(QCP::aeAll);
    auto* liveTitle = new QCPTextElement(livePlot_, QStringLiteral("Live: RPM and input power against run time"),
                                         QFont(livePlot_->font().family(), 11, QFont::Bold));
    livePlot_->plotLayout()->insertRow(0);
    livePlot_->plotLayout()->addElement(0, 0, liveTitle);
    charts::putLegendBelowAxes(*livePlot_);
    QCPGraph* rpm = livePlot_->addGraph(livePlot_->xAxis, livePlot_->yAxis);
    rpm->setName(QStringLiteral("RPM"));
    rpm->setPen(QPen(QColor(20, 60, 160), 2.0));
    QCPGraph* power = livePlot_->addGraph(livePlot_->xAxis, livePlot_->yAxis2);
    power->setName(QStringLiteral("Input power (W)"));
    power->setPen(QPen(QColor(200, 85, 0), 2.0));
    livePlot_->xAxis->setLabel(QStringLiteral("Run time (s)"));
    livePlot_->yAxis->setLabel(QStringLiteral("Speed (RPM)"));
    livePlot_->yAxis2->setLabel(QStringLiteral("Input power (W)"));
    livePlot_->yAxis2->setVisible(true);
    // One grid: the power axis has as many steps as the speed axis, so its
    // ticks sit on the same lines.
    livePlot_->yAxis2->grid()->setVisible(false);
    liveNavigation_ = new charts::PlotNavigation(*livePlot_);
    liveLayout->addWidget(livePlot_, 1);
    tabs_->addTab(livePage, QStringLiteral("Live"));

    auto* reportPage = new QWidget(tabs_);
    auto* reportLayout = new QVBoxLayout(reportPage);
    reportLayout->setContentsMargins(0, 0, 0, 0);
    auto* spinUpRow = new QHBoxLayout;
    auto* spinUpLabel = new QLabel(QStringLiteral("Spin-up:"), reportPage);
    spinUps_ = new QComboBox(reportPage);
    spinUps_->setObjectName(QStringLiteral("SpinUpList"));
    spinUps_->setToolTip(QStringLiteral("The spin-ups of this run: start, duration, top speed"));
    // Sized by a typical entry, not by measuring each of the thousands an
    // endurance run can list.
    spinUps_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    spinUps_->setMinimumContentsLength(30);
    auto* overlaySpinUp = new QPushButton(QStringLiteral("Draw over"), reportPage);
    overlaySpinUp->setObjectName(QStringLiteral("OverlaySpinUpButton"));
    overlaySpinUp->setToolTip(QStringLiteral("Draw the spin-up picked in the list over the one on show"));
    auto* whole = new QPushButton(QStringLiteral("Whole run"), reportPage);
    whole->setObjectName(QStringLiteral("WholeRunButton"));
    whole->setToolTip(QStringLiteral("Back to the whole run (or double-click a chart). Wheel: zoom, over an axis "
                                     "that axis alone; drag: pan; Shift+drag or right-drag: zoom to a box"));
    auto* notesButton = new QPushButton(QStringLiteral("Notes"), reportPage);
    notesButton->setObjectName(QStringLiteral("NotesButton"));
    notesButton->setCheckable(true);
    notesButton->setToolTip(QStringLiteral("How the curves were smoothed and corrected"));
    spinUpRow->addWidget(spinUpLabel);
    spinUpRow->addWidget(spinUps_, 1);
    spinUpRow->addWidget(overlaySpinUp);
    spinUpRow->addWidget(whole);
    spinUpRow->addWidget(notesButton);
    spinUpRow->addWidget(makeUnitsButton(reportPage));
    reportLayout->addLayout(spinUpRow);
    // How the curves were made gives way to the curves: a line that opens.
    notes_ = new QLabel(reportPage);
    notes_->setObjectName(QStringLiteral("ChartNotes"));
    notes_->setTextFormat(Qt::PlainText);
    notes_->setWordWrap(true);
    notes_->hide();
    reportLayout->addWidget(notes_);
    auto* plotsAndFigures = new QHBoxLayout;
    auto* plots = new QVBoxLayout;
    torquePowerPlot_ = makePlot(QStringLiteral("TorquePowerChartView"), reportPage);
    efficiencyPlot_ = makePlot(QStringLiteral("EfficiencyChartView"), reportPage);
    plots->addWidget(torquePowerPlot_, 1);
    plots->addWidget(efficiencyPlot_, 1);
    plotsAndFigures->addLayout(plots, 1);
    auto* side = new QVBoxLayout;
    // The motor's figures beside the curves (charts/MotorSummary.h).
    figuresTable_ = new QTableWidget(reportPage);
    figuresTable_->setObjectName(QStringLiteral("MotorSummary"));
    figuresTable_->verticalHeader()->hide();
    figuresTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    figuresTable_->setWordWrap(false);
    figuresTable_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    figuresTable_->setFixedWidth(kSidePanelWidth);
    figuresTable_->verticalHeader()->setDefaultSectionSize(figuresTable_->fontMetrics().height() + 4);
    // Values typed over the dyno's change every figure: said above them.
    typedMark_ = new QLabel(reportPage);
    typedMark_->setObjectName(QStringLiteral("TypedMark"));
    typedMark_->setTextFormat(Qt::PlainText);
    typedMark_->setWordWrap(true);
    typedMark_->setStyleSheet(QStringLiteral("color: #a04000; font-weight: bold"));
    typedMark_->setFixedWidth(kSidePanelWidth);
    typedMark_->hide();
    side->addWidget(typedMark_);
    side->addWidget(figuresTable_, 1);
    readout_ = new QLabel(reportPage);
    readout_->setObjectName(QStringLiteral("Readout"));
    readout_->setTextFormat(Qt::PlainText);
    readout_->setWordWrap(true);
    readout_->setFixedWidth(kSidePanelWidth);
    readout_->setMinimumHeight(3 * readout_->fontMetrics().height());
    readout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    readout_->setText(QStringLiteral("Move the mouse over a chart to read its curves"));
    side->addWidget(readout_);
    plotsAndFigures->addLayout(side);
    reportLayout->addLayout(plotsAndFigures, 1);
    torquePowerNavigation_ = new charts::PlotNavigation(*torquePowerPlot_);
    efficiencyNavigation_ = new charts::PlotNavigation(*efficiencyPlot_);
    tabs_->addTab(reportPage, QStringLiteral("Report"));

    runBrowser_ = new RunBrowser(options_.applicationDirectory, options_.runs, tabs_);
    tabs_->addTab(runBrowser_, QStringLiteral("Runs"));
    tabs_->setTabToolTip(kRunsTab, QStringLiteral("The runs kept in the runs folder"));

    auto* addOverlays = new QPushButton(QStringLiteral("Add earlier reports..."), this);
    addOverlays->setObjectName(QStringLiteral("AddOverlayButton"));
    addOverlays->setToolTip(QStringLiteral("Draw up to %1 earlier reports over this one").arg(charts::kMaxOverlays));
    auto* clear = new QPushButton(QStringLiteral("Clear earlier reports"), this);
    clear->setObjectName(QStringLiteral("ClearOverlaysButton"));
    auto* save = new QPushButton(QStringLiteral("Save image..."), this);
    save->setObjectName(QStringLiteral("SaveImageButton"));
    save->setToolTip(QStringLiteral("Write the charts on show to a PNG file"));
    auto* sheet = new QPushButton(QStringLiteral("Save run sheet..."), this);
    sheet->setObjectName(QStringLiteral("SaveSheetButton"));
    sheet->setToolTip(QStringLiteral("Write a one-page PDF of the report on show: the run, the rig, the motor's "
                                     "figures and the charts"));
    reportButtons_ = {addOverlays, clear, sheet};
    saveImageButton_ = save;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("ChartStatus"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("ChartProgress"));
    progress_->setRange(0, 0); // the records to come are not known
    progress_->setTextVisible(true);
    progress_->hide();
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(100);
    connect(progressTimer_, &QTimer::timeout, this, &ChartWindow::showProgress);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addOverlays);
    buttons->addWidget(clear);
    buttons->addWidget(save);
    buttons->addWidget(sheet);
    buttons->addWidget(status_, 1);
    buttons->addWidget(progress_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);

    connect(addOverlays, &QPushButton::clicked, this, &ChartWindow::chooseOverlays);
    connect(clear, &QPushButton::clicked, this, &ChartWindow::clearOverlays);
    connect(save, &QPushButton::clicked, this, &ChartWindow::chooseImageFile);
    connect(sheet, &QPushButton::clicked, this, [this] { chooseSheetFile({}); });
    connect(spinUps_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && (!report_ || report_->spinUp != static_cast<std::size_t>(index)))
            showSpinUp(static_cast<std::size_t>(index));
    });
    connect(overlaySpinUp, &QPushButton::clicked, this, [this] {
        if (spinUps_->currentIndex() >= 0)
            addSpinUpOverlay(static_cast<std::size_t>(spinUps_->currentIndex()));
    });
    connect(whole, &QPushButton::clicked, this, &ChartWindow::showWholeRun);
    connect(notesButton, &QPushButton::toggled, notes_, &QLabel::setVisible);
    connect(pause_, &QPushButton::toggled, this, &ChartWindow::pauseLive);
    // Scrolling the live trace back holds it, as Pause does.
    connect(liveNavigation_, &charts::PlotNavigation::moved, this, [this] { pauseLive(true); });
    for (QCustomPlot* plot : {torquePowerPlot_, efficiencyPlot_})
        connect(plot, &QCustomPlot::mouseMove, this, [this, plot](QMouseEvent* event) { followMouse(*plot, event); });

    connect(runBrowser_, &RunBrowser::showRequested, this, &ChartWindow::showRun);
    connect(runBrowser_, &RunBrowser::overlayRequested, this, &ChartWindow::drawRunsOver);
    connect(runBrowser_, &RunBrowser::sheetRequested, this, &ChartWindow::chooseSheetFile);
    connect(runBrowser_, &RunBrowser::statusChanged, this, &ChartWindow::setStatus);
    connect(runBrowser_, &RunBrowser::runDeleted, this, &ChartWindow::forgetRun);
    connect(runBrowser_, &RunBrowser::analyseRequested, this, &ChartWindow::analyseRun);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        showButtonsFor(index);
        // The runs are read when first looked at, not with every window.
        if (index == kRunsTab && !runBrowser_->listed() && !runBrowser_->reading())
            runBrowser_->refresh();
    });

    poll_ = new QTimer(this);
    poll_->setInterval(kPollInterval);
    poll_->setTimerType(Qt::PreciseTimer);
    connect(poll_, &QTimer::timeout, this, &ChartWindow::pollLive);

    redrawReport();
    redrawLive();
    showButtonsFor(tabs_->currentIndex());
}

ChartWindow::~ChartWindow()
{
    // The reading writes its progress into the window.
    if (watcher_)
        watcher_->waitForFinished();
    if (analysis_)
        analysis_->waitForFinished();
}

bool ChartWindow::reading() const
{
    return watcher_ != nullptr;
}

std::chrono::milliseconds ChartWindow::now() const
{
    if (options_.clock)
        return options_.clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void ChartWindow::showLive()
{
    tabs_->setCurrentIndex(kLiveTab);
    limiter_.reset();
    pollLive();
}

void ChartWindow::readInBackground(std::vector<ReportRead> reads,
                                   std::function<void(std::vector<curves::ReportReading>)> done)
{
    waiting_.push_back({std::move(reads), std::move(done)});
    if (!reading())
        startNextReading();
}

void ChartWindow::startNextReading()
{
    ReadBatch batch = std::move(waiting_.front());
    waiting_.pop_front();
    records_ = 0;
    progressTicks_ = 0;
    progressShown_ = false;
    readingName_ = batch.reads.empty() ? QString() : QFileInfo(batch.reads.front().path).fileName();
    progressTimer_->start();
    watcher_ = std::make_unique<QFutureWatcher<std::vector<curves::ReportReading>>>();
    connect(watcher_.get(), &QFutureWatcherBase::finished, this, [this, done = std::move(batch.done)] {
        progressTimer_->stop();
        progress_->hide();
        std::vector<curves::ReportReading> readings = watcher_->result();
        watcher_.reset();
        // `done` may ask for another reading, which then starts at once.
        done(std::move(readings));
        if (!reading() && !waiting_.empty())
            startNextReading();
        if (!reading())
            Q_EMIT readingsDone();
    });
    watcher_->setFuture(QtConcurrent::run([this, reads = std::move(batch.reads)] {
        std::vector<curves::ReportReading> readings;
        for (const ReportRead& read : reads)
            readings.push_back(curves::readAndMeasure(read.path, read.request, read.measure, &records_));
        return readings;
    }));
}

void ChartWindow::showProgress()
{
    if (++progressTicks_ * progressTimer_->interval() < kProgressAfter.count())
        return;
    progressShown_ = true;
    progress_->setFormat(QStringLiteral("Reading %1: %2 records").arg(readingName_).arg(records_.load()));
    progress_->show();
}

void ChartWindow::showReport(const QString& path, const ReportSource& source)
{
    readInBackground({{path, {}, true}}, [this, source](std::vector<curves::ReportReading> readings) {
        showReading(readings.front(), source);
    });
}

bool ChartWindow::showReading(const curves::ReportReading& reading, const ReportSource& source)
{
    if (!reading.read()) {
        setStatus(QStringLiteral("Cannot show the report: %1").arg(reading.failure));
        return false;
    }
    report_ = reading.curves;
    figures_ = reading.figures;
    if (!source.name.isEmpty())
        report_->name = source.name;
    reportPath_ = reading.path;
    runFolder_ = source.folder;
    typedMark_->setText(source.typed.isEmpty() ? QString() : QStringLiteral("Flywheel values typed: ") + source.typed);
    typedMark_->setVisible(!source.typed.isEmpty());
    // The report on show is not drawn over itself.
    std::vector<curves::ReportCurves> kept;
    std::vector<OverlaySource> keptSources;
    for (std::size_t k = 0; k < overlays_.size(); ++k) {
        if (overlaySources_[k].path != reportPath_ || overlaySources_[k].spinUp) {
            kept.push_back(std::move(overlays_[k]));
            keptSources.push_back(overlaySources_[k]);
        }
    }
    overlays_ = std::move(kept);
    overlaySources_ = std::move(keptSources);
    fillSpinUpList();
    redrawReport();
    tabs_->setCurrentIndex(kReportTab);
    const QString shown =
        QStringLiteral("Report %1: %2 records").arg(QDir::toNativeSeparators(reading.path)).arg(report_->records);
    setStatus(source.typed.isEmpty() ? shown : shown + QStringLiteral("; ") + source.typed);
    return true;
}

bool ChartWindow::showSpinUp(std::size_t index)
{
    if (!report_ || index >= report_->spinUps.size()) {
        setStatus(QStringLiteral("No spin-up %1 in the report on show").arg(index + 1));
        return false;
    }
    curves::LoadRequest request;
    request.spinUp = index;
    readInBackground({{reportPath_, request, true}}, [this, index](std::vector<curves::ReportReading> readings) {
        curves::ReportReading& reading = readings.front();
        if (!reading.read()) {
            setStatus(QStringLiteral("Cannot show the spin-up: %1").arg(reading.failure));
            return;
        }
        report_ = std::move(reading.curves);
        figures_ = std::move(reading.figures);
        fillSpinUpList();
        redrawReport();
        tabs_->setCurrentIndex(kReportTab);
        setStatus(QStringLiteral("Report %1: %2").arg(report_->name, curves::describeSpinUp(report_->spinUps, index)));
    });
    return true;
}

bool ChartWindow::addSpinUpOverlay(std::size_t index)
{
    if (!report_ || index >= report_->spinUps.size()) {
        setStatus(QStringLiteral("Not added: no spin-up %1 in the report on show").arg(index + 1));
        return false;
    }
    addOverlays({{reportPath_, QStringLiteral("%1, spin-up %2").arg(report_->name).arg(index + 1), index}},
                sayAdded(QString()));
    return true;
}

void ChartWindow::fillSpinUpList()
{
    spinUps_->clear();
    if (!report_)
        return;
    for (std::size_t k = 0; k < report_->spinUps.size(); ++k)
        spinUps_->addItem(curves::describeSpinUp(report_->spinUps, k));
    if (report_->spinUp)
        spinUps_->setCurrentIndex(static_cast<int>(*report_->spinUp));
}

void ChartWindow::addOverlays(std::vector<OverlayRead> overlays,
                              std::function<void(bool added, const QString& firstFailure)> done)
{
    std::vector<ReportRead> reads;
    for (const OverlayRead& overlay : overlays) {
        curves::LoadRequest request;
        request.spinUp = overlay.spinUp;
        request.points = false;
        reads.push_back({overlay.path, request, false});
    }
    readInBackground(std::move(reads), [this, overlays = std::move(overlays),
                                        done = std::move(done)](std::vector<curves::ReportReading> readings) {
        QString firstFailure;
        bool any = false;
        for (std::size_t k = 0; k < readings.size(); ++k) {
            const QString& name = overlays[k].name;
            QString failure;
            const QString shownName = name.isEmpty() ? QFileInfo(overlays[k].path).fileName() : name;
            const auto same = [&](const OverlaySource& source) {
                return QFileInfo(source.path) == QFileInfo(overlays[k].path) && source.spinUp == overlays[k].spinUp;
            };
            const bool onShow = report_ && QFileInfo(reportPath_) == QFileInfo(overlays[k].path)
                             && (!overlays[k].spinUp || overlays[k].spinUp == report_->spinUp);
            if (onShow)
                failure = QStringLiteral("Not added: %1 is the report on show").arg(shownName);
            else if (std::any_of(overlaySources_.begin(), overlaySources_.end(), same))
                failure = QStringLiteral("Not added: %1 is drawn already").arg(shownName);
            else if (overlays_.size() >= static_cast<std::size_t>(charts::kMaxOverlays))
                failure = QStringLiteral("Not added: %1: at most %2 earlier reports are drawn; clear them first")
                              .arg(shownName)
                              .arg(charts::kMaxOverlays);
            else if (!readings[k].read())
                failure = QStringLiteral("Not added: %1").arg(readings[k].failure);
            if (!failure.isEmpty()) {
                if (firstFailure.isEmpty())
                    firstFailure = failure;
                continue;
            }
            if (!name.isEmpty())
                readings[k].curves->name = name;
            overlays_.push_back(std::move(*readings[k].curves));
            overlaySources_.push_back({overlays[k].path, overlays[k].spinUp});
            any = true;
        }
        done(any, firstFailure);
    });
}

std::function<void(bool, const QString&)> ChartWindow::sayAdded(const QString& what)
{
    return [this, what](bool added, const QString& firstFailure) {
        if (added)
            showOverlayAdded(what + overlays_.back().name);
        // The first thing that went wrong is what the operator needs to read.
        if (!firstFailure.isEmpty())
            setStatus(firstFailure);
    };
}

void ChartWindow::showOverlayAdded(const QString& what)
{
    redrawReport();
    tabs_->setCurrentIndex(kReportTab);
    setStatus(QStringLiteral("%1 added (%2 of %3)").arg(what).arg(overlays_.size()).arg(charts::kMaxOverlays));
}

void ChartWindow::addOverlay(const QString& path, const QString& name)
{
    addOverlays({{path, name, {}}}, sayAdded(QStringLiteral("Earlier report ")));
}

bool ChartWindow::showRun(const QString& folder)
{
    const QString path = QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName));
    const QString name = QFileInfo(folder).fileName();
    if (!QFileInfo::exists(path)) {
        setStatus(QStringLiteral("Run %1 has no report: it ended without one").arg(name));
        return false;
    }
    ReportSource source{runNameOf(folder), folder, QString()};
    try {
        source.typed = archive::readRunJson(folder).values().typedMark();
    } catch (const std::exception&) {
        // A run.json that cannot be read marks nothing; the list says why.
    }
    showReport(path, source);
    return true;
}

void ChartWindow::drawRunsOver(const QStringList& folders)
{
    overlays_.clear();
    overlaySources_.clear();
    QStringList withoutReport;
    int pastLimit = 0;
    std::vector<OverlayRead> reads;
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName));
        const QString name = QFileInfo(folder).fileName();
        if (!QFileInfo::exists(path))
            withoutReport << name;
        else if (reads.size() >= static_cast<std::size_t>(charts::kMaxOverlays))
            ++pastLimit;
        else
            reads.push_back({path, runNameOf(folder), {}});
    }
    addOverlays(std::move(reads), [this, folders, withoutReport, pastLimit](bool, const QString& firstFailure) {
        redrawReport();
        tabs_->setCurrentIndex(kReportTab);
        QStringList parts{
            QStringLiteral("%1 of %2 ticked runs drawn over the report").arg(overlays_.size()).arg(folders.size())};
        if (pastLimit > 0)
            parts << QStringLiteral("at most %1 are drawn at once").arg(charts::kMaxOverlays);
        if (!withoutReport.isEmpty())
            parts << QStringLiteral("no report in %1").arg(withoutReport.join(QStringLiteral(", ")));
        if (!firstFailure.isEmpty())
            parts << firstFailure;
        setStatus(parts.join(QStringLiteral("; ")));
    });
}

void ChartWindow::analyseRun(const QString& folder)
{
    const QString name = QFileInfo(folder).fileName();
    if (analysing()) {
        setStatus(QStringLiteral("Not analysed: %1: another run is being analysed").arg(name));
        return;
    }
    setStatus(QStringLiteral("Analysing run %1...").arg(name));
    analysis_ = std::make_unique<QFutureWatcher<session::FolderAnalysis>>();
    connect(analysis_.get(), &QFutureWatcherBase::finished, this, [this, folder, name] {
        const session::FolderAnalysis outcome = analysis_->result();
        analysis_.reset();
        if (!outcome.failure.isEmpty()) {
            setStatus(QStringLiteral("Run %1 not analysed: %2").arg(name, outcome.failure));
            return;
        }
        refreshRuns();
        showRun(folder);
    });
    analysis_->setFuture(QtConcurrent::run([folder] { return session::analyseRunFolder(folder); }));
}

void ChartWindow::refreshRuns()
{
    runBrowser_->refresh();
}

void ChartWindow::clearOverlays()
{
    overlays_.clear();
    overlaySources_.clear();
    redrawReport();
    setStatus(QStringLiteral("Earlier reports cleared"));
}

void ChartWindow::forgetRun(const QString& folder)
{
    const QString report = QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName));
    std::size_t kept = 0;
    for (std::size_t k = 0; k < overlays_.size(); ++k) {
        if (QFileInfo(overlaySources_[k].path).absoluteFilePath() == QFileInfo(report).absoluteFilePath())
            continue;
        overlays_[kept] = std::move(overlays_[k]);
        overlaySources_[kept] = overlaySources_[k];
        ++kept;
    }
    if (kept == overlays_.size())
        return;
    overlays_.resize(kept);
    overlaySources_.resize(kept);
    redrawReport();
}

QString ChartWindow::imageFileName() const
{
    if (showsLive() || !report_)
        return QStringLiteral("curves.png");
    // A run folder's name is its start; a report file is named by its own.
    const QString base = !runFolder_.isEmpty() ? QFileInfo(runFolder_).fileName()
                                               : QFileInfo(reportPath_).completeBaseName();
    return base + QStringLiteral("-curves.png");
}

bool ChartWindow::saveImage(const QString& path, double scale)
{
    bool saved = false;
    if (showsLive()) {
        saved = livePlot_->savePng(path, 0, 0, scale);
    } else {
        const curves::ReportCurves none;
        saved = charts::saveReportCharts(path, report_ ? *report_ : none, overlays_, heading(), scale);
    }
    setStatus(saved ? QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path))
                    : QStringLiteral("Cannot write the image %1").arg(QDir::toNativeSeparators(path)));
    return saved;
}

bool ChartWindow::saveSheet(const QString& path, charts::Paper paper)
{
    if (!report_) {
        setStatus(QStringLiteral("No report on show to put on a sheet"));
        return false;
    }
    const charts::SheetRun run{*report_, figures_ ? *figures_ : curves::measureMotor(*report_), reportPath_,
                               runFolder_};
    const QString failure = charts::writeRunSheet(path, {run}, paper);
    setStatus(failure.isEmpty() ? QStringLiteral("Saved the run sheet %1").arg(QDir::toNativeSeparators(path))
                                : QStringLiteral("No run sheet written: %1").arg(failure));
    return failure.isEmpty();
}

void ChartWindow::saveRunsSheet(const QStringList& folders, const QString& path, charts::Paper paper)
{
    QStringList withoutReport, read;
    int pastLimit = 0;
    std::vector<ReportRead> reads;
    for (const QString& folder : folders) {
        const QString report = QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName));
        if (!QFileInfo::exists(report))
            withoutReport << QFileInfo(folder).fileName();
        else if (reads.size() >= charts::kMaxSheetRuns)
            ++pastLimit;
        else {
            reads.push_back({report, {}, true});
            read << folder;
        }
    }
    QStringList leftOut;
    if (pastLimit > 0)
        leftOut << QStringLiteral("a sheet holds at most %1 runs").arg(charts::kMaxSheetRuns);
    if (!withoutReport.isEmpty())
        leftOut << QStringLiteral("no report in %1").arg(withoutReport.join(QStringLiteral(", ")));
    if (reads.empty()) {
        setStatus(QStringLiteral("No run sheet written: %1").arg(leftOut.join(QStringLiteral("; "))));
        return;
    }
    readInBackground(std::move(reads), [this, read, leftOut, path, paper](std::vector<curves::ReportReading> readings) {
        std::vector<charts::SheetRun> runs;
        QStringList parts = leftOut;
        for (std::size_t i = 0; i < readings.size(); ++i) {
            curves::ReportReading& r = readings[i];
            if (!r.read()) {
                parts << r.failure;
                continue;
            }
            curves::MotorFigures figures = r.figures ? std::move(*r.figures) : curves::measureMotor(*r.curves);
            runs.push_back({std::move(*r.curves), std::move(figures), r.path, read[static_cast<qsizetype>(i)]});
        }
        const QString failure = runs.empty() ? QStringLiteral("no report could be read")
                                             : charts::writeRunSheet(path, runs, paper);
        if (!failure.isEmpty())
            parts.prepend(QStringLiteral("No run sheet written: %1").arg(failure));
        else
            parts.prepend(QStringLiteral("Saved the %1 %2")
                              .arg(runs.size() == 1 ? QStringLiteral("run sheet")
                                                    : QStringLiteral("comparison sheet of %1 runs").arg(runs.size()),
                                   QDir::toNativeSeparators(path)));
        setStatus(parts.join(QStringLiteral("; ")));
    });
}

void ChartWindow::pollLive()
{
    if (!showsLive() || livePaused())
        return;
    if (limiter_.take(now(), trace_.version() != drawnVersion_))
        redrawLive();
}

void ChartWindow::pauseLive(bool paused)
{
    if (pause_->isChecked() != paused)
        pause_->setChecked(paused); // comes back here through the button
    else if (!paused) {
        limiter_.reset();
        redrawLive();
    } else
        setStatus(QStringLiteral("Live trace paused at %1 samples: recording goes on; Pause again to follow the run")
                      .arg(trace_.appended()));
}

bool ChartWindow::livePaused() const
{
    return pause_->isChecked();
}

void ChartWindow::redrawLive()
{
    const std::vector<session::TracePoint>& points = trace_.points();
    std::vector<QPointF> rpm;
    std::vector<QPointF> power;
    rpm.reserve(points.size());
    power.reserve(points.size());
    double topRpm = 0.0, topPower = 0.0;
    for (const session::TracePoint& p : points) {
        rpm.emplace_back(p.runTime, p.rpm);
        power.emplace_back(p.runTime, p.inputPower);
        topRpm = std::max(topRpm, p.rpm);
        topPower = std::max(topPower, p.inputPower);
    }
    const auto fill = [](QCPGraph* graph, const std::vector<QPointF>& all) {
        const std::vector<QPointF> shown = curves::downsample(all, kMaxLivePoints);
        QVector<double> keys(static_cast<qsizetype>(shown.size())), values(keys.size());
        for (qsizetype k = 0; k < keys.size(); ++k) {
            keys[k] = shown[static_cast<std::size_t>(k)].x();
            values[k] = shown[static_cast<std::size_t>(k)].y();
        }
        graph->setData(keys, values, true);
    };
    fill(livePlot_->graph(0), rpm);
    fill(livePlot_->graph(1), power);
    // From the run's first record, wherever the controller's clock stood.
    const double first = points.empty() ? 0.0 : points.front().runTime;
    const double last = points.empty() ? 0.0 : points.back().runTime;
    setScale(livePlot_->xAxis, charts::roundScale(first, last, 1.0));
    const charts::RoundScale rpmScale = charts::roundScale(0.0, topRpm, 1000.0);
    setScale(livePlot_->yAxis, rpmScale);
    setScale(livePlot_->yAxis2, charts::roundScale(0.0, topPower, 10.0, rpmScale.steps));
    liveNavigation_->rememberWhole();
    livePlot_->replot(QCustomPlot::rpQueuedReplot);

    drawnVersion_ = trace_.version();
    ++liveRedraws_;
    if (showsLive()) {
        setStatus(points.empty() ? QStringLiteral("No samples yet: the trace starts with the next Start")
                                 : QStringLiteral("Live: %1 samples, %2 s of run time")
                                       .arg(trace_.appended())
                                       .arg(QLocale::c().toString(last - first, 'f', 2)));
    }
}

void ChartWindow::redrawReport()
{
    const curves::ReportCurves none;
    const curves::ReportCurves& shown = report_ ? *report_ : none;
    const curves::MotorFigures* figures = report_ && figures_ ? &*figures_ : nullptr;
    charts::drawTorquePower(*torquePowerPlot_, shown, overlays_, figures, charts::Notes::InToolTip);
    charts::drawEfficiency(*efficiencyPlot_, shown, overlays_, figures, charts::Notes::InToolTip);
    for (QCustomPlot* plot : {torquePowerPlot_, efficiencyPlot_}) {
        auto* cursor = new QCPItemStraightLine(plot);
        cursor->setObjectName(QStringLiteral("ReadoutCursor"));
        cursor->setPen(QPen(QColor(90, 90, 90), 1.0, Qt::DotLine));
        cursor->setVisible(false);
    }
    torquePowerNavigation_->rememberWhole();
    efficiencyNavigation_->rememberWhole();
    torquePowerPlot_->replot();
    efficiencyPlot_->replot();
    notes_->setText(
        (charts::torquePowerText(shown, figures).notes + charts::efficiencyText(shown).notes).join(QLatin1Char('\n')));
    charts::fillFiguresTable(*figuresTable_, figures);
    // As wide as its columns, and no wider: the plots take the rest.
    const int width = std::max(kSidePanelWidth,
                               figuresTable_->horizontalHeader()->length() + 2 * figuresTable_->frameWidth() + 2);
    figuresTable_->setFixedWidth(width);
    readout_->setFixedWidth(width);
    typedMark_->setFixedWidth(width);
}

void ChartWindow::showWholeRun()
{
    torquePowerNavigation_->showWhole();
    efficiencyNavigation_->showWhole();
}

void ChartWindow::followMouse(QCustomPlot& plot, QMouseEvent* event)
{
    if (!plot.axisRect()->rect().contains(event->position().toPoint()))
        return;
    // The axis is in the shown speed unit; the read-out looks up RPM.
    showReadout(charts::shownUnits().speedUnit().toOwn(plot.xAxis->pixelToCoord(event->position().x())));
}

void ChartWindow::showReadout(double rpm)
{
    const curves::ReportCurves none;
    readoutRpm_ = rpm;
    const std::vector<charts::ReadoutRow> rows = charts::readoutAt(rpm, report_ ? *report_ : none, overlays_);
    readout_->setText(rows.empty() ? QStringLiteral("No smoothed curve to read") : charts::readoutText(rows));
    for (QCustomPlot* plot : {torquePowerPlot_, efficiencyPlot_}) {
        auto* cursor = plot->findChild<QCPItemStraightLine*>(QStringLiteral("ReadoutCursor"));
        if (!cursor)
            continue;
        const double x = charts::shownUnits().speedUnit().fromOwn(rows.empty() ? rpm : rows.front().point.rpm);
        cursor->point1->setCoords(x, 0.0);
        cursor->point2->setCoords(x, 1.0);
        cursor->setVisible(true);
        plot->replot(QCustomPlot::rpQueuedReplot);
    }
}

QPushButton* ChartWindow::makeUnitsButton(QWidget* parent)
{
    // The units chosen last time, for this window's read-out, charts,
    // figures and sheets.
    charts::setShownUnits(charts::readUnitSetting());
    auto* units = new QPushButton(QStringLiteral("Units"), parent);
    units->setObjectName(QStringLiteral("UnitsButton"));
    units->setToolTip(QStringLiteral("The units of torque, power and speed in the read-out, the charts, the figures "
                                     "and the sheets; the files keep theirs"));
    units->setMenu(charts::makeUnitsMenu(units, [this] {
        redrawReport();
        if (readoutRpm_)
            showReadout(*readoutRpm_);
    }));
    return units;
}

QString ChartWindow::readout() const
{
    return readout_->text();
}

void ChartWindow::chooseOverlays()
{
    const QStringList paths = QFileDialog::getOpenFileNames(this,
                                                            QStringLiteral("Earlier reports to draw over this one"),
                                                            options_.applicationDirectory,
                                                            QStringLiteral("Reports (*.csv);;All files (*)"));
    std::vector<OverlayRead> reads;
    for (const QString& path : paths)
        reads.push_back({path, QString(), {}});
    addOverlays(std::move(reads), sayAdded(QStringLiteral("Earlier report ")));
}

void ChartWindow::chooseImageFile()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the charts as an image"),
                                                QDir(options_.applicationDirectory).filePath(imageFileName()),
                                                QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QLatin1String(".png");
    saveImage(path);
}

void ChartWindow::chooseSheetFile(const QStringList& folders)
{
    const QString name = folders.isEmpty()
                           ? charts::sheetFileName(reportPath_, runFolder_)
                           : charts::sheetFileName({}, folders.constFirst(), static_cast<std::size_t>(folders.size()));
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the run sheet"),
                                                QDir(options_.applicationDirectory).filePath(name),
                                                QStringLiteral("PDF documents (*.pdf)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path += QLatin1String(".pdf");
    // Letter where the user's locale measures in inches, A4 elsewhere.
    const charts::Paper paper = QLocale().measurementSystem() == QLocale::ImperialUSSystem ? charts::Paper::Letter
                                                                                           : charts::Paper::A4;
    if (folders.isEmpty())
        saveSheet(path, paper);
    else
        saveRunsSheet(folders, path, paper);
}

void ChartWindow::setStatus(const QString& text)
{
    status_->setText(text);
}

QString ChartWindow::status() const
{
    return status_->text();
}

bool ChartWindow::showsLive() const
{
    return tabs_->currentIndex() == kLiveTab;
}

charts::RunHeading ChartWindow::heading() const
{
    // Read when asked: the archive may still be finishing the run.json of
    // the run a Stop just ended when its report is shown.
    return report_ ? charts::runHeading(report_->name, reportPath_, runFolder_) : charts::RunHeading{};
}

void ChartWindow::showButtonsFor(int tab)
{
    // The buttons below the tabs only where they do something: the Runs tab
    // has its own.
    for (QWidget* button : reportButtons_)
        button->setVisible(tab == kReportTab);
    saveImageButton_->setVisible(tab != kRunsTab);
}

void ChartWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    poll_->start();
}

void ChartWindow::hideEvent(QHideEvent* event)
{
    poll_->stop();
    QWidget::hideEvent(event);
}

} // namespace zelvar
