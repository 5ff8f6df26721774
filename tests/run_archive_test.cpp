// The run archive on real files: folders named by the start, copies made
// whole, a run that never ended recovered, and every failure a notice that
// leaves the run alone.

#include "archive/RunArchive.h"

#include <QDir>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include "Files.h"
#include "QtPrinters.h"
#include "ScratchSettings.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace zelvar;
using namespace zelvar::archive;
using testing_support::readAll;
using testing_support::writeAll;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(14, 3, 21));
// Three records and the start of a fourth the power cut short.
const QByteArray kRunFile = "0.02,12.1,3.4,1200\n0.04,12,3.5,1300\n0.06,11.9,3.6,1450\n0.08,11";

class RunArchiveTest : public testing::Test {
protected:
    RunArchiveTest()
    {
        writeAll(file("Temp.dat"), kRunFile);
        writeAll(file("save.csv"), "the report\n");
    }

    QString file(const QString& name) const { return QDir(dir_.path()).filePath(name); }
    std::unique_ptr<RunArchive> makeArchive()
    {
        return std::make_unique<RunArchive>(dir_.path(), [this](const QString& notice) {
            const std::lock_guard lock(mutex_);
            notices_ << notice;
        });
    }
    QStringList notices()
    {
        const std::lock_guard lock(mutex_);
        return notices_;
    }
    QStringList folders() const
    {
        return QDir(file("runs")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }
    static RunStart startAt(const QDateTime& time) { return {time, 3, "/dev/ttyUSB0", "115200,N,8,1", "20", "1.2"}; }

    QTemporaryDir dir_;
    std::mutex mutex_;
    QStringList notices_;
};

TEST_F(RunArchiveTest, RunsStartedInTheSameSecondGetFoldersOfTheirOwnListedNewestFirst)
{
    const auto archive = makeArchive();
    for (int i = 0; i < 11; ++i) {
        archive->runStarted(startAt(i < 10 ? kStart : kStart.addSecs(-60)));
        archive->runEnded({kStart.addSecs(5), Ending::Stopped, {}, {}, false});
    }
    archive->waitForCopies();
    const Listing listing = listRuns(dir_.path());
    QStringList names;
    for (const RunSummary& run : listing.runs)
        names << run.name;
    EXPECT_EQ(names, QStringList({"2026-12-07_14-03-21_10", "2026-12-07_14-03-21_9", "2026-12-07_14-03-21_8",
                                  "2026-12-07_14-03-21_7", "2026-12-07_14-03-21_6", "2026-12-07_14-03-21_5",
                                  "2026-12-07_14-03-21_4", "2026-12-07_14-03-21_3", "2026-12-07_14-03-21_2",
                                  "2026-12-07_14-03-21", "2026-12-07_14-02-21"}));
    EXPECT_TRUE(listing.problems.isEmpty()) << listing.problems.join('\n').toStdString();
}

// A power cut between a run folder's mkdir and its first run.json leaves
// the folder empty: the list names it and goes on; other folders are not
// runs of ours.
TEST_F(RunArchiveTest, ARunFolderWithoutRunJsonIsListedAsAProblemAndOtherFoldersAreIgnored)
{
    const auto archive = makeArchive();
    archive->runStarted(startAt(kStart));
    archive->runEnded({kStart.addSecs(5), Ending::Stopped, {}, {}, false});
    archive->waitForCopies();
    for (const char* name : {"runs/2026-12-07_15-00-00", "runs/2026-12-07_15-00-00_2", "runs/photos"})
        ASSERT_TRUE(QDir().mkpath(file(name)));

    const Listing listing = listRuns(dir_.path());
    ASSERT_EQ(listing.runs.size(), 1u);
    ASSERT_EQ(listing.problems.size(), 2) << listing.problems.join('\n').toStdString();
    for (const QString& problem : listing.problems)
        EXPECT_TRUE(problem.contains("2026-12-07_15-00-00") && problem.contains("no run.json"))
            << problem.toStdString();
}

TEST_F(RunArchiveTest, AnEndedRunHoldsCopiesOfItsFilesAndSaysHowItEnded)
{
    struct Case {
        Ending ending;
        QString reason;
        bool reportWritten;
    };
    for (const Case& c : {Case{Ending::Stopped, {}, true}, Case{Ending::Error, "serial device lost", false}}) {
        SCOPED_TRACE(endingText(c.ending).toStdString());
        const auto archive = makeArchive();
        archive->runStarted(startAt(kStart));
        ASSERT_TRUE(archive->recording()) << notices().join('\n').toStdString();
        const QString folder = file("runs/" + folderName(kStart));
        EXPECT_EQ(readRunJson(folder).json().value("state").toString(), "recording");

        archive->runEnded({kStart.addSecs(65), c.ending, c.reason, {30, 240, "1500", "2000", {}, {}}, c.reportWritten});
        EXPECT_FALSE(archive->recording());
        archive->waitForCopies();

        EXPECT_EQ(readAll(folder + "/Temp.dat"), kRunFile);
        EXPECT_EQ(QFile::exists(folder + "/save.csv"), c.reportWritten);
        const QJsonObject json = readRunJson(folder).json();
        EXPECT_EQ(json.value("state").toString(), endingText(c.ending));
        EXPECT_EQ(json.value("reason").toString(), c.reason);
        EXPECT_EQ(json.value("records").toInt(), 3);
        EXPECT_EQ(json.value("first_run_time_s").toDouble(), 0.02);
        EXPECT_EQ(json.value("last_run_time_s").toDouble(), 0.06);
        EXPECT_EQ(json.value("device").toString(), "/dev/ttyUSB0");
        const RunSummary summary = summaryOf(folder, readRunJson(folder));
        EXPECT_EQ(summary.durationSeconds(), 65.0);
        EXPECT_EQ(summary.values.weightG, 240.0);
        EXPECT_EQ(summary.values.escFull, "2000");
        EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), c.reportWritten ? 3 : 2) << "no temporary file left";
        QDir(file("runs")).removeRecursively();
    }
    EXPECT_EQ(notices(), QStringList({"", ""}));
}

