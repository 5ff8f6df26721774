// The run archive with the whole program against the simulated dyno: runs
// stopped, killed, cut off by a pulled cable, and an archive that cannot be
// written, which must change nothing of the run itself.

#include "archive/RunArchive.h"
#include "charts/ChartWindow.h"
#include "charts/RunBrowser.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX

#include "CaseNames.h"
#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "ProgramTest.h"
#include "RecordingMessageBox.h"
#include "ScratchSettings.h"

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

qsizetype lines(const QByteArray& bytes)
{
    return bytes.count('\n');
}

// A data directory with the control files, dyno-sim streaming spin-ups on
// COM 3, and the program in it.
class ArchiveEndToEndTest : public testing::Test {
protected:
    ArchiveEndToEndTest()
        : sim_({"--wait-for-reader", "--idle", "0.3", "--spin", "3", "--brake", "0.5", "--repeat", "20"}, dir_.path())
    {
        for (const char* name : {"RCS.dat", "RTA.dat"})
            writeAll(dir_.filePath(name), "");
        const QByteArray mapping = sim_.mapping();
        EXPECT_TRUE(mapping.startsWith("ZELVAR_COM3=")) << sim_.finish().err.toStdString();
        device_ = mapping.mid(mapping.indexOf('=') + 1);
        qputenv("ZELVAR_COM3", device_);
    }
    ~ArchiveEndToEndTest() override { qunsetenv("ZELVAR_COM3"); }

    void load(const std::function<void(ShellOptions&)>& adjust = {})
    {
        ShellOptions options = testOptions(dir_.path(), messages_);
        if (adjust)
            adjust(options);
        program_ = std::make_unique<ZelvarApplication>(options);
        ASSERT_TRUE(program_->Form_Load());
        window().show();
    }
    NorvDynoData& window() { return program_->mainWindow(); }
    QString status() { return window().label2Widget()->text(); }
    std::string reason() { return window().label2Widget()->toolTip().toStdString(); }
    QString file(const QString& name) const { return QDir(dir_.path()).filePath(name); }
    void click() { QTest::mouseClick(window().command1Widget(), Qt::LeftButton); }
    // `records` or more recorded, and the flywheel boxes filled by the dyno's
    // set-up frame, which Stop needs: the one sent before Start is thrown
    // away with the waiting bytes, and the next comes with the next spin-up.
    bool recordedAtLeast(qsizetype records)
    {
        return pumpUntil(
            [&] {
                const bool setUp = !window().text1Widget(4)->text().trimmed().isEmpty();
                return (lines(readAll(file("Temp.dat"))) >= records && setUp) || status() == "Error!";
            },
            20s);
    }
    // A run of `records` or more, Start to Stop.
    void recordRun(qsizetype records)
    {
        click();
        ASSERT_EQ(status(), "Now Running") << reason();
        ASSERT_TRUE(recordedAtLeast(records)) << reason();
        click();
        ASSERT_EQ(status(), "Now Ready") << reason();
    }
    archive::Listing listing() { return archive::listRuns(dir_.path()); }
    // The runs once none says "recording" any more: their copies are done.
    std::vector<archive::RunSummary> settledRuns(std::size_t count)
    {
        pumpUntil(
            [&] {
                const auto runs = listing().runs;
                return runs.size() == count && std::none_of(runs.begin(), runs.end(), [](const auto& run) {
                           return run.ending == archive::Ending::Recording;
                       });
            },
            20s);
        return listing().runs;
    }

    QTemporaryDir dir_;
    SimProcess sim_;
    QByteArray device_;
    RecordingMessageBox messages_;
    std::unique_ptr<ZelvarApplication> program_;
};

TEST_F(ArchiveEndToEndTest, TwoStoppedRunsAreKeptBesideTheRunFileAndTheReport)
{
    load();
    recordRun(30);
    const QByteArray firstRun = readAll(file("Temp.dat"));
    const QByteArray firstReport = readAll(file("save.csv"));
    recordRun(60);

    const auto runs = settledRuns(2);
    ASSERT_EQ(runs.size(), 2u);
    const QByteArray runFiles[] = {readAll(file("Temp.dat")), firstRun};
    const QByteArray reports[] = {readAll(file("save.csv")), firstReport};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(runs[i].name.toStdString());
        const QString folder = runs[i].folder;
        EXPECT_EQ(runs[i].ending, archive::Ending::Stopped) << runs[i].reason.toStdString();
        EXPECT_EQ(readAll(folder + "/Temp.dat"), runFiles[i]);
        EXPECT_EQ(readAll(folder + "/save.csv"), reports[i]);
        EXPECT_EQ(runs[i].records, lines(runFiles[i]));
        EXPECT_EQ(runs[i].values.radiusMm, 30.0);
        EXPECT_EQ(runs[i].values.weightG, 240.0);
        // Written after the copies, once the charts drew the report.
        EXPECT_TRUE(pumpUntil([&] { return archive::readRunJson(folder).json().contains("figures"); }, 10s));
        const QJsonObject json = archive::readRunJson(folder).json();
        EXPECT_EQ(json.value("device").toString(), QString::fromLocal8Bit(device_));
        EXPECT_EQ(json.value("port").toInt(), 3);
        EXPECT_TRUE(json.value("figures").isObject());
    }
    EXPECT_GT(runs[0].started, runs[1].started);
    EXPECT_TRUE(messages_.shown.isEmpty());
}

