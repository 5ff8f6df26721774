// The port map on real pseudo-terminals and with the real program: which
// device a COM number opens, what a refused or missing device says, the
// command line without a display, and a run that hears nothing. Settings are
// scratch ones throughout.

#include "platform/PortMap.h"
#include "platform/SerialControl.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include "Files.h"
#include "Frames.h"
#include "QtPrinters.h"
#include "RecordingMessageBox.h"
#include "ScratchSettings.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX

#include "ProgramTest.h"
#include "PseudoTerminal.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

constexpr int kPort = 5;

std::string errorOfOpening(SerialControl& serial)
{
    try {
        serial.setPortOpen(true);
    } catch (const RuntimeError& error) {
        return error.what();
    }
    return {};
}

class PortMapPtyTest : public testing::Test {
protected:
    PortMapPtyTest() { qunsetenv("ZELVAR_COM5"); }
    ~PortMapPtyTest() override { qunsetenv("ZELVAR_COM5"); }

    ScratchSettings settings_;
};

TEST_F(PortMapPtyTest, TheVariableWinsOverTheSavedDeviceWhichWinsOverTheDefault)
{
    PseudoTerminal saved;
    PseudoTerminal variable;
    ASSERT_TRUE(saved.ready() && variable.ready());
    struct Case {
        bool save;
        bool setVariable;
        QString expected;
    };
    const Case cases[] = {
        {true, false, saved.slavePath()},
        {true, true, variable.slavePath()},
        {false, true, variable.slavePath()},
        {false, false, portmap::defaultDevice(kPort)},
    };
    for (const Case& c : cases) {
        if (c.save)
            portmap::saveDevice(kPort, saved.slavePath());
        else
            portmap::forgetDevice(kPort);
        if (c.setVariable)
            qputenv("ZELVAR_COM5", variable.slavePath().toLocal8Bit());
        else
            qunsetenv("ZELVAR_COM5");
        const std::string which = std::string("saved ") + (c.save ? "yes" : "no") + ", variable "
                                + (c.setVariable ? "yes" : "no") + ": expected " + c.expected.toStdString();
        EXPECT_EQ(portDeviceName(kPort), c.expected) << which;
        if (c.expected == portmap::defaultDevice(kPort))
            continue; // a legacy UART that may or may not be there

        QtSerialControl serial;
        serial.setCommPort(kPort);
        ASSERT_EQ(errorOfOpening(serial), "") << which;
        EXPECT_EQ(serial.deviceName(), c.expected) << which;
        // The bytes come from the pseudo-terminal it names.
        PseudoTerminal& sender = c.expected == saved.slavePath() ? saved : variable;
        sender.send(QByteArray(SerialControl::kReceiveThreshold, 'x'));
        EXPECT_TRUE(pumpUntil([&] { return serial.InBufferCount() >= SerialControl::kReceiveThreshold; })) << which;
        serial.setPortOpen(false);
    }
}

TEST_F(PortMapPtyTest, ASavedDeviceThatIsMissingSaysSoWhenOpened)
{
    QTemporaryDir dir;
    const QString gone = dir.filePath("usb-FTDI-if00-port0");
    portmap::saveDevice(kPort, gone);
    QtSerialControl serial;
    serial.setCommPort(kPort);
    const std::string error = errorOfOpening(serial);
    EXPECT_NE(error.find("cannot open serial port " + gone.toStdString()), std::string::npos) << error;
    EXPECT_NE(error.find("saved for COM5"), std::string::npos) << error;
    EXPECT_FALSE(serial.PortOpen());
}

TEST_F(PortMapPtyTest, ADeviceTheUserMayNotOpenNamesItsGroupAndTheCommandToJoinIt)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens any device";
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ready());
    ASSERT_EQ(::chmod(terminal.slavePath().toLocal8Bit().constData(), 0), 0);
    qputenv("ZELVAR_COM5", terminal.slavePath().toLocal8Bit());
    QtSerialControl serial;
    serial.setCommPort(kPort);
    const std::string error = errorOfOpening(serial);
    const std::string group = QFileInfo(terminal.slavePath()).group().toStdString();
    EXPECT_NE(error.find("group \"" + group + "\""), std::string::npos) << error;
    EXPECT_NE(error.find("sudo usermod -aG " + group + " $USER"), std::string::npos) << error;
}

