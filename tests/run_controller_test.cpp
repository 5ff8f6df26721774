#include "platform/MainForm.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"
#include "records/SequentialFiles.h"
#include "run/RunController.h"

#include "Files.h"
#include "MemoryMainForm.h"
#include "MemorySerialControl.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zelvar;
using testing_support::readAll;
using testing_support::writeAll;

namespace {

class RunControllerTest : public testing::Test {
protected:
    RunControllerTest()
    {
        comm_.setCommPort(3);
        comm_.clearLog();
    }

    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    void setFlywheel(const QString& radius, const QString& weight)
    {
        form_.Text1(Box::FlywheelRadius).setText(radius);
        form_.Text1(Box::FlywheelWeight).setText(weight);
        form_.Text1(Box::EscNeutral).setText("1500");
        form_.Text1(Box::EscFull).setText("2000");
    }

    void expectIdle(const char* status)
    {
        EXPECT_EQ(form_.Command1().caption(), "Start");
        EXPECT_EQ(form_.Label2().caption(), status) << last_.reason.toStdString();
        EXPECT_TRUE(form_.Combo1().isEnabled());
        EXPECT_TRUE(form_.Combo2().isEnabled());
        EXPECT_FALSE(comm_.PortOpen());
        EXPECT_EQ(form_.texts(), QStringList(9, " "));
        for (int number : {10, 11, 12})
            EXPECT_FALSE(files_.isBound(number)) << "file number " << number;
    }

    QTemporaryDir dir_;
    MemorySerialControl comm_;
    MemoryMainForm form_;
    SequentialFiles files_;
    RunController run_{form_, comm_, files_, dir_.path(), QLocale::c()};
    RunOutcome last_;
};

TEST_F(RunControllerTest, StartOpensTheRunAndLocksTheLists)
{
    writeAll(path("Temp.dat"), "old records\r\n");

    last_ = run_.Command1_Click();
    EXPECT_EQ(form_.Command1().caption(), "Stop");
    EXPECT_EQ(form_.Label2().caption(), "Now Running");
    EXPECT_FALSE(form_.Combo1().isEnabled());
    EXPECT_FALSE(form_.Combo2().isEnabled());
    EXPECT_EQ(form_.Text1(Box::Interval).text(), "20");
    EXPECT_TRUE(files_.isBound(10));
    EXPECT_EQ(QFileInfo(path("Temp.dat")).size(), 0) << "Start empties the run file";
    EXPECT_EQ(comm_.log(), QStringList({"PortOpen=True", "PortOpen=False", "PortOpen=True", "InBufferCount=0"}));
}

TEST_F(RunControllerTest, StartOnAnOpenPortOnlyEmptiesItsBuffer)
{
    comm_.setPortOpen(true);
    comm_.feed("stale bytes", false);
    comm_.clearLog();
    last_ = run_.Command1_Click();
    EXPECT_EQ(comm_.log(), QStringList({"InBufferCount=0"}));
    EXPECT_TRUE(comm_.waiting().isEmpty());
}

TEST_F(RunControllerTest, StopWritesTheReportAndReturnsToReady)
{
    last_ = run_.Command1_Click();
    files_.WriteRecord(10, {Decimal::parse("0.02"), Decimal(12), Decimal(10), Decimal(200)});
    setFlywheel("50", "1000");
    comm_.clearLog();

    last_ = run_.Command1_Click();
    expectIdle("Now Ready");
    EXPECT_EQ(comm_.log(), QStringList({"PortOpen=False"}));
    const QByteArray report = readAll(path("save.csv"));
    EXPECT_TRUE(report.contains("0.02,12,10,200,1308.996939166666666666666665,")) << report.toStdString();
    EXPECT_TRUE(report.endsWith("50,1000,\"1500\",\"2000\"\r\n")) << report.toStdString();
    EXPECT_EQ(readAll(path("Temp.dat")), "0.02,12,10,200\r\n") << "the run file stays";
}

TEST_F(RunControllerTest, AnEmptyRunStillGivesAReport)
{
    last_ = run_.Command1_Click();
    setFlywheel("30.5", "240");
    last_ = run_.Command1_Click();
    expectIdle("Now Ready");
    EXPECT_EQ(readAll(path("save.csv")).count("\r\n"), 4);
}

TEST_F(RunControllerTest, StartOnAPortThatCannotOpenEndsInError)
{
    comm_.setPortBusy(3);
    last_ = run_.Command1_Click();
    expectIdle("Error!");
    EXPECT_NE(last_.reason.indexOf("busy"), -1) << last_.reason.toStdString();
    comm_.setPortBusy(3, false);
    last_ = run_.Command1_Click();
    EXPECT_EQ(form_.Label2().caption(), "Now Running") << "a second Start works: " << last_.reason.toStdString();
}

TEST_F(RunControllerTest, StopWithoutFlywheelValuesKeepsTheReportAndTheRecords)
{
    writeAll(path("save.csv"), "previous report");

    last_ = run_.Command1_Click();
    files_.WriteRecord(10, {Decimal::parse("0.02"), Decimal(12), Decimal(10), Decimal(200)});
    for (const char* radius : {" ", ""}) {
        setFlywheel(radius, "1000");
        last_ = run_.Command1_Click();
        expectIdle("Error!");
        EXPECT_EQ(readAll(path("save.csv")), "previous report");
        EXPECT_EQ(readAll(path("Temp.dat")), "0.02,12,10,200\r\n");
        last_ = run_.Command1_Click(); // the next Start works
        EXPECT_EQ(form_.Label2().caption(), "Now Running") << last_.reason.toStdString();
        files_.WriteRecord(10, {Decimal::parse("0.02"), Decimal(12), Decimal(10), Decimal(200)});
    }
}

TEST_F(RunControllerTest, TheCaptionIsTheRunState)
{
    form_.Command1().setCaption("start"); // not "Start": a Stop
    setFlywheel("50", "1000");
    writeAll(path("Temp.dat"), "");
    last_ = run_.Command1_Click();
    expectIdle("Now Ready");
}

TEST_F(RunControllerTest, AStartThatCannotCreateTheRunFileEndsInError)
{
    ASSERT_TRUE(QDir(dir_.path()).mkdir("Temp.dat"));
    last_ = run_.Command1_Click();
    expectIdle("Error!");
    EXPECT_TRUE(comm_.log().isEmpty()) << "the port is not touched";
}

} // namespace

