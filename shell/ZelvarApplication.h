#pragma once

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/PortMap.h"
#include "records/SequentialFiles.h"
#include "session/LiveTrace.h"

#include <QLocale>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QPushButton;

namespace zelvar {

class ChartWindow;
class DiskSync;
class Frm_RS232;
class MessageBox;
class NorvDynoData;
class PortControls;
class PortDialog;
class PortSelection;
class RunController;
class SerialControl;
namespace session {
class RunSession;
}

// What the program takes from its surroundings; tests replace any of it.
struct ShellOptions {
    // Where Temp.dat, save.csv, RCS.dat and RTA.dat are: the program's own
    // directory.
    QString applicationDirectory;
    // Where drive paths ("C:\WINDOWS\system32") live off Windows; empty: they
    // do not exist there.
    QString drivesRoot;
    // The serial control that the serial host window hosts; a QSerialPort
    // one when not set.
    std::function<std::unique_ptr<SerialControl>()> makeSerialControl;
    // Modal messages; a Qt message box when not set.
    MessageBox* messageBox = nullptr;
    // Time of day; the system's when not set.
    const Clock* clock = nullptr;
    QLocale locale = QLocale::system();
    // Ends the program at once; quits the event loop when not set.
    std::function<void()> endProgram;
    // The chart window's clock for its redraw limit; a steady clock when not
    // set.
    std::function<std::chrono::milliseconds()> chartClock;
    // Runs `action` once after `delay`, on the event loop; a QTimer when not
    // set. The run's watch for frames is the only user.
    std::function<void(std::chrono::milliseconds delay, std::function<void()> action)> startTimer;
    // The serial devices the port dialog lists; the system's when not set.
    std::function<QList<portmap::DeviceInfo>()> serialDevices;
    // Keeps no run in the archive whatever the settings say (--no-archive).
    bool noArchive = false;
};

// The program put together: the main window and the serial host window, the
// handlers behind their events, the run session around them, and the one
// table of numbered files they share.
class ZelvarApplication final : public QObject {
    Q_OBJECT

public:
    explicit ZelvarApplication(ShellOptions options);
    ~ZelvarApplication() override;

    // The load step, before the main window is first shown: the control
    // files are checked (a missing one is reported in a message box, and
    // false means the program ends without showing the window), the
    // components installed, the serial host window loaded and both lists set
    // up. The port stays closed.
    bool Form_Load();

    // The unload step: closes the port if it is open and ends the program;
    // open files are closed with what they hold, and a run still recorded is
    // kept in the archive.
    void Form_Unload();

    NorvDynoData& mainWindow() { return *form_; }
    // SerialForm: the serial host window, once the load step has loaded it.
    Frm_RS232* serialForm() { return serialForm_.get(); }
    SequentialFiles& files() { return files_; }
    // Once the load step has made it.
    session::RunSession* session() { return session_.get(); }

    // The chart window, made and shown on first use: Ctrl+G, the Curves
    // button, or a Stop that wrote a report. During a run it shows the live
    // trace; otherwise the last report.
    void showCharts();
    ChartWindow* chartWindow() { return charts_.get(); }
    QPushButton* chartButton() { return chartButton_; }
    const session::LiveTrace& liveTrace() const { return liveTrace_; }

    PortDialog* portDialog();

private:
    void connectSession();
    void addChartControls();
    ChartWindow& charts();

    ShellOptions options_;
    SystemClock systemClock_;
    std::unique_ptr<MessageBox> ownMessageBox_;
    FileSystem fileSystem_;
    SequentialFiles files_;
    // Filled by the receiver, drawn by the chart window: it outlives both.
    session::LiveTrace liveTrace_;
    std::unique_ptr<NorvDynoData> form_;
    std::unique_ptr<PortControls> portControls_;
    std::unique_ptr<Frm_RS232> serialForm_;
    std::unique_ptr<PortSelection> ports_;
    std::unique_ptr<RunController> runControl_;
    std::unique_ptr<DiskSync> diskSync_;
    std::unique_ptr<session::RunSession> session_;
    std::unique_ptr<ChartWindow> charts_;
    QPushButton* chartButton_ = nullptr;
};

} // namespace zelvar
