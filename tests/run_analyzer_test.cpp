#include "platform/MainForm.h"
#include "platform/RuntimeError.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "run/RunController.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Files.h"
#include "MemoryMainForm.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace zelvar;
using testing_support::readAll;
using testing_support::writeAll;

namespace {

class RunAnalyzerTest : public testing::Test {
protected:
    RunAnalyzerTest() { setBoxes("50", "1000", "1500", "2000"); }

    void setBoxes(const QString& radius, const QString& weight, const QString& neutral, const QString& full)
    {
        form_.Text1(Box::FlywheelRadius).setText(radius);
        form_.Text1(Box::FlywheelWeight).setText(weight);
        form_.Text1(Box::EscNeutral).setText(neutral);
        form_.Text1(Box::EscFull).setText(full);
    }

    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    void writeRun(const QByteArray& bytes) { writeAll(path("Temp.dat"), bytes); }
    QByteArray report() const { return readAll(path("save.csv")); }

    // The data lines of the report, without header and trailer.
    QList<QByteArray> rows() const
    {
        QList<QByteArray> lines = report().split('\n');
        return lines.mid(1, lines.size() - 5);
    }

    std::int64_t analyze(const QLocale& locale = QLocale::c())
    {
        // The boxes as run control reads them at Stop.
        RunAnalyzer analyzer(files_, dir_.path());
        return analyzer.analyze(readFlywheelAndEsc(form_, locale));
    }

    // Runs an analysis that must fail; returns its message.
    std::string failure()
    {
        try {
            analyze();
        } catch (const RuntimeError& e) {
            return e.what();
        }
        ADD_FAILURE() << "the analysis did not fail";
        return {};
    }

    void expectOnlyFiles(const QStringList& names) const
    {
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), names);
        EXPECT_FALSE(files_.isBound(runfiles::kReportFileNumber));
        EXPECT_FALSE(files_.isBound(runfiles::kRunFileInputNumber));
    }

    QTemporaryDir dir_;
    MemoryMainForm form_;
    SequentialFiles files_;
};

// Reference runs: each folder holds temp.dat, the four box texts and the
// report the analysis must write, byte for byte.
class ReferenceRunTest : public RunAnalyzerTest, public testing::WithParamInterface<const char*> {};

TEST_P(ReferenceRunTest, ReportMatchesByteForByte)
{
    const QString folder = QStringLiteral(ZELVAR_TEST_DATA_DIR "/analysis/") + GetParam();
    const QStringList boxes = QString::fromUtf8(readAll(folder + "/boxes.txt")).split('\n');
    ASSERT_GE(boxes.size(), 4) << folder.toStdString();
    setBoxes(boxes[0], boxes[1], boxes[2], boxes[3]);
    writeRun(readAll(folder + "/temp.dat"));

    analyze();
    const QByteArray expected = readAll(folder + "/expected_save.csv");
    ASSERT_FALSE(expected.startsWith("<missing"));
    EXPECT_EQ(report().toStdString(), expected.toStdString());
    expectOnlyFiles({"Temp.dat", "save.csv"});
}

INSTANTIATE_TEST_SUITE_P(Runs, ReferenceRunTest,
                         testing::Values("p01_worked_example", "p02_empty_run", "p03_small_run"));

TEST_F(RunAnalyzerTest, AnEmptyRunGivesFourLines)
{
    writeRun("");
    EXPECT_EQ(analyze(), 0);
    EXPECT_EQ(report(),
              "\"Run Time (sec)\",\"Output Voltage (V)\",\"Output Current (A)\",\"RPM\",\"Torque (mNm)\","
              "\"Horse Power (W)\",\"Input Power (W)\",\"Efficiency (%)\"\r\n"
              "\r\n"
              "\"Flywheel Radius\",\"Flywheel Weight\",\"ESC Neutral Timing\",\"ESC Full Throttle Timing\"\r\n"
              "50,1000,\"1500\",\"2000\"\r\n");
}

TEST(RowCalculator, TheWorkedExampleCarriesEveryDigit)
{
    const Decimal inertia = RowCalculator::inertiaOf(Decimal(50), Decimal(1000));
    EXPECT_EQ(inertia.toString(), "0.00125");
    RowCalculator rows(inertia);
    const auto row = [&](const char* t, int n) {
        const ReportRow r = rows.next(Decimal::parse(t), Decimal(12), Decimal(10), Decimal(n));
        return r.torque.toString() + " " + r.outputPower.toString() + " " + r.inputPower.toString() + " "
             + r.efficiency.toString();
    };
    EXPECT_EQ(row("0.02", 200), "1308.996939166666666666666665 27.41556778796323254444444441 120 "
                                "22.84630648996936045370370368");
    EXPECT_EQ(row("0.04", 300), "0 0 120 0") << "a rise of exactly 100 gives torque 0";
    EXPECT_EQ(row("0.06", 600), "1963.49540875 123.37005504583454645 120 100") << "efficiency is capped at 100";
}

