#pragma once

#include "platform/FlywheelBoxes.h"
#include "run/RunAnalyzer.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace zelvar {

class MainForm;
class SequentialFiles;
class SerialControl;

// The values the analysis takes from the boxes; throws RuntimeError naming
// the first box without a number.
FlywheelAndEsc analysisValues(const FlywheelBoxes& boxes);
// analysisValues(readFlywheelBoxes(form, locale)).
FlywheelAndEsc readFlywheelAndEsc(MainForm& form, const QLocale& locale);

// What a click of the button did.
struct RunOutcome {
    enum class Kind {
        Started,   // "Now Running"
        Stopped,   // "Now Ready": the report is written
        Recovered, // "Error!"
    };
    Kind kind = Kind::Recovered;
    // The click was a Stop (a recovery after it ended the run too).
    bool wasStop = false;
    // Why the click ended in the recovery; empty otherwise.
    QString reason;
    // Started: the interval box as Start left it.
    QString interval;
    // A Stop: the boxes as it read them, before it blanked them.
    std::optional<FlywheelBoxes> boxes;

    bool started() const { return kind == Kind::Started; }
    bool reportWritten() const { return kind == Kind::Stopped; }
};

// The Start/Stop button. Its caption is the run state: "Start" means idle,
// anything else running.
//
// Start empties Temp.dat (file number 10, which the receive handler appends
// to), sets the interval box to 20, locks both lists and opens the port with
// an empty input buffer. Stop closes Temp.dat, writes the report, unlocks the
// lists, closes the port and blanks the read-outs. Any failure ends in the
// recovery: lists enabled, "Start", "Error!", port closed, read-outs blanked,
// and file numbers 10, 11 and 12 free, so that the next Start works and
// Temp.dat keeps every record written.
class RunController {
public:
    RunController(MainForm& form, SerialControl& serial, SequentialFiles& files, QString applicationDirectory,
                  const QLocale& locale = QLocale::system());

    // Never throws.
    RunOutcome Command1_Click();

private:
    void startStep(RunOutcome& outcome);
    void stopStep(RunOutcome& outcome);
    void recover(RunOutcome& outcome, const QString& reason);
    void blankReadouts();

    MainForm& form_;
    SerialControl& serial_;
    SequentialFiles& files_;
    QString directory_;
    QLocale locale_;
};

} // namespace zelvar
