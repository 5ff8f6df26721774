#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/RuntimeError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSerialPort;
class QTimer;

namespace zelvar {

// Line settings parsed from a settings text such as "115200,N,8,1".
struct SerialSettings {
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 115200;
    char parity = 'N'; // N, E, O, M or S
    int dataBits = 8;  // 5 to 8
    StopBits stopBits = StopBits::One;

    friend bool operator==(const SerialSettings&, const SerialSettings&) = default;
};

// "baud,parity,data,stop": baud a positive integer; parity N, E, O, M or S
// (either case); data bits 5 to 8; stop bits 1, 1.5 or 2. No blanks anywhere.
// Throws RuntimeError naming the text and what is wrong with it.
SerialSettings parseSettings(const QString& text);

// The device that COM port n opens, as portmap::resolve() finds it, without
// the saved map: the value of ZELVAR_COM<n> when that is set and not empty,
// else "COM<n>" on Windows and "/dev/ttyS<n-1>" elsewhere. `environment`
// looks a variable up (empty when unset). Throws RuntimeError for a port
// number below 1.
QString portDeviceName(int port, const std::function<QString(const QString&)>& environment);
// With the process environment and the saved map: what opening port n opens.
QString portDeviceName(int port);

#ifndef Q_OS_WIN
// The QSerialPort back end, on Linux (QtSerialControl.cpp).

// The reason an open failure gives: the system's own, and when the system
// refused for want of permission, what the user does about it: join the
// group that owns the device (`owningGroup`, empty when unknown). A refusal
// of a device the account may use (`accountMayUse`) means another program
// has it open, `holder` when the system tells its process id (0 when not).
// `serialPortError` is a QSerialPort::SerialPortError.
QString openFailureReason(int serialPortError, const QString& systemReason, const QString& device,
                          const QString& owningGroup, bool accountMayUse = false, qint64 holder = 0);
#endif

// The serial communications control the program talks to, with the
// operations the handlers use. A rejected operation (opening a missing or
// busy port, a malformed settings text, reading while closed) throws
// RuntimeError with the system's own reason in its message.
//
// A device that disappears while open (a pulled USB adapter) closes the port
// at once and raises OnComm; the next CommEvent() read then throws the loss
// as a RuntimeError, once, so that it reaches the receive handler's recovery.
// A loss noticed inside one of the caller's own operations (reading or
// emptying the input buffer) is thrown by that operation instead, so that
// OnComm never runs a handler from inside another handler's property write.
// Opening the port again forgets a loss nobody read.
//
// Every setter call that succeeds reports itself through propertyWritten(),
// in call order, even when it changes nothing (closing a closed port); a call
// that throws reports nothing. InputLen is not reported.
class SerialControl : public QObject {
    Q_OBJECT

public:
    static constexpr int kEventReceive = 2;
    // OnComm with kEventReceive needs one whole frame's worth of bytes.
    static constexpr int kReceiveThreshold = 13;
    // After an OnComm for received bytes, the port is left unread this long
    // so that bytes arriving meanwhile come in one event (every back end).
    static constexpr int kReceiveGroupingMs = 20;
    static constexpr int kDefaultPort = 1;
    static constexpr const char* kDefaultSettings = "115200,N,8,1";

    explicit SerialControl(QObject* parent = nullptr);
    ~SerialControl() override;

    int CommPort() const { return commPort_; }
    // Port numbers start at 1. Throws while the port is open.
    void setCommPort(int port);

    QString Settings() const { return settingsText_; }
    // Validated at once; used by the next open.
    void setSettings(const QString& text);

    bool PortOpen() const { return isOpen(); }
    // True opens with the current port and settings; False closes (closing a
    // closed port does nothing). Opening an open port throws.
    void setPortOpen(bool open);

    // Bytes waiting. Throws while closed.
    int InBufferCount() const;
    // Only 0 is accepted: discards everything waiting, in the system's queue
    // too. Throws while closed.
    void setInBufferCount(int count);

    int InputLen() const { return inputLen_; }
    // Upper bound on the bytes one Input() takes; 0 means all that wait.
    // Negative lengths throw.
    void setInputLen(int length);

    // Removes and returns up to InputLen waiting bytes, unaltered. Throws while
    // closed.
    QByteArray Input();
    // Input() without the allocation: copies into `buffer`, which holds at
    // least InputLen bytes (or InBufferCount() when InputLen is 0).
    int InputTo(char* buffer);

    // Why OnComm fired; kEventReceive when data arrived, 0 before any event
    // and after a loss. Throws the loss of the device, once, after the device
    // disappeared.
    int CommEvent();

