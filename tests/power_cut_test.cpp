// What a power cut leaves: the real program records from dyno-sim with its
// data directory on a file system that loses power (tests/support/
// PowerCutFs.h), and the disk is cut at seeded points of one recorded
// session: across Start, recording, Stop, the archive's copies, the figures,
// a note and the motor, and a second Start after a kill. At each point the disk the cut
// leaves is mounted again, the program started on it and Start pressed, and
// then what survived is checked against what the session wrote.
//
// One session is recorded per case and every cut is replayed from its log,
// so a cut costs a mount and a program start, not a run. A failure names the
// seed, the cut point and the tail of the log; ZELVAR_POWER_CUT_POINT=
// "<kind>:<path>:<occurrence>" (as printed) replays one point alone and
// ZELVAR_POWER_CUT_SEED picks other points.
//
// Also here: a full disk during a run and at Stop, and a read-only data
// directory at Start, on the same file system.

#include "archive/RunArchive.h"
#include "charts/ChartWindow.h"
#include "charts/RunBrowser.h"
#include "session/RunSession.h"
#include "shell/NorvDynoData.h"
#include "shell/ZelvarApplication.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "DynoSim.h"
#include "EventLoop.h"
#include "Files.h"
#include "PowerCutFs.h"
#include "ProgramTest.h"
#include "PseudoTerminal.h"
#include "RecordingMessageBox.h"

#include <csignal>
#include <random>

using namespace zelvar;
using namespace zelvar::testing_support;
using namespace zelvar::testing_support::powercut;

