#include "session/RunSession.h"

#include "archive/RunArchive.h"
#include "platform/FileSystem.h"
#include "platform/MainForm.h"
#include "platform/PortMap.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/RunRecord.h"

#include <QDateTime>
#include <QMetaObject>
#include <QTimer>

namespace zelvar::session {

std::optional<QString> StatusReasons::afterHandler(const QString& failure, bool showsError)
{
    if (!failure.isEmpty()) {
        noDataHint_.clear();
        return failure;
    }
    if (showsError)
        return std::nullopt;
    QStringList notices{noDataHint_, archiveNotice_};
    notices.removeAll(QString());
    return notices.join(QLatin1Char('\n'));
}

archive::RunValues runValuesOf(const FlywheelBoxes& boxes)
{
    const auto number = [](const std::optional<Decimal>& value) {
        return value ? std::optional<double>(value->toDouble()) : std::nullopt;
    };
    return {number(boxes.radiusMm), number(boxes.weightG), boxes.escNeutral, boxes.escFull, {}, {}};
}

RunSession::RunSession(MainForm& form, SerialControl& serial, FrameReceiver& receiver, RunController& control,
                       session::LiveTrace& trace, SessionOptions options)
    : form_(form), serial_(serial), receiver_(receiver), control_(control), options_(std::move(options)),
      liveTrace_(trace)
{
    measurer_.setMaxThreadCount(1);
    measurer_.setExpiryTimeout(-1);
    // Only stored here; the chart window draws it at its own pace.
    receiver_.setSampleObserver([this](const RunRecord& record) { liveTrace_.append(record); });
    // The archive reports from its worker thread; the window hears it on
    // its own.
    archive_ = std::make_unique<archive::RunArchive>(
        options_.dataDirectory,
        [this](const QString& notice) { onWindowThread([this, notice] { setArchiveNotice(notice); }); },
        [this] { onWindowThread([this] { Q_EMIT runsChanged(); }); });
}

RunSession::~RunSession()
{
    waitForMeasurement();
    archive_->waitForCopies();
    receiver_.setSampleObserver({});
}

void RunSession::onWindowThread(std::function<void()> action)
{
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

QString RunSession::reportPath() const
{
    return applicationFile(options_.dataDirectory, QString::fromLatin1(runfiles::kReportFileName));
}

RunOutcome RunSession::Command1_Click()
{
    const bool wasRunning = form_.isRunning();
    if (!wasRunning) {
        // The report of the run before is measured from save.csv, which
        // this run's Stop will replace.
        waitForMeasurement();
        // A run that never ended is kept before Start empties its run file,
        // also when this one is not to be archived: the run file holds the
        // killed run until the first Start after it, archived or not.
        archive_->beforeStart();
    }
    // Decided once for the Start: the setting may change during it.
    const bool archiving = !wasRunning && archiveWanted();
    const RunOutcome outcome = control_.Command1_Click();
    if (outcome.started()) {
        Q_EMIT readoutsStale(false);
        watchForFrames();
        if (archiving)
            archiveStart(outcome);
        liveTrace_.clear();
        Q_EMIT liveRunStarted();
    } else if (outcome.wasStop) {
        reasons_.clearNoDataHint();
        archiveEnd(valuesAtEnd(outcome.boxes), outcome.reportWritten(), outcome.reason);
    } else {
        reasons_.clearNoDataHint();
    }
    showReason(outcome.reason);
    Q_EMIT Command1_Done(outcome);
    return outcome;
}

void RunSession::afterReceive(const ReceiveOutcome& outcome)
{
    if (reasons_.hasNoDataHint() && receiver_.frameSeen())
        reasons_.clearNoDataHint();
    // A run that ended in "Error!" while recording: device pulled, disk
    // full, a frame the run cannot take.
    if (outcome.recovered)
        Q_EMIT readoutsStale(true);
    if (outcome.recovered && archive_->recording()) {
        archiveEnd(valuesAtEnd(outcome.boxes), false,
                   outcome.reason.isEmpty() ? QStringLiteral("the run ended in \"Error!\"") : outcome.reason);
    }
    showReason(outcome.reason);
}

void RunSession::afterPick(const PickOutcome& outcome)
{
    showReason(outcome.reason);
}

void RunSession::unload(const FlywheelBoxes& boxes)
{
    // A run still recorded keeps its records in its folder, though it never
    // ended.
    if (archive_->recording()) {
        archive::RunEnd end;
        end.ended = QDateTime::currentDateTime();
        end.ending = archive::Ending::Unfinished;
        end.values = valuesAtEnd(boxes);
        archive_->runEnded(end);
    }
    waitForMeasurement();
    archive_->waitForCopies();
}

archive::RunValues RunSession::valuesAtEnd(const std::optional<FlywheelBoxes>& boxes) const
{
    archive::RunValues values = boxes ? runValuesOf(*boxes) : archive::RunValues{};
    if (const auto sent = receiver_.dynoFlywheel()) {
        values.dynoRadiusMm = sent->radiusMm;
        values.dynoWeightG = sent->weightG;
    }
    return values;
}

void RunSession::waitForMeasurement()
{
    measurer_.waitForDone();
}

bool RunSession::archiveWanted() const
{
    return !options_.noArchive && archive::enabledInSettings();
}

void RunSession::archiveStart(const RunOutcome& outcome)
{
    archive_->runStarted({QDateTime::currentDateTime(), serial_.CommPort(), serial_.deviceName(), serial_.Settings(),
                          outcome.interval, options_.programVersion, archive::motorForRunsToCome()});
}

void RunSession::archiveEnd(const archive::RunValues& values, bool reportWritten, const QString& failure)
{
    QString folder;
    if (archive_->recording()) {
        archive::RunEnd end;
        end.ended = QDateTime::currentDateTime();
        end.ending = reportWritten ? archive::Ending::Stopped : archive::Ending::Error;
        end.reason = failure;
        end.values = values;
        // A failed Stop leaves the report of an earlier run.
        end.reportWritten = reportWritten;
        folder = archive_->runEnded(end);
    }
    if (reportWritten)
        measure(folder, values.typedMark());
}

void RunSession::measure(const QString& folder, const QString& typed)
{
    // The report is read for the charts and measured in one go; the figures
    // go into run.json behind the run's copies, and the reading to the
    // window, which draws it.
    const QString path = reportPath();
    archive::RunArchive* archive = archive_.get();
    measurer_.start([this, path, folder, archive, typed] {
        curves::ReportReading reading = curves::readAndMeasure(path);
        if (!folder.isEmpty() && reading.figures)
            archive->recordFigures(folder, *reading.figures);
        onWindowThread(
            [this, reading = std::move(reading), typed, folder] { Q_EMIT reportRead(reading, typed, folder); });
    });
}

void RunSession::watchForFrames()
{
    receiver_.forgetFrames();
    reasons_.clearNoDataHint();
    const unsigned run = ++runNumber_;
    const auto ended = [this, run] { frameWatchEnded(run); };
    if (options_.startTimer)
        options_.startTimer(kNoDataDelay, ended);
    else
        QTimer::singleShot(kNoDataDelay, this, ended);
}

void RunSession::frameWatchEnded(unsigned run)
{
    // Bytes at a wrong line speed arrive but make no frame: what counts is a
    // frame, not an arrival.
    if (run != runNumber_ || !form_.isRunning() || receiver_.frameSeen())
        return;
    const int port = serial_.CommPort();
    portmap::Resolution resolution = portmap::resolve(port);
    // The device open now, which a map saved since Start no longer names.
    resolution.device = serial_.deviceName();
    reasons_.setNoDataHint(portmap::noDataHint(port, resolution, static_cast<int>(kNoDataDelay.count() / 1000)));
    showReason(QString());
}

void RunSession::showReason(const QString& failure)
{
    if (const std::optional<QString> toolTip = reasons_.afterHandler(failure, form_.showsError()))
        Q_EMIT statusToolTipChanged(*toolTip);
}

void RunSession::setArchiveNotice(const QString& notice)
{
    reasons_.setArchiveNotice(notice);
    showReason(QString());
}

} // namespace zelvar::session
