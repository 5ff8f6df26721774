#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "CaseNames.h"
#include "Files.h"
#include "PdfText.h"
#include "QtPrinters.h"
#include "SyntheticRuns.h"

#include "sets/FigureSpread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using zelvar::testing_support::readAll;
using zelvar::testing_support::writeAll;

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

Outcome runTool(const QStringList& arguments, const QProcessEnvironment& environment = {})
{
    QProcess tool;
    if (!environment.isEmpty())
        tool.setProcessEnvironment(environment);
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
    for (const char* option : {"--radius", "--weight", "--esc-neutral", "--esc-full", "--dir", "--version", "--spin-up",
                               "--sheet", "--paper", "--torque-unit", "--power-unit", "--speed-unit"})
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
    QString message;
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
        {{"--list", dir_.filePath("nowhere")}, 2, "--list: \"" + dir_.filePath("nowhere") + "\" is not a directory"},
        {{"--list", dir_.path(), "--radius", "50"}, 2, "--list takes no other options"},
        {{"--list", dir_.path(), "--list-format", "xml"}, 2, "--list-format: \"xml\" is neither"},
        {{"--list-format", "tsv"}, 2, "--list-format goes with --list"},
        {args({"--paper", "a5"}), 2, "--paper: \"a5\" is neither"},
        {args({"--paper", "letter"}), 2, "--paper goes with --sheet"},
        {args({"--dir", dir_.path(), "--summary"}), 2, "several --dir make a comparison sheet"},
        {args({"--torque-unit", "lbf-ft"}), 2, "--torque-unit: \"lbf-ft\" is none of mNm|Nm|oz-in|kgf-cm"},
        {args({"--power-unit", "kW"}), 2, "--power-unit: \"kW\" is none of W|hp"},
        {args({"--speed-unit", "RPM"}), 2, "--speed-unit: \"RPM\" is none of rpm|rad/s"},
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
        SpinUpCall{"TheLongestByDefault", {}, 0, "(spin-up 2 of 3: 4.54 s", "\"spin_up\": 2", "4.5"},
        SpinUpCall{"TheFirst", {"--spin-up", "1"}, 0, "(spin-up 1 of 3: 0.02 s", "\"spin_up\": 1", "0.02,"},
        SpinUpCall{"TheThird", {"--spin-up", "3"}, 0, "(spin-up 3 of 3: ", "\"spin_up\": 3", "11.0"},
        SpinUpCall{"PastTheLast", {"--spin-up", "4"}, 2, "--spin-up 4: the run has 3 spin-ups", "", ""},
        SpinUpCall{"NotANumber", {"--spin-up", "0"}, 2, "--spin-up: \"0\" is not a spin-up number", "", ""}),
    zelvar::testing_support::CaseName());

// A run folder of the archive as the program leaves it: its run file and a
// run.json with the flywheel and ESC values the boxes held.
QJsonObject archivedRun()
{
    return QJsonObject{{"format", 1},
                       {"state", "stopped"},
                       {"started", "2026-03-01T10:00:00+01:00"},
                       {"ended", "2026-03-01T10:00:12.400+01:00"},
                       {"records", 226},
                       {"flywheel_radius_mm", 30.5},
                       {"flywheel_weight_g", 240},
                       {"esc_neutral", "1500"},
                       {"esc_full", "2000"},
                       {"note", "bench 2"},
                       {"port", 3}};
}