TEST_F(ArchiveEndToEndTest, TheMotorSetForTheRunsToComeIsWrittenAtEachStartUntilChanged)
{
    load();
    program_->showCharts();
    RunBrowser* browser = program_->chartWindow()->runBrowser();
    browser->setMotorForRunsToCome({"A2212", 1000.0, "3S LiPo"});
    recordRun(30);
    recordRun(30);
    browser->setMotorForRunsToCome({"BL2830", std::nullopt, ""});
    recordRun(30);

    const auto runs = settledRuns(3);
    ASSERT_EQ(runs.size(), 3u);
    // Newest first.
    EXPECT_EQ(runs[0].motor, (archive::RunMotor{"BL2830", std::nullopt, ""}));
    EXPECT_EQ(runs[1].motor, (archive::RunMotor{"A2212", 1000.0, "3S LiPo"})) << "carried to the next run";
    EXPECT_EQ(runs[2].motor, (archive::RunMotor{"A2212", 1000.0, "3S LiPo"}));
}

TEST_F(ArchiveEndToEndTest, ARunCutOffByAPulledCableIsArchivedAsAnErrorWithItsReason)
{
    load();
    click();
    ASSERT_TRUE(recordedAtLeast(20)) << reason();
    sim_.finish(); // the cable is pulled
    ASSERT_TRUE(pumpUntil([&] { return status() == "Error!"; }, 20s)) << reason();

    const auto runs = settledRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].ending, archive::Ending::Error);
    EXPECT_EQ(runs[0].reason.toStdString(), reason());
    EXPECT_EQ(readAll(runs[0].folder + "/Temp.dat"), readAll(file("Temp.dat")));
    EXPECT_FALSE(QFile::exists(runs[0].folder + "/save.csv"));
}

// The figures are measured where the run ends, whether a window draws them
// or not, and ending the program waits for them.
TEST_F(ArchiveEndToEndTest, AnUnattendedRunsFiguresAreThoseZelvarAnalyzeGives)
{
    QProcess program;
    program.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", dir_.path(), "--run-for", "8"});
    ASSERT_TRUE(program.waitForFinished(60000));
    ASSERT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    const auto runs = listing().runs;
    ASSERT_EQ(runs.size(), 1u);
    const QJsonObject stored = archive::readRunJson(runs[0].folder).json().value("figures").toObject();
    ASSERT_FALSE(stored.isEmpty()) << "run.json has the figures as soon as the program ended";

    QProcess analyze;
    const QString json = file("figures.json");
    analyze.start(QStringLiteral(ZELVAR_ANALYZE_PATH), {"--dir", runs[0].folder, "--summary-json", json});
    ASSERT_TRUE(analyze.waitForFinished(30000));
    ASSERT_EQ(analyze.exitCode(), 0) << analyze.readAllStandardError().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(readAll(json)).object(), stored);
}

