// zelvar-data: the desktop program.

#include "platform/FileSystem.h"
#include "shell/DataDirectory.h"
#include "shell/InstanceLock.h"
#include "shell/NorvDynoData.h"
#include "shell/PortCommand.h"
#include "shell/QtMessageBox.h"
#include "shell/UnattendedRun.h"
#include "shell/ZelvarApplication.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt aborts with a long message when it finds no display; say it in one line
// and how to run without one.
bool displayMissing()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const auto unset = [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr || *value == '\0';
    };
    return unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM");
#else
    return false;
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    bool helpOrVersion = false;
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0
            || std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            qputenv("QT_QPA_PLATFORM", "minimal"); // help needs no window
            helpOrVersion = true;
        }
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    // The port map is kept from a terminal too, over ssh or before any
    // desktop runs: no window, no display.
    if (!helpOrVersion && zelvar::portcommand::requested(arguments)) {
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        return zelvar::portcommand::run(arguments, out, err);
    }
    if (displayMissing()) {
        std::fprintf(stderr,
                     "zelvar-data: no display (DISPLAY is not set); on a machine without one, "
                     "run it as: xvfb-run %s\n",
                     argv[0]);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zelvar-data"));
    QApplication::setApplicationVersion(QStringLiteral(ZELVAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Zelvar QT4 Data: the data logger of a small-motor inertia dynamometer.\n"
                       "COM port n opens the device named by the environment variable ZELVAR_COM<n>\n"
                       "(for example ZELVAR_COM3=/dev/ttyUSB0), else the device saved for it (with\n"
                       "--map-port, or in the window: Ctrl+P or the port list's context menu), else\n"
                       "/dev/ttyS<n-1> (COMn on Windows). The saved map is kept in\n"
                       "~/.config/zelvar/zelvar-data.conf.\n"
                       "Temp.dat and save.csv are written in the program's directory; when that is not\n"
                       "writable (an installed program), in the user's data directory\n"
                       "(~/.local/share/zelvar-data; on Windows %LOCALAPPDATA%\\Zelvar QT4 Data), with\n"
                       "copies of the control files RCS.dat and RTA.dat.\n"
                       "Every run is also kept beside them in runs/<start time>/ (run.json, Temp.dat,\n"
                       "save.csv), unless switched off in the chart window's Runs tab or with --no-archive."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption appDir(QStringLiteral("app-dir"),
                                    QStringLiteral("Use DIR as the program's directory (for tests and scripts)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption drivesRoot(
        QStringLiteral("drives-root"),
        QStringLiteral("Where drive paths such as C:\\WINDOWS\\system32 live instead (for tests)."),
        QStringLiteral("DIR"));
    const QCommandLineOption runFor(
        QStringLiteral("run-for"),
        QStringLiteral("Press Start once the window shows, Stop after SECONDS, then end; exit code 0 when the "
                       "run ended \"Now Ready\", else 1 with the reason on standard error."),
        QStringLiteral("SECONDS"));
    // Handled above, before the application object; here for --help.
    const QCommandLineOption listPorts(
        QStringLiteral("list-ports"),
        QStringLiteral("Print the serial devices present and the device each COM number opens, with where that "
                       "comes from (variable, saved, default); no window."));
    const QCommandLineOption mapPort(
        QStringLiteral("map-port"),
        QStringLiteral("Save DEVICE for COM port N (N=DEVICE, for example 3=/dev/ttyUSB0; its /dev/serial/by-id "
                       "name is kept where it has one), or remove the saved device (N=); no window. Exit code 0, "
                       "or 2 for a malformed value."),
        QStringLiteral("N=DEVICE"));
    const QCommandLineOption noArchive(
        QStringLiteral("no-archive"),
        QStringLiteral("Keep no run in the archive (runs/ beside Temp.dat) this time, whatever the setting says."));
    parser.addOptions({appDir, drivesRoot, runFor, listPorts, mapPort, noArchive});
    parser.process(app);

    zelvar::ShellOptions options;
    if (parser.isSet(appDir)) {
        options.applicationDirectory = QDir(parser.value(appDir)).absolutePath();
    } else {
        const QString programDirectory = QCoreApplication::applicationDirPath();
        options.applicationDirectory = zelvar::dataDirectory(zelvar::FileSystem(), programDirectory,
                                                             zelvar::userDataDirectory());
    }
    options.drivesRoot = parser.value(drivesRoot);
    options.noArchive = parser.isSet(noArchive);

    // A second program on the same data directory runs no run loop: its
    // Start would empty the first one's Temp.dat.
    zelvar::InstanceLock lock(options.applicationDirectory);
    if (!lock.tryLock()) {
        if (parser.isSet(runFor))
            std::fprintf(stderr, "zelvar-data: %s\n", qPrintable(lock.alreadyRunningMessage()));
        else
            zelvar::QtMessageBox().showCritical(QStringLiteral("Zelvar QT4 Data"), lock.alreadyRunningMessage());
        return 1;
    }

    zelvar::ZelvarApplication program(std::move(options));
    if (!program.Form_Load())
        return 0;
    zelvar::NorvDynoData& window = program.mainWindow();
    window.show();
    if (!parser.isSet(runFor))
        return QApplication::exec();

    bool secondsOk = false;
    const double seconds = parser.value(runFor).toDouble(&secondsOk);
    if (!secondsOk || seconds < 0 || seconds > 1e6) {
        std::fprintf(stderr, "zelvar-data: --run-for needs a number of seconds, not \"%s\"\n",
                     qPrintable(parser.value(runFor)));
        return 2;
    }
    const int exitCode = zelvar::runUnattended(program, seconds);
    program.Form_Unload();
    return exitCode;
}
