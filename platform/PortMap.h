#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace zelvar::portmap {

// Where the device of a COM number came from, strongest first.
enum class Source { Variable, Saved, Default };

struct Resolution {
    QString device;
    Source source = Source::Default;

    friend bool operator==(const Resolution&, const Resolution&) = default;
};

// What resolving looks up: an environment variable (empty when unset) and
// the device saved for a port (empty when none).
struct Lookups {
    std::function<QString(const QString&)> environment;
    std::function<QString(int)> saved;
};

// "ZELVAR_COM3".
QString variableName(int port);
// "COM3" on Windows, "/dev/ttyS2" elsewhere: COM1 is the first serial port,
// which POSIX systems number from 0.
QString defaultDevice(int port);
// "variable ZELVAR_COM3", "saved", "default".
QString sourceText(Source source, int port);

// COM n opens the device named by ZELVAR_COM<n> when that is set and not
// empty, else the device saved for n, else the default. Scripts and tests set
// the variable; a person who starts the program from the menu cannot, and
// saves a device instead. Throws RuntimeError for a port number below 1.
Resolution resolve(int port, const Lookups& lookups);
// With the process environment and the saved map.
Resolution resolve(int port);
Lookups systemLookups();

// The saved map, one entry per COM number, in the program's settings
// (platform/Settings.h).
QString savedDevice(int port);
// Throws RuntimeError when the settings cannot be written.
void saveDevice(int port, const QString& device);
void forgetDevice(int port);
QList<int> savedPorts();

// A USB adapter's /dev/ttyUSB0 becomes /dev/ttyUSB1 after re-plugging or a
// reboot with another adapter in; its link in /dev/serial/by-id keeps its
// name. The by-id link that leads to `device`, else `device` itself.
QString stableDeviceName(const QString& device, const QString& byIdDirectory = QStringLiteral("/dev/serial/by-id"));

// Whether the device can be found now (a path that exists; on Windows a
// port the system lists).
bool devicePresent(const QString& device);

// A serial device the system lists.
struct DeviceInfo {
    QString device; // the path to open
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};
QList<DeviceInfo> presentDevices();
// "0403:6001", empty when the ids are unknown.
QString usbIds(const DeviceInfo& info);

// The port list entry's tool tip: "COM3 opens /dev/ttyUSB0 (saved), present".
QString entryToolTip(int port, const Resolution& resolution, bool present);

// The status line's hint when a run gets no frame: what it listens to and
// what to try.
QString noDataHint(int port, const Resolution& resolution, int seconds);

} // namespace zelvar::portmap