    // Counts the breaks in the input stream: waiting bytes discarded, the
    // port opened or closed, the device lost. A reader that keeps its place
    // in the stream from one event to the next (a sync byte already taken)
    // starts afresh when this changes, since the bytes it expected are gone.
    std::uint64_t inputBreaks() const { return inputBreaks_; }

    // The device the port was last opened on.
    QString deviceName() const { return deviceName_; }

Q_SIGNALS:
    void OnComm();

protected:
    // Back ends: open with the device name and parsed settings, throwing
    // RuntimeError with the system's reason; the rest as their names say.
    virtual void openDevice(const QString& deviceName, const SerialSettings& settings) = 0;
    virtual void closeDevice() = 0;
    virtual bool isOpen() const = 0;
    virtual int bytesWaiting() const = 0;
    virtual int readBytes(char* buffer, int maxLength) = 0;
    virtual void discardInput() = 0;

    // Called after each write to CommPort, Settings, PortOpen or
    // InBufferCount, with an entry such as "PortOpen=True".
    virtual void propertyWritten(const QString& entry) { Q_UNUSED(entry); }

    // Raises OnComm with the given event code.
    void raiseEvent(int code);
    // The device is gone: close at once, raise OnComm, and make the next
    // CommEvent() read throw "serial device lost: <device>: <reason>". Does
    // nothing while the port is closed: a closed port has no device to lose,
    // and a loss is reported once.
    void reportDeviceLoss(const QString& reason);

    // The error a back end throws when the device cannot be opened.
    static RuntimeError openFailure(const QString& deviceName, const QString& reason);

    // OnComm handlers run from inside the back end's notification code, and
    // Qt's dispatch is not exception safe: whatever a handler lets escape
    // stops here, logged.
    static void runFromEventLoop(const char* what, const std::function<void()>& action);

private:
    void requireOpen(const char* operation) const;

    int commPort_ = kDefaultPort;
    QString settingsText_ = QString::fromLatin1(kDefaultSettings);
    SerialSettings settings_;
    int inputLen_ = 0;
    int commEvent_ = 0;
    QString deviceName_;
    std::optional<QString> pendingLoss_;
    std::uint64_t inputBreaks_ = 0;
};

// The system's serial control: WinSerialControl on Windows, QtSerialControl
// elsewhere.
std::unique_ptr<SerialControl> makeSystemSerialControl();

#ifndef Q_OS_WIN
// Whether a QSerialPort::SerialPortError, reported while the port is open,
// means the device is gone. A pulled USB adapter gives ResourceError; a
// pseudo-terminal whose other end closed gives ReadError again and again
// until the port is closed.
bool isDeviceLoss(int serialPortError);

// The real back end: a QSerialPort. OnComm fires with kEventReceive when
// bytes arrive and at least one whole frame's worth (kReceiveThreshold bytes)
// waits; after each such event the port is left alone for kReceiveGroupingMs
// and then read in one go. At the line rate a frame arrives every 1.1 ms:
// taking them a dozen at a time rather than one by one is what keeps
// recording cheap. OnComm handlers run inside the event loop's dispatch: an
// exception that escapes one is logged and dropped here rather than unwinding
// through Qt.
class QtSerialControl final : public SerialControl {
    Q_OBJECT

public:
    explicit QtSerialControl(QObject* parent = nullptr);
    ~QtSerialControl() override;

protected:
    void openDevice(const QString& deviceName, const SerialSettings& settings) override;
    void closeDevice() override;
    bool isOpen() const override;
    int bytesWaiting() const override;
    int readBytes(char* buffer, int maxLength) override;
    void discardInput() override;

private:
    void onReadyRead();
    void raiseReceive();
    void endReceivePause();
    void setPortWatched(bool watched);
    void onError(int error);
    void closePort();
    // Closes the port and throws, when the device went away during one of our
    // own calls into the port.
    void throwLossDuringOperation();

    QSerialPort* port_;
    QTimer* receivePause_;
    // Set when readyRead came during a pause (where the port's own watching
    // cannot be paused): the event is raised when the pause ends.
    bool arrivedDuringPause_ = false;
    // Set while QSerialPort::close() runs: errors it reports are part of
    // closing, not news about the device.
    bool closing_ = false;
    // Set while one of our own calls into the port runs: a loss it reveals is
    // kept here and thrown by that call, not raised through OnComm.
    bool inOperation_ = false;
    std::optional<QString> lossDuringOperation_;
};
#endif

} // namespace zelvar
