#pragma once

#include <QLocale>
#include <QString>

namespace zelvar {

struct FlywheelAndEsc;
class MainForm;
class SequentialFiles;
class SerialControl;

// The flywheel and ESC boxes as the analysis takes them: radius and weight as
// numbers in the given locale (a box without one throws RuntimeError naming
// the box), the ESC timings as typed.
FlywheelAndEsc readFlywheelAndEsc(MainForm& form, const QLocale& locale);

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
    void Command1_Click();

    // Why the last click ended in the recovery; empty when it did not.
    QString lastError() const { return lastError_; }

private:
    void startStep();
    void stopStep();
    void recover(const QString& reason);
    void blankReadouts();

    MainForm& form_;
    SerialControl& serial_;
    SequentialFiles& files_;
    QString directory_;
    QLocale locale_;
    QString lastError_;
};

} // namespace zelvar
