#include "shell/PortCommand.h"

#include "platform/RuntimeError.h"

#include <QTextStream>

#include <algorithm>

namespace zelvar::portcommand {

namespace {

constexpr auto kListPorts = "--list-ports";
constexpr auto kMapPort = "--map-port";
// The port list's numbers.
constexpr int kListedPorts = 16;

QString describe(const portmap::DeviceInfo& device)
{
    QStringList parts;
    for (const QString& part : {device.description, device.manufacturer})
        if (!part.isEmpty())
            parts << part;
    if (!device.serialNumber.isEmpty())
        parts << QStringLiteral("serial ") + device.serialNumber;
    if (const QString ids = portmap::usbIds(device); !ids.isEmpty())
        parts << QStringLiteral("USB ") + ids;
    return parts.join(QStringLiteral(", "));
}

} // namespace

std::optional<Mapping> parseMapping(const QString& text)
{
    const qsizetype equals = text.indexOf(u'=');
    if (equals <= 0)
        return std::nullopt;
    const QString number = text.left(equals);
    if (!std::all_of(number.cbegin(), number.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const int port = number.toInt(&ok);
    if (!ok || port < 1)
        return std::nullopt;
    return Mapping{port, text.mid(equals + 1).trimmed()};
}

bool requested(const QStringList& arguments)
{
    return std::any_of(arguments.cbegin(), arguments.cend(), [](const QString& argument) {
        return argument == QLatin1String(kListPorts) || argument == QLatin1String(kMapPort)
            || argument.startsWith(QLatin1String(kMapPort) + u'=');
    });
}

QString report(const QList<portmap::DeviceInfo>& devices, const QList<int>& ports,
               const std::function<portmap::Resolution(int)>& resolve,
               const std::function<bool(const QString&)>& present)
{
    QString text;
    QTextStream out(&text);
    out << "Serial devices present:\n";
    if (devices.isEmpty())
        out << "  none\n";
    for (const portmap::DeviceInfo& device : devices) {
        const QString details = describe(device);
        out << "  " << device.device;
        if (!details.isEmpty())
            out << "  (" << details << ')';
        out << '\n';
    }
    out << "\nCOM ports (what each opens, and where that comes from):\n";
    QList<portmap::Resolution> resolutions;
    qsizetype width = 0;
    for (int port : ports) {
        resolutions << resolve(port);
        width = std::max(width, resolutions.constLast().device.size());
    }
    for (qsizetype i = 0; i < ports.size(); ++i) {
        const int port = ports[i];
        const portmap::Resolution& resolution = resolutions[i];
        out << "  " << QStringLiteral("COM%1").arg(port).leftJustified(6) << ' '
            << resolution.device.leftJustified(width) << "  [" << portmap::sourceText(resolution.source, port) << ", "
            << (present(resolution.device) ? "present" : "not present") << "]\n";
    }
    out.flush();
    return text;
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    bool list = false;
    QList<Mapping> mappings;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String(kListPorts)) {
            list = true;
            continue;
        }
        QString value;
        if (argument == QLatin1String(kMapPort)) {
            if (i + 1 >= arguments.size()) {
                err << "zelvar-data: --map-port needs N=DEVICE (or N= to remove the saved device)\n";
                return 2;
            }
            value = arguments[++i];
        } else if (argument.startsWith(QLatin1String(kMapPort) + u'=')) {
            value = argument.mid(QLatin1String(kMapPort).size() + 1);
        } else {
            continue; // the window's options mean nothing here
        }
        const std::optional<Mapping> mapping = parseMapping(value);
        if (!mapping) {
            err << "zelvar-data: --map-port \"" << value
                << "\": expected N=DEVICE with N a COM number from 1, such as 3=/dev/ttyUSB0, or N= to "
                   "remove the saved device\n";
            return 2;
        }
        mappings << *mapping;
    }

    for (const Mapping& mapping : mappings) {
        try {
            if (mapping.device.isEmpty()) {
                portmap::forgetDevice(mapping.port);
                out << "COM" << mapping.port << ": saved device removed\n";
            } else {
                const QString device = portmap::stableDeviceName(mapping.device);
                portmap::saveDevice(mapping.port, device);
                out << "COM" << mapping.port << ": saved " << device;
                if (device != mapping.device)
                    out << " (the stable name of " << mapping.device << ')';
                if (!portmap::devicePresent(device))
                    out << "; it is not present now";
                out << '\n';
            }
        } catch (const RuntimeError& error) {
            err << "zelvar-data: " << error.what() << '\n';
            return 2;
        }
        const portmap::Resolution now = portmap::resolve(mapping.port);
        out << "COM" << mapping.port << " opens " << now.device << " (" << portmap::sourceText(now.source, mapping.port)
            << ")\n";
        if (now.source == portmap::Source::Variable)
            out << "note: " << portmap::variableName(mapping.port)
                << " is set, and wins over the saved device while it is\n";
    }

    if (list) {
        QList<int> ports;
        for (int port = 1; port <= kListedPorts; ++port)
            ports << port;
        for (int port : portmap::savedPorts())
            if (!ports.contains(port))
                ports << port;
        if (!mappings.isEmpty())
            out << '\n';
        out << report(
            portmap::presentDevices(), ports, [](int port) { return portmap::resolve(port); },
            [](const QString& device) { return portmap::devicePresent(device); });
    }
    out.flush();
    err.flush();
    return 0;
}

} // namespace zelvar::portcommand