QJsonObject readJson(const QString& path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

void writeJson(const QString& path, const QJsonObject& json)
{
    writeAll(path, QJsonDocument(json).toJson());
}

// --dir naming a run folder takes the values left out from its run.json and
// brings the figures there up to date: the same report and the same figures
// as the values given in full outside the archive.
struct RunFolderCall {
    const char* name;
    QJsonObject changes; // to the run.json of archivedRun(); null removes a value
    QStringList options;
    int exitCode;
    QStringList expected; // the options that give the same report, or what stderr says
};

void PrintTo(const RunFolderCall& c, std::ostream* os)
{
    *os << c.name;
}

class AnalyzeToolRunFolders : public AnalyzeToolTest, public testing::WithParamInterface<RunFolderCall> {};

TEST_P(AnalyzeToolRunFolders, TakeTheValuesLeftOutFromRunJsonAndUpdateItsFigures)
{
    const RunFolderCall& c = GetParam();
    const QByteArray run = zelvar::testing_support::runOfSpinUps({3.0});
    const QString folder = dir_.filePath("runs/2026-03-01_10-00-00");
    const QString plain = dir_.filePath("plain");
    ASSERT_TRUE(QDir().mkpath(folder) && QDir().mkpath(plain));
    writeAll(folder + "/Temp.dat", run);
    writeAll(plain + "/Temp.dat", run);
    QJsonObject json = archivedRun();
    for (auto it = c.changes.begin(); it != c.changes.end(); ++it)
        json.insert(it.key(), it.value());
    writeJson(folder + "/run.json", json);

    const Outcome o = runTool(QStringList{"--dir", folder} + c.options);
    ASSERT_EQ(o.exitCode, c.exitCode) << o.err.toStdString();
    if (c.exitCode != 0) {
        for (const QString& part : c.expected)
            EXPECT_TRUE(o.err.contains(part)) << part.toStdString() << " not in:\n" << o.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder + "/save.csv"));
        EXPECT_EQ(readJson(folder + "/run.json"), json) << "run.json is left as it was";
        return;
    }
    EXPECT_TRUE(o.out.contains(QDir::toNativeSeparators(folder + "/run.json") + ": figures updated"))
        << o.out.toStdString();
    const Outcome given = runTool(QStringList{"--dir", plain, "--summary-json", dir_.filePath("figures.json")}
                                  + c.expected);
    ASSERT_EQ(given.exitCode, 0) << given.err.toStdString();
    EXPECT_EQ(readAll(folder + "/save.csv"), readAll(plain + "/save.csv"));

    const QJsonObject updated = readJson(folder + "/run.json");
    EXPECT_EQ(updated.value("figures").toObject(), readJson(dir_.filePath("figures.json")));
    EXPECT_TRUE(updated.value("peak_output_power_w").isDouble()) << readAll(folder + "/run.json").toStdString();
    EXPECT_EQ(updated.value("format").toInt(), 2) << "its figures count spin-ups from 1";
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (it.key() != "format") {
            EXPECT_EQ(updated.value(it.key()), it.value()) << it.key().toStdString() << " is kept";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, AnalyzeToolRunFolders,
    testing::Values(
        RunFolderCall{"ItsOwnValues",
                      {},
                      {},
                      0,
                      {"--radius", "30.5", "--weight", "240", "--esc-neutral", "1500", "--esc-full", "2000"}},
        RunFolderCall{"AnOptionGivenWins",
                      {},
                      {"--radius", "40", "--esc-full", "2100"},
                      0,
                      {"--radius", "40", "--weight", "240", "--esc-neutral", "1500", "--esc-full", "2100"}},
        RunFolderCall{"AValueMissingThereGiven",
                      {{"flywheel_weight_g", QJsonValue()}},
                      {"--weight", "250"},
                      0,
                      {"--radius", "30.5", "--weight", "250", "--esc-neutral", "1500", "--esc-full", "2000"}},
        RunFolderCall{"AValueMissingEverywhere",
                      {{"flywheel_radius_mm", QJsonValue()}},
                      {},
                      2,
                      {"--radius is required:", QDir::toNativeSeparators("2026-03-01_10-00-00/run.json"),
                       "has no flywheel radius"}}),
    zelvar::testing_support::CaseName());