struct RowCase {
    const char* name;
    std::vector<std::array<const char*, 4>> records; // t, v, a, n
    const char* lastRow;                             // torque, power, input, efficiency of the last record
};

class RowRulesTest : public testing::TestWithParam<RowCase> {};

TEST_P(RowRulesTest, LastRowIs)
{
    const RowCase& c = GetParam();
    RowCalculator rows(RowCalculator::inertiaOf(Decimal(50), Decimal(1000)));
    ReportRow r;
    for (const auto& rec : c.records)
        r = rows.next(Decimal::parse(rec[0]), Decimal::parse(rec[1]), Decimal::parse(rec[2]), Decimal::parse(rec[3]));
    const std::string got = r.torque.toString() + " " + r.outputPower.toString() + " " + r.inputPower.toString() + " "
                          + r.efficiency.toString();
    EXPECT_EQ(got, c.lastRow) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RowRulesTest,
    testing::Values(
        RowCase{"rise of 100 from standstill", {{{"0.02", "12", "10", "100"}}}, "0 0 120 0"},
        RowCase{"rise of 101 is computed",
                {{{"0.02", "12", "10", "101"}}},
                "661.043454279166666666666665 6.9916551751253233796469444268 120 5.82637931260443614970578702"},
        RowCase{"falling speed", {{{"0.02", "12", "10", "900"}, {"0.04", "12", "10", "500"}}}, "0 0 120 0"},
        RowCase{"no input power: efficiency 0 without a division",
                {{{"0.02", "0", "10", "600"}}},
                "3926.9908175 246.7401100916690929 0 0"},
        RowCase{"a repeated run time gives torque 0",
                {{{"0.02", "12", "10", "200"}, {"0.02", "12", "10", "600"}}},
                "0 0 120 0"},
        RowCase{"a run time that goes back gives torque 0, not a negative one",
                {{{"0.04", "12", "10", "200"}, {"0.02", "12", "10", "600"}}},
                "0 0 120 0"},
        RowCase{"the record after a zeroed one compares with it",
                {{{"0.02", "12", "10", "200"}, {"0.02", "12", "10", "600"}, {"0.04", "12", "10", "900"}}},
                "1963.49540875 185.055082568751819675 120 100"},
        RowCase{"a first record at run time 0 gives torque 0", {{{"0", "12", "10", "600"}}}, "0 0 120 0"}),
    [](const testing::TestParamInfo<RowCase>& test) { return "Case" + std::to_string(test.index); });

TEST_F(RunAnalyzerTest, AZeroRadiusGivesZeroTorqueEverywhere)
{
    setBoxes("0", "1000", "1500", "2000");
    writeRun("0.02,12,10,200\r\n0.04,12,10,600\r\n");
    analyze();
    EXPECT_EQ(rows(), QList<QByteArray>({"0.02,12,10,200,0,0,120,0\r", "0.04,12,10,600,0,0,120,0\r"}));
}

TEST_F(RunAnalyzerTest, TrailerTextsAreWrittenAsTypedWithQuotesDoubled)
{
    setBoxes(" 30.5 ", "240", "15\"00", "a,b");
    writeRun("");
    analyze();
    EXPECT_TRUE(report().endsWith("30.5,240,\"15\"\"00\",\"a,b\"\r\n")) << report().toStdString();
}

