#pragma once

#include "MemoryMainForm.h"

#include "link/FrameReceiver.h"
#include "platform/Clock.h"
#include "platform/SerialControl.h"
#include "records/SequentialFiles.h"

#include <QLocale>
#include <QString>

namespace zelvar::testing_support {

// The program's receive path on a device of its own: the QSerialPort back end,
// the frame receiver and the run file, as the Start button leaves them. It
// also holds the device open itself, so that the pseudo-terminal's number
// stays taken until the test is done: QSerialPort drops its lock file a
// moment after it closes the device, and another test's new pseudo-terminal
// must not get the number meanwhile. Each test program picks its own COM
// number, since CTest runs them side by side.
class ReceivePath {
public:
    explicit ReceivePath(int port) : port_(port) {}
    ~ReceivePath();
    ReceivePath(const ReceivePath&) = delete;
    ReceivePath& operator=(const ReceivePath&) = delete;

    // Opens the device on COM `port` and the run file; fails the test (a
    // fatal failure: call it through ASSERT_NO_FATAL_FAILURE) when the device
    // cannot be held.
    void start(const QString& device, const QString& runFile);
    // What Stop does first: the port is closed and the run file complete.
    void stop();

    // The run time on show, in ticks.
    int shownTick();
    bool failed();

    QtSerialControl comm;
    MemoryMainForm form;
    SequentialFiles files;
    SystemClock clock;
    FrameReceiver receiver{comm, form, files, clock, QLocale::c()};

private:
    QByteArray variable() const;

    int port_;
    int keeper_ = -1;
};

} // namespace zelvar::testing_support
