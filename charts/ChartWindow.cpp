#include "charts/ChartWindow.h"

#include "archive/RunJson.h"
#include "charts/ChartPlots.h"
#include "charts/MotorSummary.h"
#include "records/RunFiles.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>

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

QChartView* makeView(const QString& name, QWidget* parent)
{
    auto* view = new QChartView(parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(480, 240);
    return view;
}

void replaceChart(QChartView* view, QChart* chart)
{
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

// A live axis from 0 to a round number at or above `highest` (at least
// `least`, so that an empty trace has a scale), in 3 to 7 round steps: the
// operator reads the trace against round numbers, and they move only when the
// run outgrows them.
void setRoundScale(QValueAxis* axis, double highest, double least)
{
    const double top = std::max(highest, least);
    const double decade = std::pow(10.0, std::floor(std::log10(top / 3)));
    double step = decade;
    for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = factor * decade;
        if (top / step <= 7)
            break;
    }
    const double steps = std::ceil(top / step - 1e-9);
    axis->setRange(0.0, steps * step);
    axis->setTickCount(static_cast<int>(steps) + 1);
}

} // namespace

ChartWindow::ChartWindow(const session::LiveTrace& trace, ChartWindowOptions options, QWidget* parent)
    : QWidget(parent), trace_(trace), options_(std::move(options))
{
    setObjectName(QStringLiteral("ChartWindow"));
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(900, 720);

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("ChartTabs"));

    liveView_ = makeView(QStringLiteral("LiveChartView"), tabs_);
    auto* live = new QChart;
    live->setAnimationOptions(QChart::NoAnimation);
    live->setTitle(QStringLiteral("<b>Live: RPM and input power against run time</b>"));
    live->legend()->setAlignment(Qt::AlignBottom);
    rpmSeries_ = new QLineSeries;
    rpmSeries_->setName(QStringLiteral("RPM"));
    rpmSeries_->setPen(QPen(QColor(20, 60, 160), 2.0));
    inputPowerSeries_ = new QLineSeries;
    inputPowerSeries_->setName(QStringLiteral("Input power (W)"));
    inputPowerSeries_->setPen(QPen(QColor(200, 85, 0), 2.0));
    timeAxis_ = new QValueAxis;
    timeAxis_->setTitleText(QStringLiteral("Run time (s)"));
    rpmAxis_ = new QValueAxis;
    rpmAxis_->setTitleText(QStringLiteral("RPM"));
    inputPowerAxis_ = new QValueAxis;
    inputPowerAxis_->setTitleText(QStringLiteral("Input power (W)"));
    for (QValueAxis* axis : {timeAxis_, rpmAxis_, inputPowerAxis_})
        axis->setLabelFormat(QStringLiteral("%g"));
    live->addAxis(timeAxis_, Qt::AlignBottom);
    live->addAxis(rpmAxis_, Qt::AlignLeft);
    live->addAxis(inputPowerAxis_, Qt::AlignRight);
    live->addSeries(rpmSeries_);
    live->addSeries(inputPowerSeries_);
    rpmSeries_->attachAxis(timeAxis_);
    rpmSeries_->attachAxis(rpmAxis_);
    inputPowerSeries_->attachAxis(timeAxis_);
    inputPowerSeries_->attachAxis(inputPowerAxis_);
    replaceChart(liveView_, live);
    tabs_->addTab(liveView_, QStringLiteral("Live"));

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
    spinUps_->setMinimumContentsLength(48);
    auto* overlaySpinUp = new QPushButton(QStringLiteral("Draw over"), reportPage);
    overlaySpinUp->setObjectName(QStringLiteral("OverlaySpinUpButton"));
    overlaySpinUp->setToolTip(QStringLiteral("Draw the spin-up picked in the list over the one on show"));
    spinUpRow->addWidget(spinUpLabel);
    spinUpRow->addWidget(spinUps_, 1);
    spinUpRow->addWidget(overlaySpinUp);
    reportLayout->addLayout(spinUpRow);
    torquePowerView_ = makeView(QStringLiteral("TorquePowerChartView"), reportPage);
    efficiencyView_ = makeView(QStringLiteral("EfficiencyChartView"), reportPage);
    reportLayout->addWidget(torquePowerView_, 3);
    reportLayout->addWidget(efficiencyView_, 2);
    // The motor's figures beside the curves (charts/MotorSummary.h).
    auto* summary = new QLabel(reportPage);
    summary->setObjectName(QStringLiteral("MotorSummary"));
    summary->setTextFormat(Qt::PlainText);
    summary->setWordWrap(true);
    summary->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    reportLayout->addWidget(summary);
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
    buttons->addWidget(status_, 1);
    buttons->addWidget(progress_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);

    connect(addOverlays, &QPushButton::clicked, this, &ChartWindow::chooseOverlays);
    connect(clear, &QPushButton::clicked, this, &ChartWindow::clearOverlays);
    connect(save, &QPushButton::clicked, this, &ChartWindow::chooseImageFile);
    connect(spinUps_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && (!report_ || report_->spinUp != static_cast<std::size_t>(index)))
            showSpinUp(static_cast<std::size_t>(index));
    });
    connect(overlaySpinUp, &QPushButton::clicked, this, [this] {
        if (spinUps_->currentIndex() >= 0)
            addSpinUpOverlay(static_cast<std::size_t>(spinUps_->currentIndex()));
    });

    connect(runBrowser_, &RunBrowser::showRequested, this, &ChartWindow::showRun);
    connect(runBrowser_, &RunBrowser::overlayRequested, this, &ChartWindow::drawRunsOver);
    connect(runBrowser_, &RunBrowser::statusChanged, this, &ChartWindow::setStatus);
    // The runs are read when first looked at, not with every window.
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == kRunsTab && !runBrowser_->listed() && !runBrowser_->reading())
            runBrowser_->refresh();
    });

    poll_ = new QTimer(this);
    poll_->setInterval(kPollInterval);
    poll_->setTimerType(Qt::PreciseTimer);
    connect(poll_, &QTimer::timeout, this, &ChartWindow::pollLive);

    redrawReport();
    redrawLive();
}