// Looking at an archived run's figures or charts changes nothing of it while
// its report is current; values other than its run.json's analyse it again.
TEST_F(AnalyzeToolTest, LookingAtARunFolderLeavesItAsItIsUnlessTheValuesDiffer)
{
    const QString folder = dir_.filePath("runs/2026-03-01_10-00-00");
    ASSERT_TRUE(QDir().mkpath(folder));
    writeAll(folder + "/Temp.dat", zelvar::testing_support::runOfSpinUps({3.0}));
    writeJson(folder + "/run.json", archivedRun());
    ASSERT_EQ(runTool({"--dir", folder}).exitCode, 0) << "the first analysis writes the report";
    const QByteArray report = readAll(folder + "/save.csv");
    const QByteArray json = readAll(folder + "/run.json");

    const QStringList looks[] = {{"--summary"},
                                 {"--summary-json", dir_.filePath("f.json")},
                                 {"--curves-csv", dir_.filePath("c.csv")},
                                 {"--png", dir_.filePath("c.png")},
                                 {"--sheet", dir_.filePath("s.pdf")},
                                 {"--summary", "--radius", "30.5", "--esc-full", "2000"}};
    for (const QStringList& look : looks) {
        SCOPED_TRACE(look.join(' ').toStdString());
        const Outcome o = runTool(QStringList{"--dir", folder} + look);
        ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
        EXPECT_FALSE(o.out.contains("figures updated")) << o.out.toStdString();
        EXPECT_EQ(readAll(folder + "/save.csv"), report);
        EXPECT_EQ(readAll(folder + "/run.json"), json);
    }
    const Outcome changed = runTool({"--dir", folder, "--summary", "--radius", "40"});
    ASSERT_EQ(changed.exitCode, 0) << changed.err.toStdString();
    EXPECT_TRUE(changed.out.contains("figures updated")) << changed.out.toStdString();
    EXPECT_NE(readAll(folder + "/save.csv"), report) << "analysed again with the radius given";
}

// --list prints the archive newest first, a run a line, in either format;
// a run.json that cannot be read is a warning, not a failure.
struct ListFormatCase {
    const char* name;
    QStringList options;
    QRegularExpression separator;
    bool aligned; // every column starts at the same place on every line
};

void PrintTo(const ListFormatCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnalyzeToolList : public AnalyzeToolTest, public testing::WithParamInterface<ListFormatCase> {};

TEST_P(AnalyzeToolList, ShowsEveryRunNewestFirstOnOneLine)
{
    const ListFormatCase& c = GetParam();
    QJsonObject withNote = archivedRun();
    withNote.insert("note", "motor A\nbattery  3S");
    QJsonObject failed = archivedRun();
    failed.insert("state", "error");
    failed.insert("reason", "the device went away");
    failed.insert("started", "2026-03-02T09:30:00+01:00");
    failed.insert("ended", "2026-03-02T09:31:05+01:00");
    failed.insert("records", 15);
    failed.insert("note", "");
    const QJsonObject recording{{"state", "recording"}, {"started", "2026-03-03T08:00:00+01:00"}, {"note", ""}};
    for (const auto& [name, json] :
         {std::pair{"2026-03-01_10-00-00", withNote}, std::pair{"2026-03-02_09-30-00", failed},
          std::pair{"2026-03-03_08-00-00", recording}}) {
        ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("runs/") + name)));
        writeJson(dir_.filePath(QStringLiteral("runs/%1/run.json").arg(name)), json);
    }
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("runs/2026-03-04_00-00-00")));
    writeAll(dir_.filePath("runs/2026-03-04_00-00-00/run.json"), "{ not JSON");

    QProcessEnvironment utc = QProcessEnvironment::systemEnvironment();
    utc.insert("TZ", "UTC");
    const Outcome o = runTool(QStringList{"--list", dir_.path()} + c.options, utc);
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    const QList<QStringList> expected{
        {"Run", "Started", "Duration", "Records", "State", "Note"},
        {"2026-03-03_08-00-00", "2026-03-03 07:00:00", "-", "-", "recording"},
        {"2026-03-02_09-30-00", "2026-03-02 08:30:00", "1:05", "15", "error"},
        {"2026-03-01_10-00-00", "2026-03-01 09:00:00", "0:12", "226", "stopped", "motor A battery 3S"},
    };
    const QStringList lines = o.out.split('\n');
    ASSERT_EQ(lines.size(), expected.size() + 1) << o.out.toStdString();
    EXPECT_EQ(lines.last(), "");
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].trimmed().split(c.separator), expected[i]) << o.out.toStdString();
        // Where each field starts, looked for after the one before it.
        qsizetype at = 0;
        qsizetype headerAt = 0;
        for (qsizetype column = 0; c.aligned && column < expected[i].size(); ++column) {
            at = lines[i].indexOf(expected[i][column], at);
            headerAt = lines[0].indexOf(expected[0][column], headerAt);
            EXPECT_EQ(at, headerAt) << expected[i][column].toStdString() << " out of line in:\n" << o.out.toStdString();
            at += expected[i][column].size();
            headerAt += expected[0][column].size();
        }
    }
    EXPECT_EQ(o.err.count('\n'), 1) << o.err.toStdString();
    EXPECT_TRUE(o.err.contains("warning:") && o.err.contains("2026-03-04_00-00-00")) << o.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AnalyzeToolList,
    testing::Values(ListFormatCase{"Table", {}, QRegularExpression("  +"), true},
                    ListFormatCase{"Tsv", {"--list-format", "tsv"}, QRegularExpression("\t"), false}),
    zelvar::testing_support::CaseName());