namespace {

// The sanitizers make every program start several times slower.
#ifdef ZELVAR_SANITIZE
constexpr int kCutsPerCase = 40;
#else
constexpr int kCutsPerCase = 100;
#endif
constexpr std::uint32_t kSeed = 20240611;
// How much of a run a power cut may take.
constexpr auto kLossAllowed = std::chrono::seconds(1);

// "Temp.dat" as its path in the log and in a folder.
const std::string kRunFile = "Temp.dat";
const std::string kReport = "save.csv";
const QByteArray kPreviousReport = "the report of a run before this session\r\n";

std::uint32_t seed()
{
    const QByteArray given = qgetenv("ZELVAR_POWER_CUT_SEED");
    return given.isEmpty() ? kSeed : given.toUInt();
}

std::optional<CutPoint> pointFromEnvironment()
{
    const QList<QByteArray> parts = qgetenv("ZELVAR_POWER_CUT_POINT").split(':');
    if (parts.size() != 3)
        return std::nullopt;
    for (int k = 0; k <= static_cast<int>(OpKind::Chmod); ++k) {
        if (parts[0] == kindName(static_cast<OpKind>(k)))
            return CutPoint{static_cast<OpKind>(k), parts[1].toStdString(), parts[2].toInt()};
    }
    return std::nullopt;
}

QByteArray bytes(const std::string& s)
{
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

// Up to the last line end: the records a file holds whole.
QByteArray wholeLines(const QByteArray& data)
{
    return data.left(data.lastIndexOf('\n') + 1);
}

// The status line of a program's window, its reason and its Start/Stop.
struct Window {
    ZelvarApplication& program;
    NorvDynoData& form() { return program.mainWindow(); }
    QString status() { return form().label2Widget()->text(); }
    std::string reason() { return form().label2Widget()->toolTip().toStdString(); }
    void click() { QTest::mouseClick(form().command1Widget(), Qt::LeftButton); }
    bool setUp() { return !form().text1Widget(4)->text().trimmed().isEmpty(); }
};

// The program on `directory`, its messages recorded, loaded and shown.
struct Program {
    explicit Program(const QString& directory) : program(testOptions(directory, messages)) {}
    bool load()
    {
        if (!program.Form_Load())
            return false;
        program.mainWindow().show();
        return true;
    }
    Window window() { return {program}; }
    RecordingMessageBox messages;
    ZelvarApplication program;
};

// What the session wrote, read from its log: every run's records as they
// stood at their end, every report put in place, and the points the test
// marked while it drove the program.
struct Session {
    DurabilityModel initial;
    std::vector<Operation> log;
    powercut::Clock::time_point origin;
    std::vector<QByteArray> runs;           // Temp.dat's content before each emptying and at the end
    std::vector<QByteArray> reports;        // save.csv: the previous one, then each put in place
    std::vector<std::size_t> reportRenames; // the index of each rename onto save.csv
    std::map<std::string, std::size_t> marks;
    std::size_t firstStopDone = 0;    // ops done when the first Stop returned
    std::size_t firstArchiveDone = 0; // ... when the first run was listed as stopped
    QString firstRunFolder;           // its name

    void read()
    {
        DurabilityModel model = initial;
        reports = {kPreviousReport};
        for (std::size_t i = 0; i < log.size(); ++i) {
            const Operation& op = log[i];
            if (op.kind == OpKind::Truncate && op.path == kRunFile && op.offset == 0) {
                const QByteArray before = bytes(model.current(kRunFile).value_or(""));
                if (!before.isEmpty())
                    runs.push_back(before);
            }
            if (op.kind == OpKind::Rename && op.target == kReport) {
                reports.push_back(bytes(model.current(op.path).value_or("")));
                reportRenames.push_back(i);
            }
            model.apply(op);
        }
        runs.push_back(bytes(model.current(kRunFile).value_or("")));
    }
};

struct Violation {
    std::string what;
};

// What one cut left, before and after the program's next Start.
class CutCheck {
public:
    CutCheck(const Session& session, std::size_t done) : session_(session), done_(done) {}

    // The latest the power can have gone: just before the next operation.
    powercut::Clock::time_point cutTime() const
    {
        return done_ < session_.log.size() ? session_.log[done_].time : session_.log.back().time;
    }

    // The records that were in Temp.dat more than a second before the cut.
    QByteArray requiredRecords() const
    {
        std::size_t count = 0;
        while (count < done_ && session_.log[count].time + kLossAllowed <= cutTime())
            ++count;
        return wholeLines(bytes(replay(session_.initial, session_.log, count).current(kRunFile).value_or("")));
    }

    void checkDisk(const QString& dir, bool afterStart)
    {
        const char* when = afterStart ? " after the next Start" : " after the cut";
        std::vector<QByteArray> runFiles;
        if (!afterStart && QFile::exists(dir + "/Temp.dat"))
            runFiles.push_back(readAll(dir + "/Temp.dat"));
        const QDir runs(dir + "/runs");
        for (const QString& name : runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString folder = runs.filePath(name);
            if (QFile::exists(folder + "/Temp.dat"))
                runFiles.push_back(readAll(folder + "/Temp.dat"));
            checkRunFolder(folder, when);
        }
        for (const QByteArray& data : runFiles) {
            const bool prefix = std::any_of(session_.runs.begin(), session_.runs.end(),
                                            [&](const QByteArray& run) { return run.startsWith(data); });
            if (!prefix)
                fail("a Temp.dat" + std::string(when)
                     + " is not the start of a recorded run: " + data.right(80).toStdString());
        }
        const QByteArray required = requiredRecords();
        if (!required.isEmpty() && std::none_of(runFiles.begin(), runFiles.end(), [&](const QByteArray& data) {
                return data.startsWith(required);
            }))
            fail(std::to_string(required.count('\n'))
                 + " records written more than 1 s before the cut are in no "
                   "Temp.dat"
                 + when);
        if (!afterStart)
            checkReport(dir);
    }

    void checkReport(const QString& dir)
    {
        const auto& renames = session_.reportRenames;
        const std::size_t put = static_cast<std::size_t>(
            std::count_if(renames.begin(), renames.end(), [&](std::size_t i) { return i < done_; }));
        const QByteArray report = readAll(dir + "/save.csv");
        const QByteArray& newest = session_.reports[put];
        if (done_ >= session_.firstStopDone && put >= 1 && report != newest)
            fail("save.csv is not the report of the Stop that had returned before the cut");
        else if (report != newest && (put == 0 || report != session_.reports[put - 1]))
            fail("save.csv is neither the previous report nor the new one, whole: " + report.left(80).toStdString());
    }

    void checkRunFolder(const QString& folder, const char* when)
    {
        if (!QFile::exists(folder + "/run.json"))
            return; // the list must name it, which checkListing sees
        std::optional<archive::RunJson> read;
        try {
            read = archive::readRunJson(folder);
        } catch (const std::exception& e) {
            fail("run.json" + std::string(when) + " cannot be read: " + e.what());
            return;
        }
        const archive::RunJson& run = *read;
        if (run.state() != archive::Ending::Stopped)
            return;
        const QByteArray runFile = readAll(folder + "/Temp.dat");
        if (std::find(session_.runs.begin(), session_.runs.end(), runFile) == session_.runs.end())
            fail(QFileInfo(folder).fileName().toStdString() + " is stopped but its Temp.dat is not its run, whole");
        else if (run.records() != std::optional<std::int64_t>(runFile.count('\n')))
            fail(QFileInfo(folder).fileName().toStdString() + " is stopped but counts another number of records");
        const QByteArray report = readAll(folder + "/save.csv");
        if (std::find(session_.reports.begin() + 1, session_.reports.end(), report) == session_.reports.end())
            fail(QFileInfo(folder).fileName().toStdString() + " is stopped but its save.csv is not a whole report");
    }

    // The first run, archived and listed as stopped before the cut, is
    // there and stopped.
    void checkArchivedRun(const QString& dir)
    {
        if (done_ < session_.firstArchiveDone)
            return;
        const QString folder = dir + "/runs/" + session_.firstRunFolder;
        try {
            if (archive::readRunJson(folder).state() != archive::Ending::Stopped)
                fail("the first run, archived before the cut, is no longer stopped");
        } catch (const std::exception& e) {
            fail("the first run, archived before the cut, is lost: " + std::string(e.what()));
        }
    }

    void checkListing(const QString& dir)
    {
        archive::Listing listing;
        try {
            listing = archive::listRuns(dir);
        } catch (const std::exception& e) {
            fail(std::string("the list of runs cannot be read: ") + e.what());
            return;
        }
        const QDir runs(dir + "/runs");
        for (const QString& name : runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFile::exists(runs.filePath(name) + "/run.json"))
                continue;
            const bool named = std::any_of(listing.problems.begin(), listing.problems.end(),
                                           [&](const QString& problem) { return problem.contains(name); });
            if (!named)
                fail("the run folder " + name.toStdString() + " without run.json is not listed as such");
        }
    }

    void fail(std::string what) { violations.push_back({std::move(what)}); }

    std::vector<Violation> violations;

private:
    const Session& session_;
    std::size_t done_;
};

// A path as a pattern that another recording matches too: run folders are
// named by the time and temporary files get a random suffix.
std::string stablePath(const std::string& path)
{
    static const QRegularExpression folder(QStringLiteral("^runs/[^/]+"));
    static const QRegularExpression suffix(QStringLiteral("\\.[0-9a-f]{6}$"));
    QString pattern = QString::fromStdString(path);
    pattern.replace(folder, QStringLiteral("runs/*")).replace(suffix, QStringLiteral(".*"));
    return pattern.toStdString();
}

std::string logTail(const Session& session, std::size_t done)
{
    std::string tail;
    for (std::size_t i = done > 8 ? done - 8 : 0; i < std::min(done + 2, session.log.size()); ++i)
        tail += (i == done ? "   --- cut ---\n    " : "    ") + describe(session.log[i], session.origin) + "\n";
    return tail;
}

// A data directory on the power-cut file system: backing/ holds what the
// disk holds, mnt/ is where the program sees it.
class PowerCutTest : public testing::Test {
protected:
    void SetUp() override
    {
        const QString why = unavailableReason();
        if (!why.isEmpty())
            GTEST_SKIP() << "FUSE cannot be mounted here: " << why.toStdString();
        ASSERT_TRUE(QDir(root_.path()).mkpath("backing") && QDir(root_.path()).mkpath("mnt"));
        for (const char* name : {"RCS.dat", "RTA.dat"})
            writeAll(backing() + "/" + name, "");
        writeAll(backing() + "/save.csv", kPreviousReport);
    }
    void TearDown() override { qunsetenv("ZELVAR_COM3"); }

