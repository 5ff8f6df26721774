#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "CaseNames.h"
#include "Files.h"
#include "QtPrinters.h"
#include "SyntheticRuns.h"

#include <gtest/gtest.h>

namespace {

using zelvar::testing_support::readAll;
using zelvar::testing_support::writeAll;

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

Outcome runTool(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral(ZELVAR_ANALYZE_PATH), arguments);
    if (!tool.waitForFinished(30000))
        return {-1, {}, QStringLiteral("did not finish")};
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

class AnalyzeToolTest : public testing::Test {
protected:
    QStringList args(const QStringList& more = {}) const
    {
        return QStringList{"--dir", dir_.path(),     "--radius", "50",         "--weight",
                           "1000",  "--esc-neutral", "1500",     "--esc-full", "2000"}
             + more;
    }

    QTemporaryDir dir_;
};

TEST_F(AnalyzeToolTest, HelpExplainsEveryOption)
{
    const Outcome o = runTool({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    for (const char* option :
         {"--radius", "--weight", "--esc-neutral", "--esc-full", "--dir", "--version", "--spin-up"})
        EXPECT_TRUE(o.out.contains(option)) << option << " missing from:\n" << o.out.toStdString();
}

TEST_F(AnalyzeToolTest, RecomputesTheWorkedExample)
{
    const QString data = QStringLiteral(ZELVAR_TEST_DATA_DIR "/analysis/p01_worked_example");
    writeAll(dir_.filePath("Temp.dat"), readAll(data + "/temp.dat"));
    const Outcome o = runTool(args());
    EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
    EXPECT_EQ(readAll(dir_.filePath("save.csv")), readAll(data + "/expected_save.csv"));
    EXPECT_TRUE(o.out.contains("save.csv: 3 records")) << o.out.toStdString();
}

struct BadCall {
    QStringList arguments;
    int exitCode;
    const char* message;
};

TEST_F(AnalyzeToolTest, BadCallsSayWhyInOneLineAndTouchNothing)
{
    writeAll(dir_.filePath("save.csv"), "previous report");
    writeAll(dir_.filePath("Temp.dat"), "0.02,12,10,200\r\n0.04,12,x,300\r\n");
    const BadCall calls[] = {
        {{"--dir", dir_.path(), "--weight", "1000"}, 2, "--radius is required"},
        {{"--dir", dir_.path(), "--radius", "50"}, 2, "--weight is required"},
        {{"--dir", dir_.path(), "--radius", "fifty", "--weight", "1000"}, 2, "--radius: not a number: \"fifty\""},
        {{"--dir", dir_.filePath("nowhere"), "--radius", "50", "--weight", "1000"}, 2, "is not a directory"},
        {{"--bogus"}, 2, "bogus"},
        {args({"extra"}), 2, "unexpected argument \"extra\""},
        {args(), 1, "Temp.dat\" line 2: not a number: \"x\""},
    };
    for (const BadCall& c : calls) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Outcome o = runTool(c.arguments);
        EXPECT_EQ(o.exitCode, c.exitCode);
        EXPECT_TRUE(o.err.contains(c.message)) << o.err.toStdString();
        EXPECT_EQ(o.err.count('\n'), 1) << o.err.toStdString();
        EXPECT_EQ(readAll(dir_.filePath("save.csv")), "previous report");
    }
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files, QDir::Name), QStringList({"Temp.dat", "save.csv"}));
}

// --spin-up N picks the spin-up that the charts, the figures and the curves
// describe, and each names it.
struct SpinUpCall {
    const char* name;
    QStringList options;
    int exitCode;
    const char* inOut;     // in stdout, or in stderr for a failure
    const char* spinUpKey; // the JSON's "spin_up", when written
    const char* firstRunTime;
};

void PrintTo(const SpinUpCall& c, std::ostream* os)
{
    *os << c.name;
}

class AnalyzeToolSpinUps : public AnalyzeToolTest, public testing::WithParamInterface<SpinUpCall> {};

TEST_P(AnalyzeToolSpinUps, DescribeTheSpinUpAskedForAndNameIt)
{
    const SpinUpCall& c = GetParam();
    writeAll(dir_.filePath("Temp.dat"), zelvar::testing_support::runOfSpinUps({3.0, 5.0, 4.0}));
    const QString json = dir_.filePath("figures.json");
    const QString csv = dir_.filePath("curves.csv");
    const Outcome o = runTool(
        args(c.options + QStringList{"--png", dir_.filePath("c.png"), "--summary-json", json, "--curves-csv", csv}));
    ASSERT_EQ(o.exitCode, c.exitCode) << o.err.toStdString();
    EXPECT_TRUE((c.exitCode == 0 ? o.out : o.err).contains(c.inOut)) << o.out.toStdString() << o.err.toStdString();
    if (c.exitCode != 0)
        return;
    EXPECT_TRUE(readAll(json).contains(c.spinUpKey)) << readAll(json).toStdString();
    const QByteArray curves = readAll(csv);
    EXPECT_TRUE(curves.split('\n').value(1).startsWith(c.firstRunTime)) << curves.left(300).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Calls, AnalyzeToolSpinUps,
    testing::Values(
        SpinUpCall{"TheLongestByDefault", {}, 0, "(spin-up 2 of 3: 4.54 s", "\"spin_up\": 1", "4.5"},
        SpinUpCall{"TheFirst", {"--spin-up", "1"}, 0, "(spin-up 1 of 3: 0.02 s", "\"spin_up\": 0", "0.02,"},
        SpinUpCall{"TheThird", {"--spin-up", "3"}, 0, "(spin-up 3 of 3: ", "\"spin_up\": 2", "11.0"},
        SpinUpCall{"PastTheLast", {"--spin-up", "4"}, 2, "--spin-up 4: the run has 3 spin-ups", "", ""},
        SpinUpCall{"NotANumber", {"--spin-up", "0"}, 2, "--spin-up: \"0\" is not a spin-up number", "", ""}),
    zelvar::testing_support::CaseName());

} // namespace