TEST_F(AnalyzeToolTest, ListWithoutRunsPrintsTheHeaderAlone)
{
    const Outcome o = runTool({"--list", dir_.path()});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.out.count('\n'), 1) << o.out.toStdString();
    EXPECT_TRUE(o.err.contains("no runs archived in " + QDir::toNativeSeparators(dir_.filePath("runs"))))
        << o.err.toStdString();
}

// The figures of --summary-json in the order --summary prints them.
const char* const kFigureKeys[] = {"kv_rpm_per_v",        "resistance_ohm",     "no_load_current_a", "kt_mNm_per_a",
                                   "peak_torque_mNm",     "peak_torque_rpm",    "peak_power_w",      "peak_power_rpm",
                                   "peak_efficiency_pct", "peak_efficiency_rpm"};

// The value and "± σ" of each figure line of --summary, in its order.
std::vector<std::pair<QString, QString>> printedFigures(const QString& summary)
{
    static const QRegularExpression line(R"(^ {0,2}\S.*?\s{2,}(-?[0-9.]+)( ± [0-9.]+)? \S+$)");
    std::vector<std::pair<QString, QString>> figures;
    static const QRegularExpression lineEnd("\r?\n"); // Windows writes "\r\n"
    for (const QString& text : summary.split(lineEnd)) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch() && !text.startsWith("Spin-up"))
            figures.emplace_back(m.captured(1), m.captured(2).trimmed());
    }
    return figures;
}

zelvar::curves::MotorFigures figuresOfJson(const QJsonObject& json)
{
    zelvar::curves::MotorFigures m;
    zelvar::curves::Figure* figures[] = {
        &m.kv,           &m.resistance,     &m.noLoadCurrent,    &m.kt, &m.peakTorque, &m.peakTorqueRpm, &m.peakPower,
        &m.peakPowerRpm, &m.peakEfficiency, &m.peakEfficiencyRpm};
    for (std::size_t k = 0; k < std::size(kFigureKeys); ++k) {
        const QString key = kFigureKeys[k];
        *figures[k] = {json.value(key).toDouble(), json.value(key + "_sigma").toDouble(),
                       json.value(key).isNull() ? "refused" : ""};
    }
    return m;
}