    QString backing() const { return root_.path() + "/backing"; }
    QString mnt() const { return root_.path() + "/mnt"; }
    QStringList simArguments() const
    {
        return {"--wait-for-reader", "--idle", "0.3", "--spin", "3", "--brake", "0.5", "--repeat", "50"};
    }
    // dyno-sim on COM 3 for the next program, with a link file of its own.
    std::unique_ptr<SimProcess> startSim()
    {
        const QString dir = QStringLiteral("%1/sim%2").arg(root_.path()).arg(++sims_);
        QDir().mkpath(dir);
        auto sim = std::make_unique<SimProcess>(simArguments(), dir);
        const QByteArray mapping = sim->mapping();
        EXPECT_TRUE(mapping.startsWith("ZELVAR_COM3=")) << sim->finish().err.toStdString();
        qputenv("ZELVAR_COM3", mapping.mid(mapping.indexOf('=') + 1));
        return sim;
    }
    static qsizetype lines(const QString& path) { return readAll(path).count('\n'); }

    // Mounts what a cut left in `disk` again, starts the program on it and
    // presses Start: it must run and read its list, and then the disk is
    // checked again.
    void startAgain(CutCheck& check, const QString& disk, PseudoTerminal& port)
    {
        {
            PowerCutFs fs(disk, mnt());
            if (!fs.error().isEmpty()) {
                check.fail("cannot mount the disk again: " + fs.error().toStdString());
                return;
            }
            qputenv("ZELVAR_COM3", port.slavePath().toLocal8Bit());
            Program again(mnt());
            if (!again.load()) {
                check.fail("the program does not start: " + again.messages.shown.join(" | ").toStdString());
                return;
            }
            Window w = again.window();
            w.click();
            if (w.status() != "Now Running")
                check.fail("Start after the cut: " + w.status().toStdString() + ": " + w.reason());
            again.program.session()->waitForMeasurement();
            check.checkListing(mnt());
        }
        check.checkDisk(disk, true);
    }

