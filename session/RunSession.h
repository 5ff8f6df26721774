#pragma once

#include "archive/RunJson.h"
#include "curves/ReportReading.h"
#include "link/FrameReceiver.h"
#include "link/PortSelection.h"
#include "run/RunController.h"
#include "session/LiveTrace.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <chrono>
#include <functional>
#include <memory>

namespace zelvar {

class MainForm;
class SerialControl;

namespace archive {
class RunArchive;
}

namespace session {

struct SessionOptions {
    // Where Temp.dat, save.csv and runs/ are.
    QString dataDirectory;
    // Keeps no run in the archive whatever the settings say (--no-archive).
    bool noArchive = false;
    QString programVersion;
    // Runs `action` once after `delay`, on the event loop; a QTimer when not
    // set. The watch for frames is the only user.
    std::function<void(std::chrono::milliseconds delay, std::function<void()> action)> startTimer;
};

// The status line's tool tip: the reason of the handler that failed last,
// and none beside any other status; a handler that succeeds leaves an
// "Error!" with its reason as it was. The notices (no frames yet, the
// archive's trouble) are not reasons: they show instead of nothing, never
// beside "Error!", and a failure ends the no-data one.
class StatusReasons {
public:
    // After a handler: its failure (empty when it worked) and whether the
    // window shows "Error!" now. Returns the tool tip to show, or nothing
    // when the one shown stays.
    std::optional<QString> afterHandler(const QString& failure, bool showsError);
    void setNoDataHint(const QString& hint) { noDataHint_ = hint; }
    void clearNoDataHint() { noDataHint_.clear(); }
    bool hasNoDataHint() const { return !noDataHint_.isEmpty(); }
    void setArchiveNotice(const QString& notice) { archiveNotice_ = notice; }

private:
    QString noDataHint_;
    QString archiveNotice_;
};

// The run's sequence around the handlers: what Start, Stop, a receive event
// that ends a run in "Error!" and the unload step do beyond the handlers
// themselves. The archive keeps every run; a run that hears no frame says
// so; after a Stop that wrote a report the motor's figures are measured off
// the window's thread, once, for both run.json and the charts; the live
// trace follows the run. None of it changes what the handlers do.
class RunSession final : public QObject {
    Q_OBJECT

public:
    // A run that gets no frame for this long after Start says so.
    static constexpr std::chrono::milliseconds kNoDataDelay{3000};

    // The receiver's samples go into `trace`, which is cleared at every
    // Start.
    RunSession(MainForm& form, SerialControl& serial, FrameReceiver& receiver, RunController& control,
               session::LiveTrace& trace, SessionOptions options);
    // Waits for a measurement and for the archive's copies still running.
    ~RunSession() override;

    // The Start/Stop button, with all that goes with it.
    RunOutcome Command1_Click();
    // After the receiver handled a receive event.
    void afterReceive(const ReceiveOutcome& outcome);
    // After a pick in the port or settings list.
    void afterPick(const PickOutcome& outcome);
    // The unload step's part, once the port and the files are closed: a run
    // still recorded is kept as unfinished with the boxes as they were, and
    // what is being measured or copied is waited for.
    void unload(const FlywheelBoxes& boxes);
    // Waits for the figures being measured, and for their run.json write.
    void waitForMeasurement();

    archive::RunArchive* archive() { return archive_.get(); }
    // The report the session reads after a Stop.
    QString reportPath() const;

Q_SIGNALS:
    // The button was clicked, with what the click did.
    void Command1_Done(const zelvar::RunOutcome& outcome);
    // The read-outs hold a failed run's last values (true), or a new run
    // began (false).
    void readoutsStale(bool stale);
    // The status line's tool tip changed.
    void statusToolTipChanged(const QString& toolTip);
    // Start worked: the live trace is empty and follows the run.
    void liveRunStarted();
    // The report a Stop wrote, read with its figures (or why it could not
    // be).
    // `typed` marks flywheel values typed over the dyno's (RunValues::typedMark);
    // `folder` is the run's in the archive, empty when it was not kept.
    void reportRead(const zelvar::curves::ReportReading& reading, const QString& typed, const QString& folder);
    // A run.json was written: a list of the runs may be read again.
    void runsChanged();

private:
    bool archiveWanted() const;
    // The boxes as the run ended (none when not read), with what the dyno
    // last sent beside them.
    archive::RunValues valuesAtEnd(const std::optional<FlywheelBoxes>& boxes) const;
    void archiveStart(const RunOutcome& outcome);
    void archiveEnd(const archive::RunValues& values, bool reportWritten, const QString& failure);
    void measure(const QString& folder, const QString& typed);
    void watchForFrames();
    void frameWatchEnded(unsigned run);
    void showReason(const QString& failure);
    void setArchiveNotice(const QString& notice);
    void onWindowThread(std::function<void()> action);

    MainForm& form_;
    SerialControl& serial_;
    FrameReceiver& receiver_;
    RunController& control_;
    SessionOptions options_;
    session::LiveTrace& liveTrace_;
    std::unique_ptr<archive::RunArchive> archive_;
    StatusReasons reasons_;
    // Measures one report at a time, off the window's thread.
    QThreadPool measurer_;
    // Counts the Starts, so that a watch armed by an earlier run does not
    // speak for this one.
    unsigned runNumber_ = 0;
};

// The flywheel and ESC values of a Stop as run.json keeps them.
archive::RunValues runValuesOf(const FlywheelBoxes& boxes);

} // namespace session
} // namespace zelvar
