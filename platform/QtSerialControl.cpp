#include "platform/SerialControl.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QScopedValueRollback>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace zelvar {

namespace {

// Whether the account may read and write the device: a refusal of such a
// device comes from another program holding it, not from its permissions.
bool accountMayUse(const QString& device)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(device);
    return false;
#endif
}

// The process that holds the device, from the UUCP lock file that serial
// programs (QSerialPort among them) leave in the system's lock folder:
// LCK..ttyUSB0 for /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3. 0 when none
// says.
qint64 deviceLockHolder(const QString& device)
{
#ifdef Q_OS_UNIX
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : QFileInfo(device).fileName();
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/run/lock", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"}) {
        QLockFile lock(QStringLiteral("%1/LCK..%2").arg(QLatin1String(folder), name));
        qint64 pid = 0;
        QString host;
        QString application;
        if (lock.getLockInfo(&pid, &host, &application) && pid > 0)
            return pid;
    }
#else
    Q_UNUSED(device);
#endif
    return 0;
}

QSerialPort::Parity toQtParity(char parity)
{
    switch (parity) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::DataBits toQtDataBits(int dataBits)
{
    switch (dataBits) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    default:
        return QSerialPort::Data8;
    }
}

QSerialPort::StopBits toQtStopBits(SerialSettings::StopBits stopBits)
{
    switch (stopBits) {
    case SerialSettings::StopBits::OneAndHalf:
        // Termios has no 1.5 stop bits; Qt 6.4 quietly sets the line up with
        // one there. We only receive, and a receiver set for one stop bit
        // reads a sender that sends 1.5 correctly, so that is good enough.
        return QSerialPort::OneAndHalfStop;
    case SerialSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case SerialSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

} // namespace

QString openFailureReason(int serialPortError, const QString& systemReason, const QString& device,
                          const QString& owningGroup, bool accountMayUse, qint64 holder)
{
    if (static_cast<QSerialPort::SerialPortError>(serialPortError) != QSerialPort::PermissionError)
        return systemReason;
    if (accountMayUse) {
        const QString who = holder > 0 ? QStringLiteral("another program (process %1)").arg(holder)
                                       : QStringLiteral("another program");
        return QStringLiteral("%1 is in use by %2; close it there, or pick another COM port").arg(device, who);
    }
    // Serial devices belong to a group (dialout on Debian, uucp elsewhere)
    // whose members may use them; a fresh account is seldom one of them.
    // Joining root's group is no advice: such a device needs a udev rule.
    if (owningGroup.isEmpty() || owningGroup == u"root") {
        return QStringLiteral("%1. Your account may not use %2; ask the administrator for access to it "
                              "(a udev rule giving it to the group dialout).")
            .arg(systemReason, device);
    }
    return QStringLiteral("%1. To use %2 your account must be in the group \"%3\", which owns it: run\n"
                          "    sudo usermod -aG %3 $USER\n"
                          "then log out and in again.")
        .arg(systemReason, device, owningGroup);
}

bool isDeviceLoss(int serialPortError)
{
    switch (static_cast<QSerialPort::SerialPortError>(serialPortError)) {
    // What reading or writing an open port reports when the device is no
    // longer there: QSerialPort turns every failed read into ReadError (a
    // hung-up pseudo-terminal, or a pulled adapter on Linux, reads as end of
    // file) and every failed write into WriteError, except the system errors
    // it knows mean the device went away, which are ResourceError.
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    // Outside open(), "not found" can only mean the device vanished under us.
    case QSerialPort::DeviceNotFoundError:
    // QSerialPort says UnknownError for system errors it does not decode; on
    // an open port that includes ENXIO from a pulled USB adapter on Linux.
    // A port that fails for reasons nobody knows delivers no frames either,
    // and closing it lets the recovery tell the user, where ignoring it would
    // leave the program "running" on a dead port.
    case QSerialPort::UnknownError:
        return true;
    // No error, or a refusal of one request that leaves the device usable
    // (an unsupported setting, a timeout, a call on a closed port). Permission
    // and open errors only come from open(), whose failures are thrown.
    case QSerialPort::NoError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
        return false;
    }
    return false;
}

QtSerialControl::QtSerialControl(QObject* parent)
    : SerialControl(parent), port_(new QSerialPort(this)), receivePause_(new QTimer(this))
{
    receivePause_->setSingleShot(true);
    connect(receivePause_, &QTimer::timeout, this, [this] { endReceivePause(); });
    connect(port_, &QSerialPort::readyRead, this, [this] { onReadyRead(); });
    connect(port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) { onError(error); });
}

QtSerialControl::~QtSerialControl()
{
    // The port is our child and is destroyed after this part of us: it must
    // not call back into a half-destroyed control while it closes.
    port_->disconnect(this);
    if (port_->isOpen())
        closePort();
}

