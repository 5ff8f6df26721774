#include "platform/SerialControl.h"

#include "platform/PortMap.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

namespace zelvar {

namespace {

[[noreturn]] void throwError(const QString& message)
{
    throw RuntimeError(message.toStdString());
}

[[noreturn]] void throwBadSettings(const QString& text, const QString& problem)
{
    throwError(QStringLiteral("invalid serial settings \"%1\": %2").arg(text, problem));
}

bool isAllDigits(const QString& field)
{
    return !field.isEmpty()
        && std::all_of(field.cbegin(), field.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

SerialSettings parseSettings(const QString& text)
{
    // A blank would otherwise slip past QString::toInt, which skips blanks;
    // the dyno's own tools never write one, so one is a typing mistake.
    if (std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSpace(); }))
        throwBadSettings(text, QStringLiteral("blanks are not allowed"));

    const QStringList fields = text.split(u',');
    if (fields.size() != 4) {
        throwBadSettings(text, QStringLiteral("expected baud,parity,data bits,stop bits "
                                              "(4 fields), found %1")
                                   .arg(fields.size()));
    }

    SerialSettings settings;

    const QString& baud = fields[0];
    bool baudOk = false;
    const qint64 baudRate = isAllDigits(baud) ? baud.toLongLong(&baudOk) : 0;
    if (!baudOk || baudRate <= 0 || baudRate > std::numeric_limits<qint32>::max())
        throwBadSettings(text, QStringLiteral("baud rate \"%1\" is not a positive integer").arg(baud));
    settings.baudRate = static_cast<qint32>(baudRate);

    // Only an ASCII letter names a parity: QString::toUpper would also turn
    // the long s (U+017F) into "S".
    const bool ascii = fields[1].size() == 1 && fields[1][0].unicode() < 0x80;
    const QString parity = ascii ? fields[1].toUpper() : QString();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
        throwBadSettings(text, QStringLiteral("parity \"%1\" is not N, E, O, M or S").arg(fields[1]));
    settings.parity = parity[0].toLatin1();

    const QString& data = fields[2];
    if (data.size() != 1 || data[0] < u'5' || data[0] > u'8')
        throwBadSettings(text, QStringLiteral("data bits \"%1\" are not 5, 6, 7 or 8").arg(data));
    settings.dataBits = data[0].unicode() - u'0';

    const QString& stop = fields[3];
    if (stop == u"1")
        settings.stopBits = SerialSettings::StopBits::One;
    else if (stop == u"1.5")
        settings.stopBits = SerialSettings::StopBits::OneAndHalf;
    else if (stop == u"2")
        settings.stopBits = SerialSettings::StopBits::Two;
    else
        throwBadSettings(text, QStringLiteral("stop bits \"%1\" are not 1, 1.5 or 2").arg(stop));

    return settings;
}

QString portDeviceName(int port, const std::function<QString(const QString&)>& environment)
{
    return portmap::resolve(port, {environment, {}}).device;
}

QString portDeviceName(int port)
{
    return portmap::resolve(port).device;
}

SerialControl::SerialControl(QObject* parent) : QObject(parent) {}

SerialControl::~SerialControl() = default;

void SerialControl::setCommPort(int port)
{
    if (isOpen())
        throwError(QStringLiteral("cannot set CommPort to %1: port is open").arg(port));
    if (port < 1)
        throwError(QStringLiteral("invalid CommPort %1: ports start at 1").arg(port));
    commPort_ = port;
    propertyWritten(QStringLiteral("CommPort=%1").arg(port));
}

void SerialControl::setSettings(const QString& text)
{
    settings_ = parseSettings(text);
    settingsText_ = text;
    propertyWritten(QStringLiteral("Settings=") + text);
}

void SerialControl::setPortOpen(bool open)
{
    if (open) {
        if (isOpen())
            throwError(QStringLiteral("cannot open COM%1: port is open already").arg(commPort_));
        const portmap::Resolution port = portmap::resolve(commPort_);
        const QString& device = port.device;
        try {
            openDevice(device, settings_);
        } catch (const RuntimeError& error) {
            if (port.source != portmap::Source::Saved)
                throw;
            // The operator chose this device once; now it is unplugged or
            // gone, which the system's reason alone does not say.
            throwError(QStringLiteral("%1 (the device saved for COM%2: is it plugged in? Ctrl+P picks another)")
                           .arg(QString::fromUtf8(error.what()))
                           .arg(commPort_));
        }
        deviceName_ = device;
        // A loss of the previous session that nobody read would otherwise
        // fail the first receive event of this one.
        pendingLoss_.reset();
        commEvent_ = 0;
        ++inputBreaks_;
        propertyWritten(QStringLiteral("PortOpen=True"));
    } else {
        if (isOpen()) {
            closeDevice();
            ++inputBreaks_;
        }
        propertyWritten(QStringLiteral("PortOpen=False"));
    }
}

int SerialControl::InBufferCount() const
{
    requireOpen("read InBufferCount");
    return bytesWaiting();
}

void SerialControl::setInBufferCount(int count)
{
    requireOpen("set InBufferCount");
    if (count != 0)
        throwError(QStringLiteral("invalid InBufferCount %1: only 0 may be set").arg(count));
    discardInput();
    ++inputBreaks_;
    propertyWritten(QStringLiteral("InBufferCount=0"));
}

void SerialControl::setInputLen(int length)
{
    if (length < 0)
        throwError(QStringLiteral("invalid InputLen %1: must not be negative").arg(length));
    inputLen_ = length;
}

QByteArray SerialControl::Input()
{
    requireOpen("read Input");
    const int waiting = bytesWaiting();
    const int wanted = inputLen_ == 0 ? waiting : std::min(inputLen_, waiting);
    QByteArray bytes(wanted, Qt::Uninitialized);
    if (wanted > 0)
        bytes.truncate(readBytes(bytes.data(), wanted));
    return bytes;
}

int SerialControl::InputTo(char* buffer)
{
    requireOpen("read Input");
    const int waiting = bytesWaiting();
    const int wanted = inputLen_ == 0 ? waiting : std::min(inputLen_, waiting);
    return wanted > 0 ? readBytes(buffer, wanted) : 0;
}

int SerialControl::CommEvent()
{
    if (pendingLoss_) {
        const QString loss = *std::exchange(pendingLoss_, std::nullopt);
        throwError(loss);
    }
    return commEvent_;
}

void SerialControl::raiseEvent(int code)
{
    commEvent_ = code;
    Q_EMIT OnComm();
}

void SerialControl::reportDeviceLoss(const QString& reason)
{
    if (!isOpen())
        return;
    closeDevice();
    ++inputBreaks_;
    pendingLoss_ = QStringLiteral("serial device lost: %1: %2").arg(deviceName_, reason);
    commEvent_ = 0;
    Q_EMIT OnComm();
}

RuntimeError SerialControl::openFailure(const QString& deviceName, const QString& reason)
{
    return RuntimeError(QStringLiteral("cannot open serial port %1: %2").arg(deviceName, reason).toStdString());
}

void SerialControl::runFromEventLoop(const char* what, const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        qCritical("serial control: %s: uncaught exception: %s", what, error.what());
    } catch (...) {
        qCritical("serial control: %s: uncaught exception", what);
    }
}

void SerialControl::requireOpen(const char* operation) const
{
    if (!isOpen()) {
        throwError(
            QStringLiteral("cannot %1: serial port COM%2 is not open").arg(QLatin1String(operation)).arg(commPort_));
    }
}

} // namespace zelvar