namespace {

// What a click reports is what the window shows: nothing above the handler
// needs to read the captions or the boxes again.
TEST_F(RunControllerTest, EachClickSaysWhatItDidWithTheBoxesStopRead)
{
    struct Case {
        const char* radius;
        const char* weight;
        RunOutcome::Kind stop;
        const char* reason;
    };
    for (const Case& c :
         {Case{"30", "200", RunOutcome::Kind::Stopped, ""},
          Case{" ", "200", RunOutcome::Kind::Recovered, "no set-up frame from the dyno: Flywheel Radius is empty"},
          Case{"30", "", RunOutcome::Kind::Recovered, "no set-up frame from the dyno: Flywheel Weight is empty"},
          Case{"30", "heavy", RunOutcome::Kind::Recovered, "Flywheel Weight: not a number"}}) {
        SCOPED_TRACE(std::string("radius \"") + c.radius + "\", weight \"" + c.weight + "\"");
        const RunOutcome start = run_.Command1_Click();
        ASSERT_TRUE(start.started()) << start.reason.toStdString();
        EXPECT_FALSE(start.wasStop);
        EXPECT_EQ(start.interval, "20");
        setFlywheel(QString::fromLatin1(c.radius), QString::fromLatin1(c.weight));
        const RunOutcome stop = run_.Command1_Click();
        EXPECT_TRUE(stop.wasStop);
        EXPECT_EQ(stop.kind, c.stop);
        EXPECT_EQ(stop.reportWritten(), c.stop == RunOutcome::Kind::Stopped);
        if (*c.reason == 0)
            EXPECT_TRUE(stop.reason.isEmpty()) << stop.reason.toStdString();
        else
            EXPECT_TRUE(stop.reason.startsWith(QString::fromLatin1(c.reason))) << stop.reason.toStdString();
        ASSERT_TRUE(stop.boxes.has_value());
        EXPECT_EQ(stop.boxes->radiusMm.has_value(), std::string(c.radius) == "30");
        EXPECT_EQ(stop.boxes->weightG.has_value(), std::string(c.weight) == "200");
        EXPECT_EQ(stop.boxes->escNeutral, "1500");
        EXPECT_EQ(form_.texts(), QStringList(9, " ")) << "the boxes were blanked after they were read";
    }
}

} // namespace
