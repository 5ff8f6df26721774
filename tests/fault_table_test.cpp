// The fault table of docs/faults.md, row by row, with the real components: the
// real windows offscreen, the QSerialPort back end on a pseudo-terminal (the
// test's own, or dyno-sim's), real files in a real directory. Each row checks
// what the operator sees, that the program is still usable afterwards, that
// every sample it took in is in Temp.dat, and that save.csv is either the new
// whole report or the previous one untouched.

#include "platform/MessageBox.h"
#include "platform/SerialControl.h"
#include "records/SequentialFiles.h"
#include "shell/Frm_RS232.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include "QtPrinters.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <variant>

#ifdef Q_OS_UNIX

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "Frames.h"
#include "ProgramTest.h"
#include "PseudoTerminal.h"
#include "RecordingMessageBox.h"

#include <unistd.h>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

// A run sample at 12 V and 5 A, its speed climbing with the tick.
QByteArray climbingSample(int tick)
{
    return frameBytes(TelemetryFrame::RunSample, tick, {1200, 50, tick % 300});
}

// The tick counts of the records in a run file (the first field is the run
// time in seconds).
QList<int> recordedTicks(const QByteArray& runFile)
{
    QList<int> ticks;
    for (const QByteArray& line : runFile.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        ticks << int(std::lround(line.split(',').first().toDouble() * 100));
    }
    return ticks;
}

// The tick counts the program must record from a byte stream, found by the
// receiver's rule: a frame starts at 0xD9 0xAB (a second 0xD9 starts it
// anew), takes the 11 bytes that follow, and is recorded when it is a run
// sample whose tick count is a nonzero multiple of `divisor` and differs
// from the one recorded before.
QList<int> ticksToRecord(const QByteArray& stream, int divisor)
{
    QList<int> ticks;
    int lastTick = -1;
    qsizetype i = 0;
    while (i + TelemetryFrame::kSize <= stream.size()) {
        if (quint8(stream[i]) != TelemetryFrame::kSync0) {
            ++i;
            continue;
        }
        if (quint8(stream[i + 1]) == TelemetryFrame::kSync0) {
            ++i;
            continue;
        }
        if (quint8(stream[i + 1]) != TelemetryFrame::kSync1) {
            i += 2;
            continue;
        }
        TelemetryFrame frame;
        std::copy_n(reinterpret_cast<const quint8*>(stream.constData() + i), TelemetryFrame::kSize,
                    frame.bytes.begin());
        i += TelemetryFrame::kSize;
        if (frame.is(TelemetryFrame::RunSample) && frame.tickCount() != 0 && frame.tickCount() % divisor == 0
            && frame.tickCount() != lastTick) {
            ticks << frame.tickCount();
            lastTick = frame.tickCount();
        }
    }
    return ticks;
}

// True when `recorded` is an unbroken stretch of `expected`: nothing in
// between was lost.
testing::AssertionResult isUnbrokenStretch(const QList<int>& recorded, const QList<int>& expected)
{
    if (recorded.isEmpty())
        return testing::AssertionFailure() << "nothing was recorded";
    const qsizetype first = expected.indexOf(recorded.first());
    if (first < 0)
        return testing::AssertionFailure() << "tick " << recorded.first() << " was never sent";
    for (qsizetype k = 0; k < recorded.size(); ++k) {
        if (first + k >= expected.size() || expected[first + k] != recorded[k])
            return testing::AssertionFailure() << "record " << k + 1 << ": tick " << recorded[k] << ", expected "
                                               << (first + k < expected.size() ? expected[first + k] : -1);
    }
    return testing::AssertionSuccess() << recorded.size() << " records";
}

class FaultTableTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        for (const char* name : {"RCS.dat", "RTA.dat"})
            writeAll(file(name), "");
        ASSERT_TRUE(pty_.ready());
        qputenv("ZELVAR_COM3", pty_.slavePath().toLocal8Bit());
    }

    void TearDown() override
    {
        sim_.reset();
        program_.reset();
        qunsetenv("ZELVAR_COM3");
    }

    QString file(const QString& name) const { return dir_.filePath(name); }

    NorvDynoData& load()
    {
        ShellOptions options = testOptions(dir_.path(), messages_);
        program_ = std::make_unique<ZelvarApplication>(options);
        EXPECT_TRUE(program_->Form_Load());
        program_->mainWindow().show();
        return program_->mainWindow();
    }

    NorvDynoData& window() { return program_->mainWindow(); }
    QString status() { return window().label2Widget()->text(); }
    std::string reason() { return window().label2Widget()->toolTip().toStdString(); }
    bool portOpen() { return program_->serialForm()->MSComm1().PortOpen(); }
    void click() { QTest::mouseClick(window().command1Widget(), Qt::LeftButton); }
    void type(QLineEdit* box, const QString& text)
    {
        box->selectAll();
        QTest::keyClicks(box, text);
    }
    // Clicks Start: a failure, with the reason shown, when no run starts.
    ::testing::AssertionResult start()
    {
        click();
        if (status() == "Now Running")
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "status " << status().toStdString() << ": " << reason();
    }
    // Start on a port another program holds: refused, naming the device, and
    // nothing recorded.
    void expectStartRefusedOnABusyPort()
    {
        click();
        EXPECT_EQ(status(), "Error!");
        EXPECT_NE(reason().find(pty_.slavePath().toStdString()), std::string::npos) << reason();
        EXPECT_EQ(window().command1Widget()->text(), "Start");
        EXPECT_FALSE(portOpen());
        EXPECT_FALSE(QFile::exists(file("save.csv")));
    }
    qsizetype records() { return readAll(file("Temp.dat")).count('\n'); }

    // Sends run samples for the ticks (after a set-up frame when asked) and
    // waits until the program has recorded `expectedRecords` in all.
    void sendAndWait(std::initializer_list<int> ticks, qsizetype expectedRecords, bool setup = false)
    {
        QByteArray bytes = setup ? setupFrame() : QByteArray();
        for (int tick : ticks)
            bytes += climbingSample(tick);
        pty_.send(bytes);
        EXPECT_TRUE(pumpUntil([&] { return records() >= expectedRecords || status() == "Error!"; }))
            << records() << " records, status " << status().toStdString();
    }

    // The Start, a set-up frame and a run of three samples, the Stop: the
    // program works.
    void expectAWholeRun()
    {
        ASSERT_TRUE(start());
        sendAndWait({2, 4, 6}, 3, true);
        click();
        EXPECT_EQ(status(), "Now Ready") << reason();
        EXPECT_EQ(recordedTicks(readAll(file("Temp.dat"))), QList<int>({2, 4, 6}));
        EXPECT_TRUE(readAll(file("save.csv")).endsWith("\r\n")) << "a whole report";
    }

    // Starts dyno-sim on its own pseudo-terminal and points COM 3 at it.
    void startSim(QStringList arguments)
    {
        sim_.emplace(arguments << "--wait-for-reader", dir_.path());
        const QByteArray mapping = sim_->mapping();
        ASSERT_TRUE(mapping.startsWith("ZELVAR_COM3=")) << sim_->finish().err.toStdString();
        qputenv("ZELVAR_COM3", mapping.mid(mapping.indexOf('=') + 1));
    }

    void expectOnlyFiles(const QStringList& names)
    {
        QStringList present = QDir(dir_.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        present.removeAll("link.txt");
        present.removeAll("stream.bin");
        present.removeAll("runs"); // the run archive, looked at by tests of its own
        EXPECT_EQ(present, names) << "no temporary report is left behind";
    }

    QTemporaryDir dir_;
    PseudoTerminal pty_;
    std::optional<SimProcess> sim_;
    RecordingMessageBox messages_;
    std::unique_ptr<ZelvarApplication> program_;
};

TEST_F(FaultTableTest, DevicePulledMidRunEndsInErrorWithEveryRecordKept)
{
    startSim({"--idle", "0.2", "--spin", "5", "--vanish-after", "1.5", "--out", file("stream.bin")});
    load();
    ASSERT_TRUE(start());
    ASSERT_TRUE(pumpUntil([&] { return status() == "Error!"; }, 20s)) << records() << " records";

    EXPECT_FALSE(reason().empty());
    EXPECT_EQ(window().command1Widget()->text(), "Start");
    EXPECT_TRUE(window().combo1Widget()->isEnabled());
    EXPECT_FALSE(portOpen());
    // The event loop may have seen it end already.
    EXPECT_TRUE(sim_->waitForFinished(10s)) << sim_->finish().err.toStdString();
    const QList<int> expected = ticksToRecord(readAll(file("stream.bin")), 2);
    const QList<int> recorded = recordedTicks(readAll(file("Temp.dat")));
    EXPECT_TRUE(isUnbrokenStretch(recorded, expected));
    EXPECT_GE(recorded.size(), 50) << "a second and more of samples at 50 a second";
    EXPECT_FALSE(QFile::exists(file("save.csv"))) << "a lost device writes no report";
    EXPECT_TRUE(messages_.shown.isEmpty());
}

