#pragma once

#include "platform/SerialControl.h"

#include <QSet>
#include <QStringList>

namespace zelvar {

// An in-memory back end for tests: bytes are fed by the test, outcomes are
// scripted, and every write to the control's properties is logged.
class MemorySerialControl final : public SerialControl {
    Q_OBJECT

public:
    explicit MemorySerialControl(QObject* parent = nullptr);

    // Appends bytes to the input buffer (dropped while the port is closed, as
    // a real port would) and, when `raise` is set, raises OnComm with
    // kEventReceive if at least kReceiveThreshold bytes wait.
    void feed(const QByteArray& bytes, bool raise = true);
    // Raises OnComm with any event code.
    void raise(int code) { raiseEvent(code); }
    // The device disappears: the port closes and the loss is reported (nothing
    // happens while the port is closed).
    void loseDevice(const QString& reason = QStringLiteral("device disappeared"));

    // Scripted outcomes of opening that port number: a missing port fails
    // with "No such file or directory", a busy one with "Device or resource
    // busy", as a real system says it.
    void setPortMissing(int port, bool missing = true);
    void setPortBusy(int port, bool busy = true);

    // Writes to CommPort, Settings, PortOpen and InBufferCount, in order,
    // as "CommPort=3", "Settings=9600,N,8,1", "PortOpen=True",
    // "PortOpen=False", "InBufferCount=0".
    const QStringList& log() const { return log_; }
    void clearLog() { log_.clear(); }

    // The bytes waiting, oldest first.
    QByteArray waiting() const { return buffer_.mid(readPos_); }
    // Device name and settings of the last successful open.
    QString openedDevice() const { return openedDevice_; }
    SerialSettings openedSettings() const { return openedSettings_; }

protected:
    void openDevice(const QString& deviceName, const SerialSettings& settings) override;
    void closeDevice() override;
    bool isOpen() const override { return open_; }
    int bytesWaiting() const override { return static_cast<int>(buffer_.size() - readPos_); }
    int readBytes(char* buffer, int maxLength) override;
    void discardInput() override;

    void propertyWritten(const QString& entry) override { log_ << entry; }

private:
    bool open_ = false;
    // Bytes before readPos_ have been read; they are dropped in bulk now and
    // then, so that a read costs no more than a copy of what it takes.
    QByteArray buffer_;
    qsizetype readPos_ = 0;
    QSet<int> missing_;
    QSet<int> busy_;
    QStringList log_;
    QString openedDevice_;
    SerialSettings openedSettings_;
};

} // namespace zelvar
