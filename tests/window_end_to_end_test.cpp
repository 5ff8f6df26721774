// The whole program against the simulated dyno: dyno-sim streams on a
// pseudo-terminal that COM 3 points at, the real windows run offscreen with
// the QSerialPort back end, and Start and Stop are clicked as an operator
// would.

#include "platform/MessageBox.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include "QtPrinters.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "ProgramTest.h"
#include "RecordingMessageBox.h"

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

TEST(WindowEndToEnd, ARunAgainstTheSimulatedDynoGivesAReport)
{
    QTemporaryDir dir;
    for (const char* name : {"RCS.dat", "RTA.dat"})
        writeAll(dir.filePath(name), "");

    // One spin-up of five seconds after half a second at standstill, in real
    // time; the run is stopped before the simulator ends, since its end is a
    // pulled cable to the program.
    SimProcess sim({"--wait-for-reader", "--idle", "0.5", "--spin", "5", "--brake", "0.5", "--repeat", "1"},
                   dir.path());
    const QByteArray mapping = sim.mapping();
    ASSERT_TRUE(mapping.startsWith("ZELVAR_COM3=")) << sim.finish().err.toStdString();
    qputenv("ZELVAR_COM3", mapping.mid(mapping.indexOf('=') + 1));

    ShownProgram live(dir.path());
    ASSERT_TRUE(live.load());
    NorvDynoData& window = live.program.mainWindow();

    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    ASSERT_EQ(window.label2Widget()->text(), "Now Running") << window.label2Widget()->toolTip().toStdString();
    const auto recorded = [&] { return readAll(dir.filePath("Temp.dat")).count('\n'); };
    EXPECT_TRUE(pumpUntil([&] { return recorded() >= 100 || window.label2Widget()->text() == "Error!"; }, 20s))
        << recorded() << " records";
    // The set-up frame has filled the flywheel boxes.
    EXPECT_EQ(window.text1Widget(4)->text(), "30");
    EXPECT_EQ(window.text1Widget(5)->text(), "240");
    EXPECT_EQ(window.label2Widget()->text(), "Now Running") << window.label2Widget()->toolTip().toStdString();

    QTest::mouseClick(window.command1Widget(), Qt::LeftButton);
    EXPECT_EQ(window.label2Widget()->text(), "Now Ready") << window.label2Widget()->toolTip().toStdString();
    qunsetenv("ZELVAR_COM3");
    sim.waitForFinished(10s);

    const QList<QByteArray> records = readAll(dir.filePath("Temp.dat")).split('\n');
    EXPECT_GE(records.size(), 100) << "two seconds of samples at 50 a second";
    const QList<QByteArray> report = readAll(dir.filePath("save.csv")).split('\n');
    ASSERT_EQ(report.size(), records.size() + 4);
    EXPECT_TRUE(report[report.size() - 2].startsWith("30,240,\"")) << report[report.size() - 2].toStdString();
    int withTorque = 0;
    for (const QByteArray& row : report.mid(1, records.size() - 1)) {
        const QList<QByteArray> fields = row.trimmed().split(',');
        if (fields.size() == 8 && fields[4] != "0")
            ++withTorque;
    }
    EXPECT_GE(withTorque, 10) << "the spin-up gives rows with torque";
    EXPECT_TRUE(live.messages.shown.isEmpty());
}

} // namespace

#endif // Q_OS_UNIX