// --torque-unit, --power-unit and --speed-unit change the printed summary
// and the sheet, and nothing in the files: save.csv, run.json and the JSON
// and CSV outputs keep the program's units, byte for byte.
TEST_F(AnalyzeToolTest, UnitsChangeTheTablesAndNotTheFiles)
{
    const QString folder = dir_.filePath("runs/2026-03-01_10-00-00");
    ASSERT_TRUE(QDir().mkpath(folder));
    writeAll(folder + "/Temp.dat", zelvar::testing_support::runOfSpinUps({3.0}));
    writeJson(folder + "/run.json", archivedRun());
    const auto look = [&](const QString& name, const QStringList& units) {
        const Outcome o = runTool(QStringList{"--dir", folder, "--summary", "--summary-json",
                                              dir_.filePath(name + ".json"), "--curves-csv",
                                              dir_.filePath(name + ".csv")}
                                  + units);
        EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
        return o.out;
    };
    ASSERT_EQ(runTool({"--dir", folder}).exitCode, 0) << "the first analysis writes the report";
    const QString own = look("own", {});
    const QByteArray report = readAll(folder + "/save.csv");
    const QByteArray json = readAll(folder + "/run.json");
    const QString shown = look("shown", {"--torque-unit", "kgf-cm", "--power-unit", "hp", "--speed-unit", "rad/s"});
    EXPECT_EQ(readAll(folder + "/save.csv"), report);
    EXPECT_EQ(readAll(folder + "/run.json"), json);
    EXPECT_EQ(readAll(dir_.filePath("shown.json")), readAll(dir_.filePath("own.json")));
    EXPECT_EQ(readAll(dir_.filePath("shown.csv")), readAll(dir_.filePath("own.csv")));
    EXPECT_EQ(look("default", {"--torque-unit", "mNm", "--power-unit", "W", "--speed-unit", "rpm"}), own)
        << "the defaults are the program's units";

    // Each printed figure is the JSON's, in the unit its line names, to the
    // digits printed.
    const QJsonObject figures = readJson(dir_.filePath("own.json"));
    const std::vector<std::pair<QString, QString>> printed = printedFigures(shown);
    ASSERT_EQ(printed.size(), std::size(kFigureKeys)) << shown.toStdString();
    const struct {
        const char* unit;
        double perOwn;
    } units[] = {{"RPM/V", 1},
                 {"ohm", 1},
                 {"A", 1},
                 {"kgf·cm/A", 1 / 98.0665},
                 {"kgf·cm", 1 / 98.0665},
                 {"rad/s", std::numbers::pi / 30},
                 {"hp", 1 / 745.699872},
                 {"rad/s", std::numbers::pi / 30},
                 {"%", 1},
                 {"rad/s", std::numbers::pi / 30}};
    const QStringList lines = shown.split(QRegularExpression("\r?\n"));
    for (std::size_t k = 0; k < std::size(kFigureKeys); ++k) {
        SCOPED_TRACE(kFigureKeys[k]);
        const QString& value = printed[k].first;
        const int decimals = value.contains('.') ? static_cast<int>(value.size() - value.indexOf('.') - 1) : 0;
        EXPECT_NEAR(value.toDouble(), figures.value(kFigureKeys[k]).toDouble() * units[k].perOwn,
                    0.5 * std::pow(10.0, -decimals) * (1 + 1e-9));
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& l) {
            return l.contains(value) && l.endsWith(QString::fromUtf8(units[k].unit));
        })) << shown.toStdString();
    }

    if (zelvar::testing_support::missingPdfTools().isEmpty()) {
        const QString sheet = dir_.filePath("s.pdf");
        ASSERT_EQ(runTool({"--dir", folder, "--sheet", sheet, "--torque-unit", "oz-in"}).exitCode, 0);
        const QString text = zelvar::testing_support::pdfText(sheet);
        EXPECT_TRUE(text.contains("oz·in")) << text.toStdString();
        EXPECT_FALSE(text.contains("mN·m")) << text.toStdString();
    }
}

// A sheet is one page of the paper asked for, and its text holds every
// figure --summary-json gives with the digits --summary prints; a
// comparison sheet names each run and holds the mean over them.
struct SheetCase {
    const char* name;
    QStringList paper;
    std::vector<double> radii; // a run folder each, analysed with this radius
    const char* pageSize;
};