TEST_F(FaultTableTest, MissingPortEndsStartInErrorAndAFreshStartWorks)
{
    const QString missing = QStringLiteral("/nonexistent-zelvar-dir/ttyUSB%1").arg(QCoreApplication::applicationPid());
    qputenv("ZELVAR_COM3", missing.toLocal8Bit());
    load();
    writeAll(file("save.csv"), "previous report");
    click();
    EXPECT_EQ(status(), "Error!");
    EXPECT_NE(reason().find("No such file or directory"), std::string::npos) << reason();
    EXPECT_NE(reason().find(missing.toStdString()), std::string::npos) << reason();
    EXPECT_EQ(window().command1Widget()->text(), "Start");
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(readAll(file("save.csv")), "previous report");

    // The adapter is plugged in: the same program runs.
    qputenv("ZELVAR_COM3", pty_.slavePath().toLocal8Bit());
    expectAWholeRun();
}

TEST_F(FaultTableTest, BusyPortEndsStartInErrorAndAFreshStartWorks)
{
    load();
    // Another program holds the port: QSerialPort's lock file names a live
    // owner whichever process that is, so a second control stands in for it.
    auto other = std::make_unique<QtSerialControl>();
    other->setCommPort(3);
    other->setPortOpen(true);
    expectStartRefusedOnABusyPort();

    other.reset();
    expectAWholeRun();
}

TEST_F(FaultTableTest, PortHeldByAnotherProgramEndsStartInError)
{
    // Another zelvar-data, started on the same port, records a run there.
    QTemporaryDir otherDir;
    for (const char* name : {"RCS.dat", "RTA.dat"})
        writeAll(otherDir.filePath(name), "");
    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    other.setProcessEnvironment(environment);
    other.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", otherDir.path(), "--run-for", "600"});
    ASSERT_TRUE(other.waitForStarted(5000));
    const QString otherRun = otherDir.filePath("Temp.dat");
    ASSERT_TRUE(pumpUntil([&] { return QFile::exists(otherRun) || other.state() == QProcess::NotRunning; }, 20s));
    // A record there means its port is open. Its Start empties the line's
    // buffer after opening, so samples are sent until one is recorded.
    int tick = 0;
    ASSERT_TRUE(pumpUntil(
        [&] {
            pty_.send(climbingSample(tick += 2));
            return readAll(otherRun).count('\n') >= 1;
        },
        20s))
        << other.readAllStandardError().toStdString();

    load();
    expectStartRefusedOnABusyPort();

    other.terminate();
    ASSERT_TRUE(other.state() == QProcess::NotRunning || other.waitForFinished(10000));
}

TEST_F(FaultTableTest, MalformedSettingsTextIsRefusedAndTheLineKeepsItsSettings)
{
    load();
    QComboBox* settings = window().combo2Widget();
    settings->setFocus();
    type(settings->lineEdit(), "115200,X,8");
    // Typed and confirmed with Enter: held back, nothing is applied.
    QTest::keyClick(settings->lineEdit(), Qt::Key_Return);
    EXPECT_NE(status(), "Error!");
    EXPECT_EQ(program_->serialForm()->MSComm1().Settings(), "115200,N,8,1");

    // Reported as a pick: the serial control refuses it.
    Q_EMIT settings->activated(settings->currentIndex());
    EXPECT_EQ(status(), "Error!");
    EXPECT_NE(reason().find("115200,X,8"), std::string::npos) << reason();
    EXPECT_EQ(program_->serialForm()->MSComm1().Settings(), "115200,N,8,1");
    EXPECT_FALSE(portOpen());
    expectAWholeRun();
}