// A second program on the same folder starts no run loop, and a lock left by
// a killed one is taken over.
TEST_F(ArchiveEndToEndTest, ASecondProgramOnTheFolderLeavesTheRunningOnesRunWhole)
{
    const QStringList args{"--app-dir", dir_.path(), "--run-for", "8"};
    QProcess first;
    first.start(QStringLiteral(ZELVAR_DATA_PATH), args);
    ASSERT_TRUE(pumpUntil([&] { return lines(readAll(file("Temp.dat"))) >= 30; }, 20s))
        << first.readAllStandardError().toStdString();
    QProcess second;
    second.start(QStringLiteral(ZELVAR_DATA_PATH), args);
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    const QString refusal = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_TRUE(refusal.contains(QStringLiteral("already running with the folder"))
                && refusal.contains(QString::number(first.processId())))
        << refusal.toStdString();

    ASSERT_TRUE(first.waitForFinished(60000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    const QByteArray runFile = readAll(file("Temp.dat"));
    EXPECT_FALSE(runFile.startsWith('\0')) << "the run file was never cut down under the running program";
    EXPECT_EQ(lines(readAll(file("save.csv"))), lines(runFile) + 4) << "the report of the whole run";
    ASSERT_EQ(listing().runs.size(), 1u);
    EXPECT_EQ(listing().runs[0].ending, archive::Ending::Stopped);

    QProcess killed;
    killed.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", dir_.path(), "--run-for", "600"});
    ASSERT_TRUE(pumpUntil([&] { return listing().runs.size() == 2; }, 20s));
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(5000));
    QProcess next;
    next.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", dir_.path(), "--run-for", "0"});
    ASSERT_TRUE(next.waitForFinished(30000));
    EXPECT_FALSE(QString::fromLocal8Bit(next.readAllStandardError()).contains("already running"))
        << "the killed program's lock was taken over";
}

// The Start after the kill, archived or not (--no-archive), keeps the killed
// run's records before it empties the run file.
class KilledRunTest : public ArchiveEndToEndTest, public testing::WithParamInterface<bool> {};

TEST_P(KilledRunTest, AKilledProgramsRunIsRecoveredWithEveryRecordAtTheNextStart)
{
    const bool archiveNextRun = GetParam();
    // It inherits the offscreen platform and COM 3's device from the test.
    QProcess killed;
    killed.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", dir_.path(), "--run-for", "600"});
    ASSERT_TRUE(killed.waitForStarted(5000));
    ASSERT_TRUE(pumpUntil([&] { return lines(readAll(file("Temp.dat"))) >= 50; }, 20s))
        << killed.readAllStandardError().toStdString();
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(5000));
    const QByteArray written = readAll(file("Temp.dat"));
    ASSERT_EQ(listing().runs.size(), 1u);
    EXPECT_EQ(listing().runs[0].ending, archive::Ending::Recording);

    load([&](ShellOptions& options) { options.noArchive = !archiveNextRun; });
    click();
    EXPECT_EQ(status(), "Now Running") << reason();
    const auto runs = listing().runs;
    ASSERT_EQ(runs.size(), archiveNextRun ? 2u : 1u);
    EXPECT_EQ(runs.front().ending, archiveNextRun ? archive::Ending::Recording : archive::Ending::Unfinished);
    EXPECT_EQ(runs.back().ending, archive::Ending::Unfinished);
    EXPECT_EQ(runs.back().records, lines(written));
    EXPECT_EQ(readAll(runs.back().folder + "/Temp.dat"), written);
}

INSTANTIATE_TEST_SUITE_P(Archive, KilledRunTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& i) {
                             return std::string(i.param ? "NextRunArchived" : "NextRunNotArchived");
                         });

TEST_F(ArchiveEndToEndTest, ARunStillRecordedWhenTheWindowClosesIsKeptAsUnfinished)
{
    load();
    click();
    ASSERT_TRUE(recordedAtLeast(20)) << reason();
    program_->Form_Unload();

    const auto runs = listing().runs;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].ending, archive::Ending::Unfinished);
    EXPECT_EQ(readAll(runs[0].folder + "/Temp.dat"), readAll(file("Temp.dat")));
    EXPECT_EQ(runs[0].values.radiusMm, 30.0);
}

// Archiving off or failing: the run, its run file and its report are what
// they would have been, and only a notice says so.
struct UnarchivedCase {
    const char* name;
    std::function<void(const QString& dir, ShellOptions&)> arrange;
    const char* notice; // in the status tool tip after Start and after Stop
};

class UnarchivedRunTest : public ArchiveEndToEndTest, public testing::WithParamInterface<UnarchivedCase> {
protected:
    ScratchSettings settings_;
};

TEST_P(UnarchivedRunTest, StartStopAndTheReportAreUnchanged)
{
    load([&](ShellOptions& options) { GetParam().arrange(dir_.path(), options); });
    click();
    ASSERT_EQ(status(), "Now Running") << reason();
    EXPECT_TRUE(pumpUntil([&] { return reason().find(GetParam().notice) != std::string::npos; }, 2s)) << reason();
    ASSERT_TRUE(recordedAtLeast(30)) << reason();
    click();
    ASSERT_EQ(status(), "Now Ready") << reason();
    EXPECT_NE(reason().find(GetParam().notice), std::string::npos) << reason();

    const qsizetype records = lines(readAll(file("Temp.dat")));
    EXPECT_EQ(lines(readAll(file("save.csv"))), records + 4)
        << "header, a row a record, empty line, trailer's header and values";
    EXPECT_TRUE(listing().runs.empty());
    EXPECT_TRUE(messages_.shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Archive, UnarchivedRunTest,
    testing::Values(UnarchivedCase{"RunsIsAPlainFile",
                                   [](const QString& dir, ShellOptions&) { writeAll(dir + "/runs", "not a folder"); },
                                   "This run is not archived: cannot make the folder"},
                    UnarchivedCase{"NoArchiveOption", [](const QString&, ShellOptions& o) { o.noArchive = true; }, ""},
                    UnarchivedCase{"SwitchedOffInTheSettings",
                                   [](const QString&, ShellOptions&) { archive::setEnabledInSettings(false); }, ""}),
    CaseName());

} // namespace

#endif // Q_OS_UNIX