TEST_F(RunAnalyzerTest, BoxesAreReadWithTheUsersDecimalSeparator)
{
    setBoxes("30,5", "1234,5", "1500", "2000");
    writeRun("");
    analyze(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_TRUE(report().endsWith("30.5,1234.5,\"1500\",\"2000\"\r\n")) << report().toStdString();
}

TEST_F(RunAnalyzerTest, BoxesWithoutNumbersTouchNoFile)
{
    writeAll(path("save.csv"), "previous report");
    writeRun("0.02,12,10,200\r\n");
    for (const auto& [radius, weight] : {std::pair{"", "1000"}, {" ", "1000"}, {"50", "abc"}, {"50", "1e3"}}) {
        setBoxes(radius, weight, "1500", "2000");
        const std::string message = failure();
        EXPECT_NE(message.find(*radius == '5' ? "Flywheel Weight" : "Flywheel Radius"), std::string::npos) << message;
        EXPECT_EQ(report(), "previous report");
        expectOnlyFiles({"Temp.dat", "save.csv"});
    }
}

struct BrokenRun {
    std::string temp;
    const char* messagePart;
};

class BrokenRunTest : public RunAnalyzerTest, public testing::WithParamInterface<BrokenRun> {};

TEST_P(BrokenRunTest, LeavesThePreviousReportAndNoTemporaryFile)
{
    writeAll(path("save.csv"), "previous report");
    writeRun(QByteArray::fromStdString(GetParam().temp));
    const std::string message = failure();
    EXPECT_NE(message.find(GetParam().messagePart), std::string::npos) << message;
    EXPECT_NE(message.find("Temp.dat"), std::string::npos) << message;
    EXPECT_EQ(report(), "previous report");
    expectOnlyFiles({"Temp.dat", "save.csv"});
}

INSTANTIATE_TEST_SUITE_P(
    Runs, BrokenRunTest,
    testing::Values(BrokenRun{"0.02,12,10,200\r\n0.04,12,10\r\n", "ends inside a record"},
                    BrokenRun{"0.02,12,10,200\r\n0.04,12,ten,300\r\n", "line 2: not a number: \"ten\""},
                    BrokenRun{"0.02,12,10,200\r\n0.04,\"12\",10,300\r\n", "line 2: not a number: \"12\""},
                    // A run file cut down under a running program starts with zero bytes.
                    BrokenRun{std::string(3, '\0') + ",12,10,200\r\n", "line 1: not a number: \"\\x00\\x00\\x00\""},
                    BrokenRun{"0.02,12,10,200\r\n0.04,79228162514264337593543950335,2,300\r\n",
                              "record 2 (0.04,79228162514264337593543950335,2,300): "}));

TEST_F(RunAnalyzerTest, AMissingRunFileIsAnError)
{
    writeAll(path("save.csv"), "previous report");
    EXPECT_NE(failure().find("Temp.dat"), std::string::npos);
    EXPECT_EQ(report(), "previous report");
    expectOnlyFiles({"save.csv"});
}

TEST_F(RunAnalyzerTest, AReportThatCannotReplaceTheOldOneIsAnError)
{
    ASSERT_TRUE(QDir(dir_.path()).mkdir("save.csv"));
    writeAll(path("save.csv/keep"), "x");
    writeRun("0.02,12,10,200\r\n");
    EXPECT_NE(failure().find("save.csv"), std::string::npos);
    expectOnlyFiles({"Temp.dat", "save.csv"});
}

TEST_F(RunAnalyzerTest, AnalysingAgainReplacesTheReport)
{
    writeRun("0.02,12,10,200\r\n");
    analyze();
    setBoxes("0", "1000", "1500", "2000");
    analyze();
    EXPECT_EQ(rows(), QList<QByteArray>({"0.02,12,10,200,0,0,120,0\r"}));
    expectOnlyFiles({"Temp.dat", "save.csv"});
}

#ifdef Q_OS_UNIX
// The report goes in under a temporary name; it must still end up with the
// mode a file written in place would have.
TEST_F(RunAnalyzerTest, TheReportGetsTheModeOfANewFileOrOfTheFileItReplaces)
{
    struct Case {
        const char* what;
        mode_t umask;
        std::optional<mode_t> previousMode;
        mode_t expected;
    };
    const Case cases[] = {
        {"new, umask 022", 022, std::nullopt, 0644},          {"new, umask 002", 002, std::nullopt, 0664},
        {"new, umask 077", 077, std::nullopt, 0600},          {"replacing a 0664 one, umask 077", 077, 0664, 0664},
        {"replacing a 0640 one, umask 002", 002, 0640, 0640},
    };
    writeRun("0.02,12,10,200\r\n");
    const QByteArray report = QFile::encodeName(path("save.csv"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path("save.csv"));
        if (c.previousMode) {
            writeAll(path("save.csv"), "previous report");
            ASSERT_EQ(::chmod(report.constData(), *c.previousMode), 0);
        }
        const mode_t saved = ::umask(c.umask);
        analyze();
        ::umask(saved);
        struct stat st {};
        ASSERT_EQ(::stat(report.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.expected) << std::oct << "mode 0" << (st.st_mode & 0777);
        expectOnlyFiles({"Temp.dat", "save.csv"});
    }
}
#endif

} // namespace
