#pragma once

#include "archive/RunJson.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zelvar::curves {
struct MotorFigures;
}

namespace zelvar::archive {

// Every run kept: beside Temp.dat and save.csv, the folder runs/ holds a
// folder per run, named by the local time the run started
// (runs/2026-12-07_14-03-21, with _2, _3 for runs started within the same
// second), with run.json and, once the run ended, copies of Temp.dat and
// save.csv. Temp.dat and save.csv themselves stay exactly what they are.

inline constexpr const char* kFolderName = "runs";

// "2026-12-07_14-03-21".
QString folderName(const QDateTime& started);

struct RunEnd {
    QDateTime ended;
    Ending ending = Ending::Stopped;
    QString reason; // why it ended in "error"
    RunValues values;
    bool reportWritten = false; // save.csv is this run's report
};

// One run as the list shows it, read from its run.json alone.
struct RunSummary {
    QString folder; // absolute path
    QString name;   // the folder's name
    QDateTime started;
    QDateTime ended; // invalid while recording
    Ending ending = Ending::Recording;
    QString reason;
    std::optional<std::int64_t> records;
    std::optional<double> peakPowerW;
    std::optional<double> peakPowerRpm;
    QString note;
    RunValues values;
    RunMotor motor;

    // Seconds from start to end; none while the end is not known.
    std::optional<double> durationSeconds() const;
    // "0:33", "1:02:05": as the Runs tab and zelvar-analyze --list print
    // it; empty while the end is not known.
    QString durationText() const;
    // The start in local time, "2026-12-07 14:03:21"; empty when run.json
    // does not say.
    QString startedText() const;
};

struct Listing {
    std::vector<RunSummary> runs; // newest first
    QStringList problems;         // run folders whose run.json could not be read or is missing
};

// The runs archived in a data directory. Reads only the run.json files.
Listing listRuns(const QString& dataDirectory);
RunSummary summaryOf(const QString& folder, const RunJson& run);

// The note, written into run.json.
void setNote(const QString& folder, const QString& note);
// What the run is of, written into run.json.
void setMotor(const QString& folder, const RunMotor& motor);
// The motor's figures (as --summary-json writes them) and the peak output
// power with its RPM, written into run.json.
void recordFigures(const QString& folder, const curves::MotorFigures& figures);

// Copies `from` to `to` through a temporary name beside `to` and a rename,
// the copy put on the disk before the rename; counts the records on the way
// when `scan` is given. Throws RuntimeError naming the file at fault.
void copyInto(const QString& from, const QString& to, RunFileScan* scan = nullptr);

// Whether runs are archived, from the program's settings: yes unless
// switched off.
bool enabledInSettings();
void setEnabledInSettings(bool enabled);
// What the runs to come are of, from the program's settings: Start writes
// it into each new run.json, so that it carries from run to run until the
// operator changes it.
RunMotor motorForRunsToCome();
void setMotorForRunsToCome(const RunMotor& motor);

// The archive of the program's data directory, as Start and Stop keep it.
//
// Everything here is an addition to the run: a failure never changes what
// Start, Stop and the report do. It is reported through `notice` (called on
// any thread, with an empty text once archiving works again), and the run
// goes on unarchived.
//
// The copies at the end of a run are made on a worker thread of their own,
// one after the other in the order asked, and every later write of a
// run.json waits its turn behind them; nothing here runs in the receive path.
class RunArchive {
public:
    // `archived` is called (on the worker thread) whenever a run.json was
    // written, so that a list of the runs can be read again.
    RunArchive(QString dataDirectory, std::function<void(const QString&)> notice, std::function<void()> archived = {});
    ~RunArchive(); // waits for the copies
    RunArchive(const RunArchive&) = delete;
    RunArchive& operator=(const RunArchive&) = delete;

    // Before Start empties Temp.dat: waits for the copies still running,
    // and when the newest run folder still says "recording", its run never
    // ended (the program was killed, the machine lost power): Temp.dat is
    // copied into it and it is marked "unfinished".
    void beforeStart();
    // Once recording began: the run's folder with its run.json.
    void runStarted(const RunStart& start);
    // Whether a run started here is being recorded.
    bool recording() const { return !current_.isEmpty(); }
    // Completes the run on the worker thread: Temp.dat and, when written,
    // save.csv copied in, and run.json finished. Returns the run's folder;
    // empty when no run was being archived.
    QString runEnded(const RunEnd& end);
    // The motor's figures of the run in `folder`, written into its run.json
    // after the copies asked before.
    void recordFigures(const QString& folder, const curves::MotorFigures& figures);
    // A run's note, written after the copies asked before it.
    void setNote(const QString& folder, const QString& note);
    // What a run is of, written after the copies asked before it.
    void setMotor(const QString& folder, const RunMotor& motor);

    void waitForCopies();

private:
    void report(const QString& problem);
    // Runs `job` on the worker; what it throws becomes a notice that starts
    // with `failure`.
    void queue(QString failure, std::function<void()> job);
    QString newFolder(const QDateTime& started);

    QString directory_;
    std::function<void(const QString&)> notice_;
    std::function<void()> archived_;
    QString current_;
    QThreadPool worker_;
};

} // namespace zelvar::archive