    QTemporaryDir root_;
    int sims_ = 0;
};

class PowerCutSessionTest : public PowerCutTest, public testing::WithParamInterface<const char*> {
protected:
    // The session: a first run Started, recorded and Stopped, its report
    // drawn and its figures written, a note and the motor written through
    // the Runs tab; a second run in a process that is killed; and a Start
    // after it.
    Session record()
    {
        Session session;
        PowerCutFs fs(backing(), mnt());
        EXPECT_TRUE(fs.error().isEmpty()) << fs.error().toStdString();
        session.initial = fs.initial();
        session.origin = fs.mountedAt();
        const auto mark = [&](const char* name) { session.marks[name] = fs.operations(); };
        // Records written to Temp.dat since a mark: the file itself still
        // holds the previous run's until a Start empties it.
        const auto recordsSince = [&](const char* name) {
            const std::vector<Operation> log = fs.log();
            return std::count_if(log.begin() + static_cast<std::ptrdiff_t>(session.marks[name]), log.end(),
                                 [](const Operation& op) { return op.kind == OpKind::Write && op.path == kRunFile; });
        };
        const QString runFile = mnt() + "/Temp.dat";
        {
            auto sim = startSim();
            Program first(mnt());
            EXPECT_TRUE(first.load());
            Window w = first.window();
            mark("start");
            w.click();
            EXPECT_EQ(w.status(), "Now Running") << w.reason();
            mark("recording");
            EXPECT_TRUE(pumpUntil([&] { return lines(runFile) >= 120 && w.setUp(); }, 20s)) << w.reason();
            mark("stop");
            w.click();
            EXPECT_EQ(w.status(), "Now Ready") << w.reason();
            session.firstStopDone = fs.operations();
            mark("copies");
            EXPECT_TRUE(pumpUntil(
                [&] {
                    const auto runs = archive::listRuns(mnt()).runs;
                    return runs.size() == 1 && runs[0].ending == archive::Ending::Stopped;
                },
                20s));
            session.firstArchiveDone = fs.operations();
            const auto runs = archive::listRuns(mnt()).runs;
            if (!runs.empty())
                session.firstRunFolder = runs[0].name;
            waitForStopReport(first.program);
            EXPECT_TRUE(
                pumpUntil([&] { return archive::readRunJson(runs[0].folder).json().contains("figures"); }, 20s));
            mark("note");
            first.program.showCharts();
            RunBrowser* browser = first.program.chartWindow()->runBrowser();
            browser->refresh();
            EXPECT_TRUE(pumpUntil([&] { return browser->listed() && !browser->reading(); }, 20s));
            EXPECT_TRUE(browser->setNote(0, "prop 9x4.5, after the breaker tripped"));
            EXPECT_TRUE(pumpUntil([&] { return archive::readRunJson(runs[0].folder).note().startsWith("prop"); }, 20s));
            // What the run was of, written afterwards through the Runs tab.
            EXPECT_TRUE(browser->setMotor(0, {"A2212", 1000.0, "3S LiPo"}));
            EXPECT_TRUE(pumpUntil([&] { return archive::readRunJson(runs[0].folder).motor().name == "A2212"; }, 20s));
        }
        mark("killed run");
        {
            auto sim = startSim();
            QProcess killed;
            killed.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", mnt(), "--run-for", "60"});
            EXPECT_TRUE(pumpUntil([&] { return recordsSince("killed run") >= 80; }, 20s))
                << killed.readAllStandardError().toStdString();
            ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
            killed.waitForFinished(10000);
        }
        mark("start after kill");
        {
            auto sim = startSim();
            Program next(mnt());
            EXPECT_TRUE(next.load());
            Window w = next.window();
            w.click();
            EXPECT_EQ(w.status(), "Now Running") << w.reason();
            EXPECT_TRUE(pumpUntil([&] { return recordsSince("start after kill") >= 40; }, 20s)) << w.reason();
            mark("end");
        }
        session.log = fs.log();
        session.log.resize(session.marks["end"]);
        // The figures follow the copies on the archive's worker, often before
        // the list shows the run stopped: they start after the run.json that
        // says so.
        int renames = 0;
        for (std::size_t i = session.marks["copies"]; i < session.log.size(); ++i) {
            const Operation& op = session.log[i];
            if (op.kind == OpKind::Rename && op.target.ends_with("/run.json") && ++renames == 1) {
                session.marks["figures"] = i + 1;
                break;
            }
        }
        session.read();
        return session;
    }