ChartWindow::~ChartWindow()
{
    // The reading writes its progress into the window.
    if (watcher_)
        watcher_->waitForFinished();
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

void ChartWindow::showReport(const QString& path, const QString& name, const QString& typed)
{
    readInBackground({{path, {}, true}}, [this, name, typed](std::vector<curves::ReportReading> readings) {
        showReading(readings.front(), name, typed);
    });
}

bool ChartWindow::showReading(const curves::ReportReading& reading, const QString& name, const QString& typed)
{
    if (!reading.read()) {
        setStatus(QStringLiteral("Cannot show the report: %1").arg(reading.failure));
        return false;
    }
    report_ = reading.curves;
    figures_ = reading.figures;
    if (!name.isEmpty())
        report_->name = name;
    reportPath_ = reading.path;
    fillSpinUpList();
    redrawReport();
    tabs_->setCurrentIndex(kReportTab);
    const QString shown =
        QStringLiteral("Report %1: %2 records").arg(QDir::toNativeSeparators(reading.path)).arg(report_->records);
    setStatus(typed.isEmpty() ? shown : shown + QStringLiteral("; ") + typed);
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
            if (overlays_.size() >= static_cast<std::size_t>(charts::kMaxOverlays))
                failure = QStringLiteral("Not added: %1: at most %2 earlier reports are drawn; clear them first")
                              .arg(name.isEmpty() ? QFileInfo(overlays[k].path).fileName() : name)
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
    QString typed;
    try {
        typed = archive::readRunJson(folder).values().typedMark();
    } catch (const std::exception&) {
        // A run.json that cannot be read marks nothing; the list says why.
    }
    showReport(path, name, typed);
    return true;
}

void ChartWindow::drawRunsOver(const QStringList& folders)
{
    overlays_.clear();
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
            reads.push_back({path, name, {}});
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

void ChartWindow::refreshRuns()
{
    runBrowser_->refresh();
}

void ChartWindow::clearOverlays()
{
    overlays_.clear();
    redrawReport();
    setStatus(QStringLiteral("Earlier reports cleared"));
}

bool ChartWindow::saveImage(const QString& path)
{
    bool saved = false;
    if (showsLive()) {
        saved = liveView_->grab().save(path, "PNG");
    } else {
        const curves::ReportCurves none;
        saved = charts::saveReportCharts(path, report_ ? *report_ : none, overlays_);
    }
    setStatus(saved ? QStringLiteral("Saved %1").arg(QDir::toNativeSeparators(path))
                    : QStringLiteral("Cannot write the image %1").arg(QDir::toNativeSeparators(path)));
    return saved;
}

void ChartWindow::pollLive()
{
    if (!showsLive())
        return;
    if (limiter_.take(now(), trace_.version() != drawnVersion_))
        redrawLive();
}

void ChartWindow::redrawLive()
{
    const std::vector<session::TracePoint>& points = trace_.points();
    std::vector<QPointF> rpm;
    std::vector<QPointF> power;
    rpm.reserve(points.size());
    power.reserve(points.size());
    double lastTime = 0.0, topRpm = 0.0, topPower = 0.0;
    for (const session::TracePoint& p : points) {
        rpm.emplace_back(p.runTime, p.rpm);
        power.emplace_back(p.runTime, p.inputPower);
        lastTime = std::max(lastTime, p.runTime);
        topRpm = std::max(topRpm, p.rpm);
        topPower = std::max(topPower, p.inputPower);
    }
    const std::vector<QPointF> rpmShown = curves::downsample(rpm, kMaxLivePoints);
    const std::vector<QPointF> powerShown = curves::downsample(power, kMaxLivePoints);
    rpmSeries_->replace(QList<QPointF>(rpmShown.begin(), rpmShown.end()));
    inputPowerSeries_->replace(QList<QPointF>(powerShown.begin(), powerShown.end()));
    setRoundScale(timeAxis_, lastTime, 1.0);
    setRoundScale(rpmAxis_, topRpm, 1000.0);
    setRoundScale(inputPowerAxis_, topPower, 10.0);

    drawnVersion_ = trace_.version();
    ++liveRedraws_;
    if (showsLive()) {
        setStatus(points.empty() ? QStringLiteral("No samples yet: the trace starts with the next Start")
                                 : QStringLiteral("Live: %1 samples, %2 s of run time")
                                       .arg(trace_.appended())
                                       .arg(QLocale::c().toString(points.back().runTime, 'f', 2)));
    }
}

void ChartWindow::redrawReport()
{
    const curves::ReportCurves none;
    const curves::ReportCurves& shown = report_ ? *report_ : none;
    const curves::MotorFigures* figures = report_ && figures_ ? &*figures_ : nullptr;
    replaceChart(torquePowerView_, charts::makeTorquePowerChart(shown, overlays_, figures));
    replaceChart(efficiencyView_, charts::makeEfficiencyChart(shown, overlays_));
    if (auto* summary = findChild<QLabel*>(QStringLiteral("MotorSummary")))
        summary->setText(figures ? charts::summaryText(*figures) : QString());
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
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save the charts as an image"),
                                     QDir(options_.applicationDirectory).filePath(QStringLiteral("curves.png")),
                                     QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        path += QLatin1String(".png");
    saveImage(path);
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

QChart* ChartWindow::liveChart() const
{
    return liveView_->chart();
}

QChart* ChartWindow::torquePowerChart() const
{
    return torquePowerView_->chart();
}

QChart* ChartWindow::efficiencyChart() const
{
    return efficiencyView_->chart();
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
