// The port map's decisions and texts: which device a COM number opens and
// why, the saved map in scratch settings, stable names, what a refused open
// tells the operator, and the command line's parsing and report.

#include "platform/PortMap.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"
#include "shell/PortCommand.h"

#include "Files.h"
#include "QtPrinters.h"
#include "ScratchSettings.h"

#include <QDir>
#include <QFile>
#ifndef Q_OS_WIN
#include <QSerialPort>
#endif
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

QString sourceName(portmap::Source source)
{
    return portmap::sourceText(source, 3);
}

TEST(PortMapTest, TheVariableWinsOverTheSavedDeviceWhichWinsOverTheDefault)
{
    struct Case {
        const char* variable; // nullptr: unset
        const char* saved;    // nullptr: none
        portmap::Resolution expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, {portmap::defaultDevice(3), portmap::Source::Default}},
        {"", "", {portmap::defaultDevice(3), portmap::Source::Default}},
        {nullptr, "/dev/serial/by-id/usb-FTDI-if00", {"/dev/serial/by-id/usb-FTDI-if00", portmap::Source::Saved}},
        {"", "/dev/ttyUSB0", {"/dev/ttyUSB0", portmap::Source::Saved}},
        {"/dev/pts/7", "/dev/ttyUSB0", {"/dev/pts/7", portmap::Source::Variable}},
        {"/dev/pts/7", nullptr, {"/dev/pts/7", portmap::Source::Variable}},
    };
    for (const Case& c : cases) {
        QStringList asked;
        const portmap::Lookups lookups{[&](const QString& name) {
                                           asked << name;
                                           return c.variable ? QString::fromUtf8(c.variable) : QString();
                                       },
                                       [&](int port) {
                                           asked << QString::number(port);
                                           return c.saved ? QString::fromUtf8(c.saved) : QString();
                                       }};
        const portmap::Resolution actual = portmap::resolve(3, lookups);
        EXPECT_EQ(actual, c.expected) << "variable " << (c.variable ? c.variable : "(unset)") << ", saved "
                                      << (c.saved ? c.saved : "(none)") << ": got " << actual.device.toStdString()
                                      << " (" << sourceName(actual.source).toStdString() << "), expected "
                                      << c.expected.device.toStdString() << " ("
                                      << sourceName(c.expected.source).toStdString() << ")";
        EXPECT_EQ(asked.value(0), "ZELVAR_COM3");
    }
#ifndef Q_OS_WIN
    EXPECT_EQ(portmap::defaultDevice(1), "/dev/ttyS0");
    EXPECT_EQ(portmap::defaultDevice(16), "/dev/ttyS15");
#endif
    EXPECT_THROW(portmap::resolve(0, {}), RuntimeError);
}

TEST(PortMapTest, TheSavedMapKeepsOneDevicePerComNumberInTheSettings)
{
    ScratchSettings settings;
    EXPECT_EQ(portmap::savedDevice(3), "");
    portmap::saveDevice(3, "/dev/ttyUSB0");
    portmap::saveDevice(12, "/dev/ttyACM0");
    portmap::saveDevice(3, "/dev/ttyUSB1");
    EXPECT_EQ(portmap::savedDevice(3), "/dev/ttyUSB1");
    EXPECT_EQ(portmap::savedPorts(), QList<int>({3, 12}));
    EXPECT_EQ(portmap::resolve(12, {{}, [](int port) { return portmap::savedDevice(port); }}),
              (portmap::Resolution{"/dev/ttyACM0", portmap::Source::Saved}));
    portmap::forgetDevice(3);
    EXPECT_EQ(portmap::savedDevice(3), "");
    EXPECT_EQ(portmap::savedPorts(), QList<int>({12}));
#ifdef Q_OS_WIN
    const QString file = settings.path() + "/zelvar/zelvar-data.ini";
#else
    const QString file = settings.path() + "/zelvar/zelvar-data.conf";
#endif
    EXPECT_TRUE(QFile::exists(file)) << "the map is kept where the scratch settings are, nowhere else";
}

