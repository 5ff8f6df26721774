#include "platform/PortMap.h"

#include "platform/RuntimeError.h"
#include "platform/Settings.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <iterator>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSerialPortInfo>
#endif

namespace zelvar::portmap {

namespace {

QString settingsKey(int port)
{
    return QStringLiteral("ports/COM%1").arg(port);
}

#ifdef Q_OS_WIN
constexpr QLatin1String kDevicePrefix("\\\\.\\");

// The COM ports the system has, as the serial drivers enter them in the
// registry: a value per port, named after the driver's device
// ("\Device\Serial0", "\Device\VCP0") and holding the port's name ("COM3").
QList<DeviceInfo> registeredPorts()
{
    QList<DeviceInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key)
        != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[256];
        DWORD nameLength = std::size(name);
        DWORD dataSize = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                          &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        // A registry string need not end in a NUL.
        data[dataSize / sizeof(wchar_t)] = L'\0';
        DeviceInfo port;
        port.device = kDevicePrefix + QString::fromWCharArray(data);
        port.description = QString::fromWCharArray(name, static_cast<int>(nameLength));
        ports << port;
    }
    RegCloseKey(key);
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const DeviceInfo& a, const DeviceInfo& b) {
        return a.device.size() != b.device.size() ? a.device.size() < b.device.size() : a.device < b.device;
    });
    return ports;
}

// "COM3" for "\\.\COM3" and for "COM3".
QString portName(const QString& device)
{
    return device.startsWith(kDevicePrefix) ? device.mid(kDevicePrefix.size()) : device;
}
#endif

} // namespace

QString variableName(int port)
{
    return QStringLiteral("ZELVAR_COM%1").arg(port);
}

QString defaultDevice(int port)
{
#ifdef Q_OS_WIN
    // The device namespace's name: plain "COM10" and above do not open.
    return QStringLiteral("\\\\.\\COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString sourceText(Source source, int port)
{
    switch (source) {
    case Source::Variable:
        return QStringLiteral("variable ") + variableName(port);
    case Source::Saved:
        return QStringLiteral("saved");
    case Source::Default:
        break;
    }
    return QStringLiteral("default");
}

Resolution resolve(int port, const Lookups& lookups)
{
    if (port < 1)
        throw RuntimeError(QStringLiteral("invalid COM port number %1: ports start at 1").arg(port).toStdString());
    if (lookups.environment) {
        const QString configured = lookups.environment(variableName(port));
        if (!configured.isEmpty())
            return {configured, Source::Variable};
    }
    if (lookups.saved) {
        const QString saved = lookups.saved(port);
        if (!saved.isEmpty())
            return {saved, Source::Saved};
    }
    return {defaultDevice(port), Source::Default};
}

Lookups systemLookups()
{
    return {[](const QString& name) { return qEnvironmentVariable(name.toLocal8Bit().constData()); },
            [](int port) { return savedDevice(port); }};
}

Resolution resolve(int port)
{
    return resolve(port, systemLookups());
}

QString savedDevice(int port)
{
    return settings::open().value(settingsKey(port)).toString();
}

void saveDevice(int port, const QString& device)
{
    QSettings settings = settings::open();
    settings.setValue(settingsKey(port), device);
    if (!settings::save(settings))
        throw RuntimeError(
            QStringLiteral("cannot save the device for COM%1 in %2").arg(port).arg(settings.fileName()).toStdString());
}

void forgetDevice(int port)
{
    QSettings settings = settings::open();
    settings.remove(settingsKey(port));
    if (!settings::save(settings))
        throw RuntimeError(QStringLiteral("cannot remove the device for COM%1 from %2")
                               .arg(port)
                               .arg(settings.fileName())
                               .toStdString());
}

QList<int> savedPorts()
{
    QSettings settings = settings::open();
    settings.beginGroup(QStringLiteral("ports"));
    QList<int> ports;
    for (const QString& key : settings.childKeys()) {
        bool ok = false;
        const int port = key.startsWith(QStringLiteral("COM")) ? key.mid(3).toInt(&ok) : 0;
        if (ok && port >= 1 && !settings.value(key).toString().isEmpty())
            ports << port;
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

QString stableDeviceName(const QString& device, const QString& byIdDirectory)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return device;
    const QDir links(byIdDirectory);
    // Sorted, so that the same device always gets the same of its names.
    for (const QFileInfo& link : links.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        if (link.absoluteFilePath() != target && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return device;
}

bool devicePresent(const QString& device)
{
#ifdef Q_OS_WIN
    // A COM port is present when the system lists it; any other name is a
    // path, as a device of a driver of its own may have.
    const QString name = portName(device);
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || name.contains(u'/') || name.contains(u'\\'))
        return QFileInfo::exists(device);
    const auto ports = registeredPorts();
    return std::any_of(ports.cbegin(), ports.cend(), [&](const DeviceInfo& info) {
        return portName(info.device).compare(name, Qt::CaseInsensitive) == 0;
    });
#else
    return QFileInfo::exists(device);
#endif
}

QList<DeviceInfo> presentDevices()
{
#ifdef Q_OS_WIN
    return registeredPorts();
#else
    QList<DeviceInfo> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        DeviceInfo device;
        device.device = info.systemLocation();
        device.description = info.description();
        device.manufacturer = info.manufacturer();
        device.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            device.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            device.productId = info.productIdentifier();
        devices << device;
    }
    return devices;
#endif
}

QString usbIds(const DeviceInfo& info)
{
    if (!info.vendorId || !info.productId)
        return QString();
    return QStringLiteral("%1:%2")
        .arg(*info.vendorId, 4, 16, QLatin1Char('0'))
        .arg(*info.productId, 4, 16, QLatin1Char('0'));
}

QString entryToolTip(int port, const Resolution& resolution, bool present)
{
    return QStringLiteral("COM%1 opens %2 (%3), %4")
        .arg(port)
        .arg(resolution.device, sourceText(resolution.source, port),
             present ? QStringLiteral("present") : QStringLiteral("not present"));
}

QString noDataHint(int port, const Resolution& resolution, int seconds)
{
    return QStringLiteral("No data from %1 (COM%2, %3) in the %4 seconds since Start. Is the dyno on and "
                          "connected there? Pick its device for COM%2 with Ctrl+P (the port dialog), and check "
                          "the line speed in the settings list.")
        .arg(resolution.device)
        .arg(port)
        .arg(sourceText(resolution.source, port))
        .arg(seconds);
}

} // namespace zelvar::portmap
