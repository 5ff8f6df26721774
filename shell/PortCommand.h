#pragma once

#include "platform/PortMap.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QTextStream;

namespace zelvar::portcommand {

// --map-port's value: "3=/dev/ttyUSB0" saves, "3=" removes.
struct Mapping {
    int port = 0;
    QString device; // empty: remove the saved entry

    friend bool operator==(const Mapping&, const Mapping&) = default;
};
std::optional<Mapping> parseMapping(const QString& text);

// Whether the command line asks for --list-ports or --map-port: they run
// without a window, before the application object is made.
bool requested(const QStringList& arguments);

// The devices present and what each COM number opens, with where that comes
// from, for `ports` (the port list's numbers and any saved beyond them).
QString report(const QList<portmap::DeviceInfo>& devices, const QList<int>& ports,
               const std::function<portmap::Resolution(int)>& resolve,
               const std::function<bool(const QString&)>& present);

// Runs the port options of `arguments` (the program's name first): the
// mappings in order, then the list. Exit code 0, or 2 with the reason on
// `err` for a malformed option or settings that cannot be written.
int run(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace zelvar::portcommand