// zelvar-data's port options, in a process with no display at all.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun runProgram(const QStringList& arguments, const ScratchSettings& settings, const QString& variable = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ZELVAR_COM5"})
        environment.remove(name);
    if (!variable.isEmpty())
        environment.insert("ZELVAR_COM5", variable);
    settings.applyTo(environment);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(ZELVAR_DATA_PATH, arguments);
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QString comLine(const QString& listing, int port)
{
    const QString start = QStringLiteral("  COM%1 ").arg(port);
    for (const QString& line : listing.split('\n'))
        if (line.startsWith(start))
            return line.simplified();
    return {};
}

TEST_F(PortMapPtyTest, ListPortsAndMapPortKeepTheMapWithoutADisplay)
{
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ready());
    const QString device = terminal.slavePath();

    ProgramRun run = runProgram({"--map-port", "5=" + device}, settings_);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("COM5 opens " + device + " (saved)")) << run.out.toStdString();
    EXPECT_EQ(portmap::savedDevice(kPort), device) << "saved in the settings the process was given";

    const struct {
        QString variable;
        QString expectedLine;
    } listings[] = {
        {"", "COM5 " + device + " [saved, present]"},
        {"/dev/zelvar-none", "COM5 /dev/zelvar-none [variable ZELVAR_COM5, not present]"},
    };
    for (const auto& listing : listings) {
        run = runProgram({"--list-ports"}, settings_, listing.variable);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith("Serial devices present:")) << run.out.toStdString();
        EXPECT_EQ(comLine(run.out, kPort), listing.expectedLine) << run.out.toStdString();
        EXPECT_TRUE(comLine(run.out, 16).startsWith("COM16 " + portmap::defaultDevice(16) + " [default, "))
            << run.out.toStdString();
    }

    run = runProgram({"--map-port=5="}, settings_);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(portmap::savedDevice(kPort), "");
    EXPECT_TRUE(run.out.contains("COM5 opens " + portmap::defaultDevice(kPort) + " (default)"))
        << run.out.toStdString();

    for (const QStringList& wrong : {QStringList{"--map-port", "COM5=/dev/ttyUSB0"}, QStringList{"--map-port"}}) {
        run = runProgram(wrong, settings_);
        EXPECT_EQ(run.exitCode, 2) << wrong.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("N=DEVICE")) << run.err.toStdString();
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(PortMapPtyTest, ARunOnASilentPseudoTerminalSaysSoAfterThreeSecondsUntilTheFirstFrame)
{
    PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ready());
    QTemporaryDir appDir;
    writeAll(appDir.filePath("RCS.dat"), "serial");
    writeAll(appDir.filePath("RTA.dat"), "controls");
    portmap::saveDevice(3, terminal.slavePath());
    qunsetenv("ZELVAR_COM3");

    ShownProgram live(appDir.path());
    ASSERT_TRUE(live.load());
    NorvDynoData& window = live.program.mainWindow();
    QLabel* status = window.label2Widget();

    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(status->text(), "Now Running") << status->toolTip().toStdString();
    // Bytes at a wrong line speed: they arrive, but make no frame.
    terminal.send(QByteArray(64, '\x55'));
    EXPECT_TRUE(pumpUntil([&] { return !status->toolTip().isEmpty(); }, 10s)) << "no hint";
    EXPECT_TRUE(status->toolTip().contains(terminal.slavePath())) << status->toolTip().toStdString();
    EXPECT_EQ(status->text(), "Now Running");

    terminal.send(setupFrame() + runSample(2, 2));
    EXPECT_TRUE(pumpUntil([&] { return status->toolTip().isEmpty(); })) << status->toolTip().toStdString();
    EXPECT_EQ(status->text(), "Now Running");
    EXPECT_TRUE(live.messages.shown.isEmpty());
    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    live.program.Form_Unload();
}

} // namespace

#endif