TEST(PortMapTest, ASavedDeviceIsNamedByItsStableLinkWhereItHasOne)
{
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows names its ports COMn, with no links of stable names";
#endif
    QTemporaryDir dir;
    writeAll(dir.filePath("ttyUSB0"), "");
    writeAll(dir.filePath("ttyUSB1"), "");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("by-id")));
    const QString link = dir.filePath("by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0");
    ASSERT_TRUE(QFile::link(dir.filePath("ttyUSB0"), link));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("by-id/usb-broken-link")));

    const struct {
        QString device;
        QString expected;
    } cases[] = {
        {dir.filePath("ttyUSB0"), link},
        {link, link},
        {dir.filePath("ttyUSB1"), dir.filePath("ttyUSB1")},
        {dir.filePath("missing"), dir.filePath("missing")},
    };
    for (const auto& c : cases) {
        const QString actual = portmap::stableDeviceName(c.device, dir.filePath("by-id"));
        EXPECT_EQ(actual, c.expected) << "device " << c.device.toStdString();
    }
    EXPECT_EQ(portmap::stableDeviceName(dir.filePath("ttyUSB0"), dir.filePath("no-such-dir")), dir.filePath("ttyUSB0"));
}

#ifndef Q_OS_WIN
// The QSerialPort back end's reasons; the Win32 back end's are in
// win_serial_control_test.
TEST(PortMapTest, ARefusedOpenNamesTheGroupToJoinAndHowAndOtherFailuresKeepTheSystemsReason)
{
    const QString denied = QStringLiteral("Permission denied");
    const struct {
        int error;
        QString group;
        QStringList expectedParts; // in this order
        QStringList unexpectedParts;
    } cases[] = {
        {QSerialPort::PermissionError,
         "dialout",
         {"Permission denied", "/dev/ttyUSB0", "group \"dialout\"", "sudo usermod -aG dialout $USER",
          "log out and in again"},
         {}},
        {QSerialPort::PermissionError, "uucp", {"group \"uucp\"", "sudo usermod -aG uucp $USER"}, {"dialout\""}},
        {QSerialPort::PermissionError, "root", {"Permission denied", "administrator"}, {"usermod"}},
        {QSerialPort::PermissionError, "", {"Permission denied", "administrator"}, {"usermod"}},
        {QSerialPort::DeviceNotFoundError, "dialout", {"Permission denied"}, {"usermod", "group"}},
        {QSerialPort::OpenError, "dialout", {"Permission denied"}, {"usermod", "group"}},
    };
    for (const auto& c : cases) {
        const QString text = openFailureReason(c.error, denied, "/dev/ttyUSB0", c.group);
        qsizetype from = 0;
        for (const QString& part : c.expectedParts) {
            const qsizetype at = text.indexOf(part, from);
            EXPECT_GE(at, 0) << "error " << c.error << ", group \"" << c.group.toStdString() << "\": expected \""
                             << part.toStdString() << "\" in order in:\n"
                             << text.toStdString();
            from = at < 0 ? from : at;
        }
        for (const QString& part : c.unexpectedParts) {
            EXPECT_FALSE(text.contains(part)) << "error " << c.error << ", group \"" << c.group.toStdString()
                                              << "\": unexpected \"" << part.toStdString() << "\" in:\n"
                                              << text.toStdString();
        }
    }
}