TEST_F(FaultTableTest, UnwritableApplicationDirectoryEndsStartInError)
{
    load();
    writeAll(file("save.csv"), "previous report");
    // The run file cannot be created. A read-only directory does that for a
    // user but not for root (who ignores permissions, as CI runs); a
    // directory in Temp.dat's place does it for both.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("Temp.dat"));
    click();
    EXPECT_EQ(status(), "Error!");
    EXPECT_NE(reason().find("Temp.dat"), std::string::npos) << reason();
    EXPECT_EQ(window().command1Widget()->text(), "Start");
    EXPECT_TRUE(window().combo1Widget()->isEnabled());
    EXPECT_FALSE(portOpen()) << "the port is not opened for a run that cannot be recorded";
    EXPECT_EQ(readAll(file("save.csv")), "previous report");

    if (::geteuid() != 0) {
        ASSERT_TRUE(QDir(dir_.path()).rmdir("Temp.dat"));
        ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        click();
        EXPECT_EQ(status(), "Error!");
        EXPECT_NE(reason().find("Temp.dat"), std::string::npos) << reason();
        ASSERT_TRUE(QFile::setPermissions(dir_.path(),
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    } else {
        ASSERT_TRUE(QDir(dir_.path()).rmdir("Temp.dat"));
    }
    QFile::remove(file("save.csv"));
    expectAWholeRun();
}

TEST_F(FaultTableTest, AReportThatCannotReplaceSaveCsvKeepsTheRunAndLeavesNoHalfReport)
{
    load();
    ASSERT_TRUE(start());
    sendAndWait({2, 4, 6, 8}, 4, true);
    // Something the report cannot be renamed over.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("save.csv"));
    writeAll(file("save.csv/keep"), "x");
    click();
    EXPECT_EQ(status(), "Error!");
    EXPECT_NE(reason().find("save.csv"), std::string::npos) << reason();
    EXPECT_EQ(recordedTicks(readAll(file("Temp.dat"))), QList<int>({2, 4, 6, 8}));
    EXPECT_EQ(readAll(file("save.csv/keep")), "x");
    expectOnlyFiles({"RCS.dat", "RTA.dat", "save.csv", "Temp.dat"});

    ASSERT_TRUE(QDir(file("save.csv")).removeRecursively());
    expectAWholeRun();
}

TEST_F(FaultTableTest, AFullDiskWhileRecordingEndsTheRunInError)
{
    // Every write to /dev/full fails with ENOSPC, as on a full disk; opening
    // it for output succeeds, as creating a file on a full disk does.
    ASSERT_TRUE(QFile::link("/dev/full", file("Temp.dat")));
    load();
    ASSERT_TRUE(start());
    pty_.send(climbingSample(2));
    ASSERT_TRUE(pumpUntil([&] { return status() == "Error!"; })) << status().toStdString();
    EXPECT_NE(reason().find("No space left on device"), std::string::npos) << reason();
    EXPECT_NE(reason().find("Temp.dat"), std::string::npos) << reason();
    EXPECT_EQ(window().command1Widget()->text(), "Start");
    EXPECT_FALSE(portOpen());
    EXPECT_FALSE(QFile::exists(file("save.csv")));

    // Space again: the next run records.
    ASSERT_TRUE(QFile::remove(file("Temp.dat")));
    expectAWholeRun();
}

TEST_F(FaultTableTest, ARunFileCutInsideARecordFailsTheReportAndKeepsThePreviousOne)
{
    load();
    writeAll(file("save.csv"), "previous report");
    ASSERT_TRUE(start());
    sendAndWait({2, 4, 6}, 3, true);
    // The file loses its end in the middle of the third record.
    const QByteArray run = readAll(file("Temp.dat"));
    ASSERT_TRUE(QFile::resize(file("Temp.dat"), run.lastIndexOf(',')));
    click();
    EXPECT_EQ(status(), "Error!");
    EXPECT_NE(reason().find("Temp.dat"), std::string::npos) << reason();
    EXPECT_EQ(readAll(file("save.csv")), "previous report");
    expectOnlyFiles({"RCS.dat", "RTA.dat", "save.csv", "Temp.dat"});
    EXPECT_EQ(window().command1Widget()->text(), "Start");
    EXPECT_FALSE(portOpen());
}

TEST_F(FaultTableTest, ANonNumericRadiusFailsTheReportAndKeepsTheRun)
{
    load();
    writeAll(file("save.csv"), "previous report");
    ASSERT_TRUE(start());
    sendAndWait({2, 4, 6}, 3);
    type(window().text1Widget(4), "3O.5");
    type(window().text1Widget(5), "240");
    click();
    EXPECT_EQ(status(), "Error!");
    EXPECT_NE(reason().find("Flywheel Radius"), std::string::npos) << reason();
    EXPECT_EQ(readAll(file("save.csv")), "previous report");
    EXPECT_EQ(recordedTicks(readAll(file("Temp.dat"))), QList<int>({2, 4, 6}));
    expectOnlyFiles({"RCS.dat", "RTA.dat", "save.csv", "Temp.dat"});
    QFile::remove(file("save.csv"));
    expectAWholeRun();
}

TEST_F(FaultTableTest, AnIntervalOfZeroTypedDuringARunStopsItAtTheNextFrame)
{
    load();
    ASSERT_TRUE(start());
    sendAndWait({2, 4}, 2);
    type(window().text1Widget(8), "0");
    pty_.send(climbingSample(6));
    ASSERT_TRUE(pumpUntil([&] { return status() == "Error!"; }));
    EXPECT_NE(reason().find("divisor of 0"), std::string::npos) << reason();
    EXPECT_EQ(recordedTicks(readAll(file("Temp.dat"))), QList<int>({2, 4}));
    EXPECT_FALSE(portOpen());
    EXPECT_FALSE(QFile::exists(file("save.csv")));
    // Start puts 20 ms back in the box.
    expectAWholeRun();
}

TEST_F(FaultTableTest, AnIntervalOfZeroFromTheDynoEndsTheRunInError)
{
    startSim({"--interval", "0", "--idle", "0.2", "--spin", "5"});
    load();
    ASSERT_TRUE(start());
    ASSERT_TRUE(pumpUntil([&] { return status() == "Error!"; }, 10s));
    EXPECT_NE(reason().find("divisor of 0"), std::string::npos) << reason();
    EXPECT_TRUE(pumpUntil([&] { return window().text1Widget(8)->text() == "0"; }, 1s))
        << "the box shows what the dyno sent, not " << window().text1Widget(8)->text().toStdString();
    EXPECT_FALSE(portOpen());
    // The first set-up frame can fall before Start empties the line's
    // buffer; the samples until the next one (a second later) are then
    // recorded, and kept whole.
    const QByteArray run = readAll(file("Temp.dat"));
    EXPECT_TRUE(run.isEmpty() || run.endsWith("\r\n")) << run.right(40).toStdString();
    EXPECT_FALSE(QFile::exists(file("save.csv")));
}

TEST_F(FaultTableTest, StrayBytesAndBadFramesLoseNoGoodSample)
{
    startSim({"--idle", "0.2", "--spin", "5", "--stray", "0.3", "--bad-trailer", "0.1", "--bad-kind", "0.1", "--seed",
              "7", "--out", file("stream.bin")});
    load();
    ASSERT_TRUE(start());
    EXPECT_TRUE(pumpUntil([&] { return records() >= 80 || status() == "Error!"; }, 20s)) << records();
    click();
    EXPECT_EQ(status(), "Now Ready") << reason();
    // Ended as by Ctrl-C, so that its copy of the stream is complete.
    ASSERT_NE(sim_->finish().exitCode, -1) << "dyno-sim did not end when asked";

    const QByteArray stream = readAll(file("stream.bin"));
    const QList<int> recorded = recordedTicks(readAll(file("Temp.dat")));
    EXPECT_TRUE(isUnbrokenStretch(recorded, ticksToRecord(stream, 2)));
    // The faults did happen inside the recorded stretch.
    const QList<int> clean = ticksToRecord(stream, 1);
    ASSERT_FALSE(recorded.isEmpty());
    qsizetype bad = 0;
    for (int tick = recorded.first(); tick <= recorded.last(); tick += 2)
        bad += clean.contains(tick) ? 0 : 1;
    EXPECT_GT(bad, 0) << "no bad frame among the recorded ticks";
    const QByteArray report = readAll(file("save.csv"));
    EXPECT_EQ(report.count('\n'), recorded.size() + 4) << "a whole report of every record";
}

TEST_F(FaultTableTest, ADoubleQuoteInAnEscBoxIsWrittenDoubledAndReadsBack)
{
    load();
    ASSERT_TRUE(start());
    sendAndWait({2, 4}, 2);
    type(window().text1Widget(4), "30");
    type(window().text1Widget(5), "240");
    type(window().text1Widget(6), "15\"00");
    type(window().text1Widget(7), "2000");
    click();
    ASSERT_EQ(status(), "Now Ready") << reason();
    const QByteArray report = readAll(file("save.csv"));
    EXPECT_TRUE(report.endsWith("30,240,\"15\"\"00\",\"2000\"\r\n")) << report.toStdString();

    // The report's last line reads back as the texts typed into the ESC
    // boxes.
    const QByteArray lastLine = report.mid(report.lastIndexOf('\n', report.size() - 2) + 1);
    const QString trailer = file("trailer.csv");
    writeAll(trailer, lastLine);
    SequentialFiles files;
    files.OpenForInput(1, trailer);
    QStringList texts;
    while (!files.AtEnd(1)) {
        const Field field = files.ReadField(1);
        if (const auto* text = std::get_if<QString>(&field))
            texts << *text;
    }
    files.Close(1);
    EXPECT_EQ(texts, QStringList({"15\"00", "2000"}));
}

} // namespace

#endif // Q_OS_UNIX