void PrintTo(const SheetCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnalyzeToolSheets : public AnalyzeToolTest, public testing::WithParamInterface<SheetCase> {};

TEST_P(AnalyzeToolSheets, HoldTheFiguresAsSummaryPrintsThemOnePageARun)
{
    if (const QString missing = zelvar::testing_support::missingPdfTools(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    const SheetCase& c = GetParam();
    const QByteArray run = zelvar::testing_support::runOfSpinUps({3.0});
    QStringList dirs, names;
    std::vector<QJsonObject> jsons;
    std::vector<std::vector<std::pair<QString, QString>>> printed;
    for (std::size_t i = 0; i < c.radii.size(); ++i) {
        const QString name = QStringLiteral("2026-03-0%1_10-00-00").arg(i + 1);
        const QString folder = dir_.filePath("runs/" + name);
        ASSERT_TRUE(QDir().mkpath(folder));
        writeAll(folder + "/Temp.dat", run);
        QJsonObject json = archivedRun();
        json.insert("flywheel_radius_mm", c.radii[i]);
        json.insert("note", QStringLiteral("bench %1").arg(i + 1));
        writeJson(folder + "/run.json", json);
        const Outcome o = runTool({"--dir", folder, "--summary", "--summary-json", folder + "/f.json"});
        ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
        dirs << "--dir" << folder;
        names << name;
        jsons.push_back(readJson(folder + "/f.json"));
        printed.push_back(printedFigures(o.out));
        ASSERT_EQ(printed.back().size(), std::size(kFigureKeys)) << o.out.toStdString();
    }
    const QString sheet = dir_.filePath("sheet.pdf");
    const Outcome o = runTool(dirs + QStringList{"--sheet", sheet} + c.paper);
    ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
    const QString info = zelvar::testing_support::pdfInfo(sheet);
    // One page a run sheet; a comparison its curves and figures side by side,
    // then the statistics over the runs.
    const QString pages = jsons.size() == 1 ? "1" : "2";
    EXPECT_TRUE(info.contains(QRegularExpression("Pages: +" + pages + "\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains(c.pageSize)) << info.toStdString();
    const QString text = zelvar::testing_support::pdfText(sheet);

    for (std::size_t i = 0; i < jsons.size(); ++i) {
        SCOPED_TRACE(names[i].toStdString());
        EXPECT_TRUE(text.contains(names[i])) << "the run is named by its folder";
        EXPECT_TRUE(text.contains(QStringLiteral("bench %1").arg(i + 1))) << "and its note";
        for (std::size_t k = 0; k < std::size(kFigureKeys); ++k) {
            const auto& [value, sigma] = printed[i][k];
            SCOPED_TRACE(kFigureKeys[k]);
            // What --summary prints is the JSON's figure to its digits.
            const int decimals = value.contains('.') ? int(value.size() - value.indexOf('.') - 1) : 0;
            EXPECT_NEAR(value.toDouble(), jsons[i].value(kFigureKeys[k]).toDouble(), 0.5 * std::pow(10.0, -decimals));
            EXPECT_TRUE(text.contains(value)) << value.toStdString() << " not in:\n" << text.toStdString();
            if (!sigma.isEmpty()) {
                EXPECT_TRUE(text.contains(sigma)) << sigma.toStdString();
            }
        }
    }
    if (jsons.size() == 1) {
        EXPECT_TRUE(text.contains("30.5 mm")) << "the flywheel";
        EXPECT_TRUE(text.contains("COM3")) << "the port";
        return;
    }
    std::vector<zelvar::curves::MotorFigures> figures;
    for (const QJsonObject& json : jsons)
        figures.push_back(figuresOfJson(json));
    const auto spreads = zelvar::sets::figureSpreads(figures);
    double power = 0.0;
    for (const QJsonObject& json : jsons)
        power += json.value("peak_power_w").toDouble() / double(jsons.size());
    EXPECT_NEAR(spreads[6].text.value.toDouble(), power, 0.05 * power) << "the mean of the peak power";
    for (const auto& row : spreads) {
        EXPECT_TRUE(text.contains(row.text.value))
            << row.name.toStdString() << " mean " << row.text.value.toStdString();
        EXPECT_TRUE(text.contains(row.text.sigma)) << row.name.toStdString() << " SD " << row.text.sigma.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, AnalyzeToolSheets,
    testing::Values(SheetCase{"OneRunOnA4", {}, {30.5}, "595 x 842 pts (A4)"},
                    SheetCase{"OneRunOnLetter", {"--paper", "letter"}, {30.5}, "612 x 792 pts (letter)"},
                    SheetCase{"ThreeRunsCompared", {}, {30.5, 32.0, 29.0}, "595 x 842 pts (A4)"}),
    zelvar::testing_support::CaseName());

} // namespace