    // The points of the session between two marks that are cut: every
    // operation that is not a write (where the order of names and syncs
    // matters), then writes at random, `count` in all.
    std::vector<std::size_t> pointsBetween(const Session& session, const char* from, const char* to, int count)
    {
        const std::size_t lo = session.marks.at(from), hi = session.marks.at(to);
        std::vector<std::size_t> metadata, writes;
        for (std::size_t done = lo + 1; done <= hi; ++done)
            (session.log[done - 1].kind == OpKind::Write ? writes : metadata).push_back(done);
        std::mt19937 random(seed() + static_cast<std::uint32_t>(lo));
        std::shuffle(metadata.begin(), metadata.end(), random);
        std::shuffle(writes.begin(), writes.end(), random);
        std::vector<std::size_t> points;
        for (auto* source : {&metadata, &writes})
            for (std::size_t p : *source)
                if (points.size() < static_cast<std::size_t>(count))
                    points.push_back(p);
        std::sort(points.begin(), points.end());
        return points;
    }

    // Cuts the session after `done` operations, starts the program on what
    // the disk holds, presses Start, and checks.
    std::vector<Violation> cut(const Session& session, std::size_t done, PseudoTerminal& port)
    {
        CutCheck check(session, done);
        const QString disk = root_.path() + "/after-cut";
        QDir(disk).removeRecursively();
        QDir().mkpath(disk);
        replay(session.initial, session.log, done).writeDurable(disk);
        check.checkDisk(disk, false);
        check.checkArchivedRun(disk);
        startAgain(check, disk, port);
        return check.violations;
    }
};

TEST_P(PowerCutSessionTest, NothingReportedDoneIsLostAndEveryRecordOlderThanASecondStays)
{
    const std::string phase = GetParam();
    const Session session = record();
    ASSERT_FALSE(HasFailure()) << "the session could not be recorded";
    const std::map<std::string, std::pair<const char*, const char*>> phases{
        {"StartAndRecording", {"start", "stop"}},
        {"StopAndTheArchiveCopies", {"stop", "figures"}},
        {"FiguresAndNote", {"figures", "killed run"}},
        {"KilledRunAndTheStartAfterIt", {"killed run", "end"}},
    };
    const auto [from, to] = phases.at(phase);
    std::vector<std::size_t> points;
    if (const std::optional<CutPoint> given = pointFromEnvironment()) {
        const std::optional<std::size_t> index = find(session.log, *given);
        ASSERT_TRUE(index) << describe(*given) << " does not occur in this session";
        points = {*index + 1};
    } else {
        points = pointsBetween(session, from, to, kCutsPerCase);
    }
    ASSERT_FALSE(points.empty());

    PseudoTerminal port;
    ASSERT_TRUE(port.ready());
    int violations = 0;
    for (std::size_t done : points) {
        const std::vector<Violation> found = cut(session, done, port);
        violations += static_cast<int>(found.size());
        if (found.empty())
            continue;
        const CutPoint point = cutPointOf(session.log, done - 1, stablePath(session.log[done - 1].path));
        std::string text;
        for (const Violation& v : found)
            text += "  " + v.what + "\n";
        ADD_FAILURE() << "seed " << seed() << ", cut " << describe(point)
                      << " (ZELVAR_POWER_CUT_POINT=" << kindName(point.kind) << ":" << point.path << ":"
                      << point.occurrence << "):\n"
                      << text << "  the log up to the cut:\n"
                      << logTail(session, done);
    }
    std::printf("%zu cuts, %d violations\n", points.size(), violations);
}

INSTANTIATE_TEST_SUITE_P(Phases, PowerCutSessionTest,
                         testing::Values("StartAndRecording", "StopAndTheArchiveCopies", "FiguresAndNote",
                                         "KilledRunAndTheStartAfterIt"),
                         [](const testing::TestParamInfo<const char*>& phase) { return std::string(phase.param); });

// A cut made live, at a time, on a signal or at an operation named by kind
// and path, while the program records in a process of its own: the process
// is killed, and the backing directory holds exactly what the log replays.
class LiveCutTest : public PowerCutTest, public testing::WithParamInterface<const char*> {};

TEST_P(LiveCutTest, TheDiskAfterALiveCutIsWhatItsLogReplaysAndKeepsTheRun)
{
    const std::string trigger = GetParam();
    Session session;
    {
        PowerCutFs fs(backing(), mnt());
        ASSERT_TRUE(fs.error().isEmpty()) << fs.error().toStdString();
        auto sim = startSim();
        QProcess program;
        program.start(QStringLiteral(ZELVAR_DATA_PATH), {"--app-dir", mnt(), "--run-for", "30"});
        const auto writes = [&] {
            const std::vector<Operation> log = fs.log();
            return std::count_if(log.begin(), log.end(),
                                 [](const Operation& op) { return op.kind == OpKind::Write && op.path == kRunFile; });
        };
        ASSERT_TRUE(pumpUntil([&] { return writes() >= 10; }, 20s)) << program.readAllStandardError().toStdString();
        if (trigger == "AtATime") {
            fs.cutAtTime(powercut::Clock::now() + 1500ms);
        } else if (trigger == "OnASignal") {
            fs.cutOnSignal(SIGUSR1);
            ASSERT_TRUE(pumpUntil([&] { return writes() >= 80; }, 20s));
            ::kill(::getpid(), SIGUSR1);
        } else {
            fs.cutAt({OpKind::Write, kRunFile, 90});
        }
        ASSERT_TRUE(pumpUntil([&] { return fs.isCut(); }, 20s));
        ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
        program.waitForFinished(10000);
        session.initial = fs.initial();
        session.origin = fs.mountedAt();
        session.log = fs.log();
        ASSERT_EQ(session.log.size(), fs.operationsBeforeCut()) << "an operation was done after the cut";
    }
    session.firstStopDone = session.firstArchiveDone = SIZE_MAX;
    session.read();

    const QString replayed = root_.path() + "/replayed";
    QDir().mkpath(replayed);
    replay(session.initial, session.log, session.log.size()).writeDurable(replayed);
    const auto tree = [](const QString& dir) {
        std::map<QString, QByteArray> files;
        QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files[QDir(dir).relativeFilePath(path)] = readAll(path);
        }
        return files;
    };
    EXPECT_EQ(tree(backing()), tree(replayed));

