#pragma once

// A pseudo-terminal as the far end of the QSerialPort back end: the test
// holds the master side and plays the dyno controller; the control opens the
// slave through ZELVAR_COM<n>, as a user points the program at a USB adapter.
// POSIX only.

#include "EventLoop.h"
#include "PseudoTerminal.h"
#include "SerialFarEnd.h"

#include <deque>

namespace zelvar::testing_support {

class PtyFarEnd final : public SerialFarEnd {
public:
    PtyFarEnd() { replug(); }
    ~PtyFarEnd() override { qunsetenv(variable().constData()); }

    QtSerialControl& control() override { return comm_; }
    bool ready() const override { return ptys_.back().ready(); }
    QString deviceName() const override { return ptys_.back().slavePath(); }
    void feed(const QByteArray& bytes) override { pty().send(bytes); }
    void closeDevice() override { pty().close(); }
    void replug() override
    {
        ptys_.emplace_back();
        pointPortAt(ptys_.back().slavePath());
    }
    bool waitFor(const std::function<bool()>& done) override { return pumpUntil(done); }
    void settle() override { pumpFor(50ms); }

    PseudoTerminal& pty() { return ptys_.back(); }
    static void pointPortAt(const QString& device) { qputenv(variable().constData(), device.toLocal8Bit()); }

private:
    static QByteArray variable() { return "ZELVAR_COM" + QByteArray::number(kPort); }

    // Every terminal outlives the control (declared before it), which must
    // have closed them before they go: see PseudoTerminal. A deque, as they
    // cannot move.
    std::deque<PseudoTerminal> ptys_;
    QtSerialControl comm_;
};

} // namespace zelvar::testing_support