TEST_F(RunArchiveTest, ARunThatNeverEndedIsRecoveredBeforeTheNextStartEmptiesTheRunFile)
{
    makeArchive()->runStarted(startAt(kStart)); // and the program dies
    const QString folder = file("runs/" + folderName(kStart));

    const auto next = makeArchive();
    next->beforeStart();
    EXPECT_EQ(readAll(folder + "/Temp.dat"), kRunFile);
    const QJsonObject json = readRunJson(folder).json();
    EXPECT_EQ(json.value("state").toString(), "unfinished");
    EXPECT_EQ(json.value("records").toInt(), 3);
    EXPECT_TRUE(summaryOf(folder, readRunJson(folder)).ended.isValid()) << "the run file's last write";

    // Once recovered it is left alone: a later Start's run file is not its.
    writeAll(file("Temp.dat"), "");
    next->beforeStart();
    EXPECT_EQ(readAll(folder + "/Temp.dat"), kRunFile);
}

TEST_F(RunArchiveTest, FailuresAreNoticesAndTheRunGoesOnUnarchived)
{
    writeAll(file("runs"), "a plain file where the folder should be");
    const auto archive = makeArchive();
    archive->beforeStart();
    archive->runStarted(startAt(kStart));
    EXPECT_FALSE(archive->recording());
    archive->runEnded({kStart, Ending::Stopped, {}, {}, true});
    archive->waitForCopies();
    ASSERT_EQ(notices().size(), 1);
    EXPECT_TRUE(notices()[0].startsWith("This run is not archived: cannot make the folder"))
        << notices()[0].toStdString();
    EXPECT_TRUE(notices()[0].contains("in the way")) << notices()[0].toStdString();

    // A run folder that went away during the run: the copy fails, said so.
    QFile::remove(file("runs"));
    archive->runStarted(startAt(kStart));
    QDir(file("runs")).removeRecursively();
    archive->runEnded({kStart, Ending::Stopped, {}, {}, true});
    archive->waitForCopies();
    EXPECT_TRUE(notices().last().startsWith("The run in")) << notices().last().toStdString();
}

TEST_F(RunArchiveTest, ANoteIsWrittenBesideWhatTheRunSaysAndTheSettingDefaultsToOn)
{
    testing_support::ScratchSettings settings;
    EXPECT_TRUE(enabledInSettings());
    setEnabledInSettings(false);
    EXPECT_FALSE(enabledInSettings());

    const auto archive = makeArchive();
    archive->runStarted(startAt(kStart));
    archive->runEnded({kStart.addSecs(1), Ending::Stopped, {}, {}, true});
    const QString folder = file("runs/" + folderName(kStart));
    archive->setNote(folder, "prop 9x4.5\nsecond try");
    archive->waitForCopies();
    const QJsonObject json = readRunJson(folder).json();
    EXPECT_EQ(json.value("note").toString(), "prop 9x4.5\nsecond try");
    EXPECT_EQ(json.value("state").toString(), "stopped") << "written after the copies, not over them";
}

TEST_F(RunArchiveTest, TheMotorForTheRunsToComeCarriesFromRunToRunAndIsWrittenAfterTheCopies)
{
    testing_support::ScratchSettings settings;
    EXPECT_EQ(motorForRunsToCome(), RunMotor{}) << "nothing set yet: the unnamed motor";
    setMotorForRunsToCome({"A2212", 1000.0, "3S LiPo"});
    EXPECT_EQ(motorForRunsToCome(), (RunMotor{"A2212", 1000.0, "3S LiPo"}));
    setMotorForRunsToCome({"A2212", std::nullopt, "3S LiPo"});
    EXPECT_FALSE(motorForRunsToCome().nameplateKv) << "a nameplate cleared stays cleared";

    const auto archive = makeArchive();
    archive->runStarted(startAt(kStart));
    archive->runEnded({kStart.addSecs(1), Ending::Stopped, {}, {}, true});
    const QString folder = file("runs/" + folderName(kStart));
    archive->setMotor(folder, {"BL2830", 1500.0, "4S"});
    archive->waitForCopies();
    const RunJson run = readRunJson(folder);
    EXPECT_EQ(run.motor(), (RunMotor{"BL2830", 1500.0, "4S"}));
    EXPECT_EQ(run.state(), Ending::Stopped) << "written after the copies, not over them";
    const Listing listing = listRuns(file("."));
    ASSERT_EQ(listing.runs.size(), 1u);
    EXPECT_EQ(listing.runs[0].motor.name, "BL2830") << "the list shows what the run is of";
}

} // namespace