    CutCheck check(session, session.log.size());
    check.checkDisk(backing(), false);
    PseudoTerminal port;
    ASSERT_TRUE(port.ready());
    startAgain(check, backing(), port);
    std::string text;
    for (const Violation& v : check.violations)
        text += "  " + v.what + "\n";
    EXPECT_TRUE(check.violations.empty()) << "cut " << trigger << ":\n" << text << logTail(session, session.log.size());
    std::printf("1 cuts, %zu violations\n", check.violations.size());
}

INSTANTIATE_TEST_SUITE_P(Triggers, LiveCutTest, testing::Values("AtATime", "OnASignal", "AtAnOperation"),
                         [](const testing::TestParamInfo<const char*>& trigger) { return std::string(trigger.param); });

// A full disk and a read-only data directory, as the program meets them.
class MediaTest : public PowerCutTest {
protected:
    void SetUp() override
    {
        PowerCutTest::SetUp();
        if (IsSkipped())
            return;
        fs_ = std::make_unique<PowerCutFs>(backing(), mnt());
        ASSERT_TRUE(fs_->error().isEmpty()) << fs_->error().toStdString();
        sim_ = startSim();
        program_ = std::make_unique<Program>(mnt());
        ASSERT_TRUE(program_->load());
    }
    void TearDown() override
    {
        program_.reset();
        sim_.reset();
        fs_.reset();
        PowerCutTest::TearDown();
    }
    Window window() { return program_->window(); }
    bool recorded(qsizetype records)
    {
        return pumpUntil([&] { return lines(mnt() + "/Temp.dat") >= records && window().setUp(); }, 20s);
    }

