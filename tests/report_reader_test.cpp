// Reading a report back as the analysis wrote it: whole, or a range of its
// rows.

#include "platform/MainForm.h"
#include "platform/RuntimeError.h"
#include "records/ReportReader.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"

#include "CaseNames.h"
#include "Files.h"
#include "MemoryMainForm.h"
#include "SyntheticRuns.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zelvar;
using namespace zelvar::curves;
using testing_support::writeAll;

namespace {

// ---------------------------------------------------------------------------
// Reading a report back.

class ReadReportTest : public testing::Test {
protected:
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir_;
};

TEST_F(ReadReportTest, GivesBackTheRowsAndTrailerTheAnalysisWrote)
{
    writeAll(path("Temp.dat"), "0.02,12,10,200\r\n0.04,12,10,300\r\n0.06,12,10,600\r\n");
    MemoryMainForm form;
    form.Text1(Box::FlywheelRadius).setText("50");
    form.Text1(Box::FlywheelWeight).setText("1000");
    form.Text1(Box::EscNeutral).setText("15\"00");
    form.Text1(Box::EscFull).setText("full, fast");
    SequentialFiles files;
    RunAnalyzer(files, dir_.path()).analyze(readFlywheelAndEsc(form, QLocale::c()));

    const Report report = readReport(path("save.csv"));
    ASSERT_EQ(report.rows.size(), 3u);
    const ReportPoint& first = report.rows[0];
    EXPECT_EQ(first.runTime, 0.02);
    EXPECT_EQ(first.voltage, 12.0);
    EXPECT_EQ(first.current, 10.0);
    EXPECT_EQ(first.rpm, 200.0);
    EXPECT_NEAR(first.torque, 1308.996939, 1e-6);
    EXPECT_NEAR(first.outputPower, 27.41556779, 1e-8);
    EXPECT_EQ(first.inputPower, 120.0);
    EXPECT_NEAR(first.efficiency, 22.84630649, 1e-8);
    EXPECT_EQ(report.rows[1].torque, 0.0) << "a rise of exactly 100 RPM";
    EXPECT_EQ(report.rows[2].efficiency, 100.0);
    EXPECT_EQ(report.radiusMm, 50.0);
    EXPECT_EQ(report.weightG, 1000.0);
    EXPECT_EQ(report.escNeutral, "15\"00");
    EXPECT_EQ(report.escFull, "full, fast");
    EXPECT_DOUBLE_EQ(report.inertia(), 0.00125);
}

TEST_F(ReadReportTest, AReportOfAnEmptyRunHasNoRows)
{
    writeAll(path("save.csv"), "\"Run Time (sec)\",\"Output Voltage (V)\",\"Output Current (A)\",\"RPM\","
                               "\"Torque (mNm)\",\"Horse Power (W)\",\"Input Power (W)\",\"Efficiency (%)\"\r\n"
                               "\r\n"
                               "\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\","
                               "\"ESC Full Throttle Timing\"\r\n"
                               "30.5,240,\"1500\",\"2000\"\r\n");
    const Report report = readReport(path("save.csv"));
    EXPECT_TRUE(report.rows.empty());
    EXPECT_EQ(report.radiusMm, 30.5);
    EXPECT_EQ(report.weightG, 240.0);
}

struct NotAReport {
    const char* name;
    QByteArray contents; // null: no file at all
    const char* message;
};

void PrintTo(const NotAReport& c, std::ostream* os)
{
    *os << c.name;
}

const QByteArray kHeader = "\"Run Time (sec)\",\"Output Voltage (V)\",\"Output Current (A)\",\"RPM\",\"Torque (mNm)\","
                           "\"Horse Power (W)\",\"Input Power (W)\",\"Efficiency (%)\"\r\n";
const QByteArray kTrailer = "\r\n\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\","
                            "\"ESC Full Throttle Timing\"\r\n30,240,\"1500\",\"2000\"\r\n";

class ReadReportRefuses : public ReadReportTest, public testing::WithParamInterface<NotAReport> {};

TEST_P(ReadReportRefuses, AFileThatIsNotAReportSayingWhy)
{
    const NotAReport& c = GetParam();
    if (!c.contents.isNull())
        writeAll(path("file.csv"), c.contents);
    try {
        readReport(path("file.csv"));
        FAIL() << "read as a report:\n" << c.contents.toStdString();
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
            << "message: " << e.what() << "\nexpected to contain: " << c.message;
        EXPECT_NE(std::string(e.what()).find("file.csv"), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadReportRefuses,
    testing::Values(NotAReport{"Missing", QByteArray(), "cannot open"},
                    NotAReport{"Empty", "", "is not a report: its first line is not the report header"},
                    NotAReport{"RunFile", "0.02,12,10,200\r\n", "is not a report"},
                    NotAReport{"OtherHeader", "\"Run Time (sec)\",\"RPM\"\r\n0.02,200\r\n", "is not a report"},
                    NotAReport{"ShortRow", kHeader + "0.02,12,10,200,0,0,120\r\n" + kTrailer,
                               "line 2: 7 items where a report line has 8"},
                    NotAReport{"TextInARow", kHeader + "0.02,12,10,\"fast\",0,0,120,0\r\n" + kTrailer,
                               "line 2: RPM \"fast\" is not a number"},
                    NotAReport{"CutBeforeTheTrailer", kHeader + "0.02,12,10,200,0,0,120,0\r\n",
                               "has no trailer with the flywheel values after line 2"},
                    NotAReport{"TrailerWithoutWeight",
                               kHeader
                                   + "\r\n\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\","
                                     "\"ESC Full Throttle Timing\"\r\n30,\" \",\"1500\",\"2000\"\r\n",
                               "line 4: Flywheel Weight \" \" is not a number"}),
    testing_support::CaseName());

TEST(ReadReportRows, ReadsARangeOfRowsAndRefusesOnePastTheReport)
{
    QTemporaryDir dir;
    testing_support::writeAll(dir.filePath("Temp.dat"), testing_support::runOfSpinUps({3.0, 5.0, 4.0}));
    SequentialFiles files;
    RunAnalyzer(files, dir.path()).analyze({Decimal(30), Decimal(240), QString(), QString()});
    const Report report = readReport(dir.filePath("save.csv"));
    EXPECT_THROW(readReportRows(dir.filePath("save.csv"), report.rows.size() - 2, report.rows.size() + 5),
                 RuntimeError);
    const std::vector<ReportPoint> tail = readReportRows(dir.filePath("save.csv"), 10, 12);
    ASSERT_EQ(tail.size(), 3u);
    EXPECT_EQ(tail[0].runTime, report.rows[10].runTime);
    EXPECT_EQ(tail[2].efficiency, report.rows[12].efficiency);
}

} // namespace
