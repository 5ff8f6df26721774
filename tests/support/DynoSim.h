#pragma once

// dyno-sim for the end-to-end tests: run to its end, or streaming in the
// background on its own pseudo-terminal for as long as the test needs it, and
// never outliving the test.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>

namespace zelvar::testing_support {

// The simulator this build made.
QString dynoSimPath();

struct ProgramOutcome {
    int exitCode = -1; // -1 when it did not end by itself
    QString out;
    QString err;
};

// Runs dyno-sim to its end (30 s at most).
ProgramOutcome runSim(const QStringList& arguments);

// dyno-sim started in the background with a link file in `dir`; at the end
// of the scope it is stopped as Ctrl-C would, and killed if it does not end.
class SimProcess {
public:
    SimProcess(QStringList arguments, const QString& dir);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The link file's line, "ZELVAR_COM<n>=<device>"; empty when the
    // simulator ended or wrote none within `limit`.
    QByteArray mapping(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Its <device>.
    QString device(std::chrono::milliseconds limit = std::chrono::seconds(10));

    bool waitForFinished(std::chrono::milliseconds limit);
    // Stops it if it still runs; what it printed and how it ended.
    ProgramOutcome finish();

private:
    QString linkFile_;
    QProcess process_;
    ProgramOutcome outcome_;
};

} // namespace zelvar::testing_support