    std::unique_ptr<PowerCutFs> fs_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Program> program_;
};

TEST_F(MediaTest, AFullDiskDuringARunEndsItInErrorAndKeepsEveryRecordWritten)
{
    Window w = window();
    w.click();
    ASSERT_EQ(w.status(), "Now Running") << w.reason();
    ASSERT_TRUE(recorded(30)) << w.reason();
    fs_->setQuota(fs_->usedBytes());
    ASSERT_TRUE(pumpUntil([&] { return w.status() == "Error!"; }, 20s));
    EXPECT_NE(w.reason().find("No space left on device"), std::string::npos) << w.reason();
    const QByteArray records = readAll(backing() + "/Temp.dat");
    EXPECT_GE(records.count('\n'), 30);
    EXPECT_TRUE(records.endsWith("\r\n")) << "a record is torn: " << records.right(40).toStdString();
    EXPECT_EQ(readAll(backing() + "/save.csv"), kPreviousReport);
}

TEST_F(MediaTest, AFullDiskAtStopKeepsThePreviousReportAndSaysSo)
{
    Window w = window();
    w.click();
    ASSERT_TRUE(recorded(30)) << w.reason();
    const QByteArray records = readAll(mnt() + "/Temp.dat");
    fs_->setQuota(fs_->usedBytes() + 64);
    w.click();
    EXPECT_EQ(w.status(), "Error!");
    EXPECT_NE(w.reason().find("No space left on device"), std::string::npos) << w.reason();
    EXPECT_NE(w.reason().find("the previous save.csv is kept"), std::string::npos) << w.reason();
    EXPECT_EQ(readAll(backing() + "/save.csv"), kPreviousReport);
    EXPECT_TRUE(readAll(backing() + "/Temp.dat").startsWith(records));
    const QStringList left = QDir(backing()).entryList({"save.csv.*"}, QDir::Files);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}

TEST_F(MediaTest, AReadOnlyDataDirectoryIsReportedAtStart)
{
    fs_->setReadOnly(true);
    Window w = window();
    w.click();
    EXPECT_EQ(w.status(), "Error!");
    EXPECT_NE(w.reason().find("Temp.dat"), std::string::npos) << w.reason();
    EXPECT_NE(w.reason().find("Read-only file system"), std::string::npos) << w.reason();
    EXPECT_EQ(readAll(backing() + "/save.csv"), kPreviousReport);
}

} // namespace