void QtSerialControl::openDevice(const QString& deviceName, const SerialSettings& settings)
{
    // QSerialPort keeps these and applies them while open() sets the line up;
    // a setting the device refuses fails open(), which then leaves the port
    // closed and says why in errorString().
    port_->setPortName(deviceName);
    port_->setBaudRate(settings.baudRate);
    port_->setDataBits(toQtDataBits(settings.dataBits));
    port_->setParity(toQtParity(settings.parity));
    port_->setStopBits(toQtStopBits(settings.stopBits));
    port_->setFlowControl(QSerialPort::NoFlowControl);

    bool opened = false;
    {
        QScopedValueRollback<bool> scope(inOperation_, true);
        opened = port_->open(QIODevice::ReadWrite);
    }
    if (!opened) {
        const QString reason = openFailureReason(port_->error(), port_->errorString(), deviceName,
                                                 QFileInfo(deviceName).group(), accountMayUse(deviceName),
                                                 deviceLockHolder(deviceName));
        if (port_->isOpen())
            closePort();
        throw openFailure(deviceName, reason);
    }
}

void QtSerialControl::closeDevice()
{
    closePort();
}

bool QtSerialControl::isOpen() const
{
    return port_->isOpen();
}

int QtSerialControl::bytesWaiting() const
{
    return static_cast<int>(std::min<qint64>(port_->bytesAvailable(), std::numeric_limits<int>::max()));
}

int QtSerialControl::readBytes(char* buffer, int maxLength)
{
    // On Unix this only copies from QSerialPort's buffer; on Windows it may
    // start a system read that fails at once.
    qint64 count = 0;
    {
        QScopedValueRollback<bool> scope(inOperation_, true);
        count = port_->read(buffer, maxLength);
    }
    throwLossDuringOperation();
    if (count < 0) {
        throw RuntimeError(
            QStringLiteral("cannot read serial port %1: %2").arg(deviceName(), port_->errorString()).toStdString());
    }
    return static_cast<int>(count);
}

void QtSerialControl::discardInput()
{
    // Also empties the system's queue (tcflush), which holds whatever the
    // device sent while nobody was reading.
    bool cleared = false;
    {
        QScopedValueRollback<bool> scope(inOperation_, true);
        cleared = port_->clear(QSerialPort::Input);
    }
    throwLossDuringOperation();
    if (!cleared) {
        throw RuntimeError(QStringLiteral("cannot empty the input buffer of %1: %2")
                               .arg(deviceName(), port_->errorString())
                               .toStdString());
    }
}

void QtSerialControl::throwLossDuringOperation()
{
    if (!lossDuringOperation_)
        return;
    const QString reason = *std::exchange(lossDuringOperation_, std::nullopt);
    closePort();
    throw RuntimeError(QStringLiteral("serial device lost: %1: %2").arg(deviceName(), reason).toStdString());
}

void QtSerialControl::onReadyRead()
{
    if (receivePause_->isActive())
        arrivedDuringPause_ = true;
    else
        raiseReceive();
}

void QtSerialControl::raiseReceive()
{
    // The port may have closed, or a handler emptied it, during a pause.
    if (!port_->isOpen() || port_->bytesAvailable() < kReceiveThreshold)
        return;
    runFromEventLoop("receive event", [this] { raiseEvent(kEventReceive); });
    if (!port_->isOpen())
        return;
    setPortWatched(false);
    receivePause_->start(kReceiveGroupingMs);
}

void QtSerialControl::endReceivePause()
{
    // As everywhere, only an arrival raises the event: bytes a handler left
    // waiting wait for the next one.
    setPortWatched(true);
    if (std::exchange(arrivedDuringPause_, false))
        raiseReceive();
}

void QtSerialControl::setPortWatched(bool watched)
{
    // QSerialPort watches its descriptor with a read notifier of its own and
    // reads whatever arrived each time the system reports it: at the line
    // rate once a frame, each a wakeup of the program. During a pause the
    // bytes wait in the system's queue (4 KB, over 300 ms at the line rate)
    // and the next read takes them all. Only QSerialPort's current notifier
    // on the open descriptor is touched. Where QSerialPort has no such
    // notifier (Windows), bytes keep coming in and readyRead during a pause
    // is simply ignored until the pause ends.
    const auto handle = port_->handle();
    const auto notifiers = port_->findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier* notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == handle)
            notifier->setEnabled(watched);
    }
}

void QtSerialControl::onError(int error)
{
    // Errors while opening are thrown by setPortOpen(true) (the port is not
    // open yet); errors after the port closed concern nobody.
    if (closing_ || !port_->isOpen() || !isDeviceLoss(error))
        return;

    const QString reason = port_->errorString();
    if (inOperation_) {
        // The caller is inside a property of ours: raising OnComm now would
        // run a handler inside it. The call throws the loss instead.
        if (!lossDuringOperation_)
            lossDuringOperation_ = reason;
        return;
    }

    // Close inside this slot: a hung-up pseudo-terminal reports the same
    // error again for as long as its notifier stays enabled, hundreds of
    // thousands of times a second.
    runFromEventLoop("device loss", [this, &reason] { reportDeviceLoss(reason); });
}

void QtSerialControl::closePort()
{
    receivePause_->stop();
    arrivedDuringPause_ = false;
    QScopedValueRollback<bool> scope(closing_, true);
    port_->close();
}

std::unique_ptr<SerialControl> makeSystemSerialControl()
{
    return std::make_unique<QtSerialControl>();
}

} // namespace zelvar