TEST(PortMapTest, ARefusedDeviceTheAccountMayUseIsInUseByAnotherProgramNotAPermissionProblem)
{
    const QString locked = QStringLiteral("Permission error while locking the device");
    for (const qint64 holder : {qint64(0), qint64(4242)}) {
        const QString text = openFailureReason(QSerialPort::PermissionError, locked, "/dev/ttyUSB0", "dialout", true,
                                               holder);
        EXPECT_TRUE(text.startsWith("/dev/ttyUSB0 is in use by another program")) << text.toStdString();
        EXPECT_EQ(text.contains("process 4242"), holder == 4242) << text.toStdString();
        EXPECT_FALSE(text.contains("administrator") || text.contains("usermod")) << text.toStdString();
    }
    EXPECT_EQ(openFailureReason(QSerialPort::DeviceNotFoundError, "No such file", "/dev/ttyUSB0", "dialout", true, 1),
              "No such file")
        << "only a refusal can mean the device is taken";
}
#endif

TEST(PortMapTest, MapPortTakesAComNumberAndADeviceOrNothing)
{
    using portcommand::Mapping;
    const struct {
        const char* text;
        std::optional<Mapping> expected;
    } cases[] = {
        {"3=/dev/ttyUSB0", Mapping{3, "/dev/ttyUSB0"}},
        {"16=/dev/serial/by-id/usb-x=y", Mapping{16, "/dev/serial/by-id/usb-x=y"}},
        {"3=", Mapping{3, ""}},
        {"3= ", Mapping{3, ""}},
        {"0=/dev/ttyUSB0", std::nullopt},
        {"-1=/dev/ttyUSB0", std::nullopt},
        {"COM3=/dev/ttyUSB0", std::nullopt},
        {"=/dev/ttyUSB0", std::nullopt},
        {"/dev/ttyUSB0", std::nullopt},
        {"99999999999=x", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto actual = portcommand::parseMapping(QString::fromUtf8(c.text));
        EXPECT_EQ(actual.has_value(), c.expected.has_value()) << "\"" << c.text << "\"";
        if (actual && c.expected) {
            EXPECT_EQ(*actual, *c.expected) << "\"" << c.text << "\": port " << actual->port << ", device \""
                                            << actual->device.toStdString() << "\"";
        }
    }
    EXPECT_TRUE(portcommand::requested({"zelvar-data", "--list-ports"}));
    EXPECT_TRUE(portcommand::requested({"zelvar-data", "--map-port=3="}));
    EXPECT_FALSE(portcommand::requested({"zelvar-data", "--run-for", "3"}));
}

TEST(PortMapTest, TheReportListsTheDevicesAndWhatEachComNumberOpensAndWhy)
{
    portmap::DeviceInfo adapter;
    adapter.device = "/dev/ttyUSB0";
    adapter.description = "FT232R USB UART";
    adapter.manufacturer = "FTDI";
    adapter.serialNumber = "A10K5XYZ";
    adapter.vendorId = 0x0403;
    adapter.productId = 0x6001;
    portmap::DeviceInfo plain;
    plain.device = "/dev/ttyS0";

    const QString text = portcommand::report(
        {adapter, plain}, {1, 3, 5},
        [](int port) {
            if (port == 3)
                return portmap::Resolution{"/dev/ttyUSB0", portmap::Source::Saved};
            if (port == 5)
                return portmap::Resolution{"/dev/pts/4", portmap::Source::Variable};
            return portmap::Resolution{"/dev/ttyS0", portmap::Source::Default};
        },
        [](const QString& device) { return device != "/dev/pts/4"; });
    const QStringList expectedLines = {
        "  /dev/ttyUSB0  (FT232R USB UART, FTDI, serial A10K5XYZ, USB 0403:6001)",
        "  /dev/ttyS0",
        "  COM1   /dev/ttyS0    [default, present]",
        "  COM3   /dev/ttyUSB0  [saved, present]",
        "  COM5   /dev/pts/4    [variable ZELVAR_COM5, not present]",
    };
    const QStringList lines = text.split('\n');
    for (const QString& line : expectedLines)
        EXPECT_TRUE(lines.contains(line)) << "expected the line \"" << line.toStdString() << "\" in:\n"
                                          << text.toStdString();
    EXPECT_TRUE(portcommand::report({}, {}, {}, {}).contains("none"));
}

} // namespace
