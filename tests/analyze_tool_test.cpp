#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "Files.h"
#include "QtPrinters.h"

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
        return QStringList{"--dir", dir_.path(), "--radius", "50", "--weight", "1000", "--esc-neutral", "1500",
                           "--esc-full", "2000"}
            + more;
    }

    QTemporaryDir dir_;
};

TEST_F(AnalyzeToolTest, HelpExplainsEveryOption)
{
    const Outcome o = runTool({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    for (const char* option : {"--radius", "--weight", "--esc-neutral", "--esc-full", "--dir", "--version"})
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

} // namespace
