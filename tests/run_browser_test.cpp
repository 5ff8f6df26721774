// The "Runs" tab of the chart window on the offscreen platform, over a
// generated archive: the runs listed newest first with their columns, a
// run's report shown, ticked runs drawn over each other, a note written into
// run.json, and a run deleted into a trash of the test's own.

#include "ChartReadings.h"
#include "archive/RunArchive.h"
#include "charts/ChartWindow.h"
#include "charts/ComparisonView.h"
#include "charts/MotorMapView.h"
#include "charts/RunBrowser.h"
#include "session/LiveTrace.h"

#include "ArchivedRuns.h"
#include "CaseNames.h"
#include "EventLoop.h"
#include "PdfText.h"
#include "QtPrinters.h"
#include "ScratchSettings.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <deque>
#include <memory>

using namespace zelvar;
using namespace zelvar::testing_support;
using namespace std::chrono_literals;

namespace {

// Qt trashes a file on the home directory's file system into
// $XDG_DATA_HOME/Trash: both point into the test's scratch directory, beside
// the runs, for as long as the test lasts. So does the working directory,
// where Qt 6.4 puts what it finds no trash for.
class ScratchHome {
public:
    explicit ScratchHome(const QString& root)
        : home_(qgetenv("HOME")), dataHome_(qgetenv("XDG_DATA_HOME")),
          hadDataHome_(qEnvironmentVariableIsSet("XDG_DATA_HOME")), workingDirectory_(QDir::currentPath())
    {
        const QDir dir(root);
        EXPECT_TRUE(dir.mkpath("home") && dir.mkpath("share") && dir.mkpath("work")) << root.toStdString();
        qputenv("HOME", dir.filePath("home").toLocal8Bit());
        qputenv("XDG_DATA_HOME", dir.filePath("share").toLocal8Bit());
        QDir::setCurrent(dir.filePath("work"));
    }
    ~ScratchHome()
    {
        QDir::setCurrent(workingDirectory_);
        qputenv("HOME", home_);
        if (hadDataHome_)
            qputenv("XDG_DATA_HOME", dataHome_);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

private:
    QByteArray home_;
    QByteArray dataHome_;
    bool hadDataHome_;
    QString workingDirectory_;
};

class RunsTab : public testing::Test {
protected:
    // An archive of `count` generated runs and the chart window on its Runs
    // tab, once the list was read.
    void open(int count)
    {
        ASSERT_TRUE(root_.isValid());
        const QDir root(root_.path());
        ASSERT_TRUE(root.mkpath("data") && root.mkpath("scratch"));
        count_ = count;
        folders_ = writeArchivedRuns(root.filePath("data"), count, shortRun(root.filePath("scratch")));
        ChartWindowOptions options;
        options.applicationDirectory = root.filePath("data");
        options.runs.confirm = [this](const QString& question) {
            questions_ << question;
            const bool yes = !answers_.empty() && answers_.front();
            if (!answers_.empty())
                answers_.pop_front();
            return yes;
        };
        options.runs.archiveOffForThisStart = archiveOffForThisStart_;
        if (noteHandedOn_)
            options.runs.setNote = [this](const QString& folder, const QString& note) {
                handedOn_ << folder + " | " + note;
            };
        window_ = std::make_unique<ChartWindow>(trace_, options);
        window_->show();
        auto* tabs = window_->findChild<QTabWidget*>("ChartTabs");
        ASSERT_TRUE(tabs);
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->tabText(i) == "Runs")
                tabs->setCurrentIndex(i);
        }
        ASSERT_TRUE(pumpUntil([this] { return browser().listed(); }, 30s)) << "the list was never read";
    }

    RunBrowser& browser() const { return *window_->runBrowser(); }
    QTreeView* list() const { return window_->findChild<QTreeView*>("RunList"); }
    QAbstractItemModel* model() const { return list()->model(); }
    // The row of generated run `index`: newest first.
    int rowOf(int index) const { return count_ - 1 - index; }
    QString folderOf(int index) const { return folders_[index]; }
    QString nameOf(int index) const { return QFileInfo(folders_[index]).fileName(); }
    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return model()->data(model()->index(row, column), role).toString();
    }
    void pickRow(int row) const { list()->setCurrentIndex(model()->index(row, RunBrowser::DateColumn)); }
    void tick(int index) const
    {
        model()->setData(model()->index(rowOf(index), RunBrowser::DateColumn), Qt::Checked, Qt::CheckStateRole);
    }
    void click(const char* button) const
    {
        auto* b = window_->findChild<QPushButton*>(button);
        ASSERT_TRUE(b) << button;
        b->click();
    }
    // After a deletion: the list read again without it.
    bool relisted(int rows) const
    {
        return pumpUntil([&] { return !browser().reading() && model()->rowCount() == rows; });
    }

    ScratchSettings settings_;
    QTemporaryDir root_;
    ScratchHome home_{root_.path()};
    session::LiveTrace trace_;
    int count_ = 0;
    QStringList folders_; // oldest first
    std::unique_ptr<ChartWindow> window_;
    std::deque<bool> answers_;
    QStringList questions_;
    bool noteHandedOn_ = false;
    bool archiveOffForThisStart_ = false;
    QStringList handedOn_;
};

TEST_F(RunsTab, AThousandRunsAreListedNewestFirstWithTheirColumns)
{
    open(1000);
    ASSERT_EQ(model()->rowCount(), 1000);
    for (int row = 1; row < 1000; ++row) {
        ASSERT_GT(browser().runs()[row - 1].started, browser().runs()[row].started) << "row " << row;
    }
    // Started, duration, records, state, peak power, motor, nameplate Kv,
    // supply, note; the state's tool tip.
    struct Row {
        int index;
        QStringList columns;
        QString stateTip;
    };
    const Row rows[] = {
        {999, {"2026-02-17 02:45:00", "", "", "recording", "", "unnamed", "", "", ""}, "Being recorded"},
        {990,
         {"2026-02-16 17:30:00", "1:56:00", "348000", "stopped", "297.5 W at 29900 RPM", "unnamed", "", "",
          "motor 990"},
         "Stop ended the run"},
        {942,
         {"2026-02-14 16:10:00", "1:50:24", "331200", "error", "", "unnamed", "", "", ""},
         "The run ended in Error!: the device /dev/ttyUSB0 is gone"},
        {877,
         {"2026-02-11 21:21:40", "1:42:49", "308450", "unfinished", "", "unnamed", "", "", ""},
         "The program ended during the run"},
        {3, {"2026-01-05 11:05:00", "0:51", "2550", "stopped", "", "unnamed", "", "", ""}, "Stop ended the run"},
        {0,
         {"2026-01-05 08:00:00", "0:30", "1500", "stopped", "50.0 W at 20000 RPM", "unnamed", "", "", "motor 0"},
         "Stop ended the run"},
    };
    for (const Row& expected : rows) {
        const int row = rowOf(expected.index);
        QStringList shown;
        for (int column = 0; column < RunBrowser::ColumnCount; ++column)
            shown << cell(row, column);
        EXPECT_EQ(shown, expected.columns) << "run " << expected.index << " in row " << row;
        EXPECT_TRUE(cell(row, RunBrowser::EndingColumn, Qt::ToolTipRole).startsWith(expected.stateTip))
            << cell(row, RunBrowser::EndingColumn, Qt::ToolTipRole).toStdString();
        EXPECT_EQ(model()->data(model()->index(row, RunBrowser::DateColumn), Qt::CheckStateRole).toInt(), Qt::Unchecked)
            << "every row has a box to tick, unticked at first";
    }
    EXPECT_TRUE(window_->findChild<QCheckBox*>("ArchiveSetting")->isChecked()) << "runs are kept unless switched off";
}

TEST_F(RunsTab, TheArchiveSettingIsSwitchedHereUnlessOffForThisStart)
{
    for (const bool offForThisStart : {false, true}) {
        SCOPED_TRACE(offForThisStart ? "--no-archive" : "as saved");
        archive::setEnabledInSettings(true);
        archiveOffForThisStart_ = offForThisStart;
        open(1);
        auto* setting = window_->findChild<QCheckBox*>("ArchiveSetting");
        EXPECT_EQ(setting->isChecked(), !offForThisStart);
        EXPECT_EQ(setting->isEnabled(), !offForThisStart);
        setting->click(); // a disabled box takes no click
        EXPECT_EQ(archive::enabledInSettings(), offForThisStart) << "the saved setting";
        window_.reset();
        QDir(root_.filePath("data")).removeRecursively();
    }
}

// Legends name a run by its note (every tenth run has one), else by its
// start, whole.
TEST_F(RunsTab, AReportIsShownAndTickedReportsAreDrawnOverByTheirNotesOrStarts)
{
    open(100);
    pickRow(rowOf(90));
    QTest::keyClick(list(), Qt::Key_Return);
    ASSERT_TRUE(testing_support::waitForReadings(*window_));
    ASSERT_TRUE(window_->report()) << window_->status().toStdString();
    EXPECT_EQ(window_->report()->name, "motor 90");
    EXPECT_FALSE(window_->showsLive());

    pickRow(rowOf(42));
    click("ShowRunButton");
    EXPECT_EQ(window_->report()->name, "motor 90") << "an error left no report to show";
    EXPECT_TRUE(window_->status().contains("has no report")) << window_->status().toStdString();

    struct Case {
        std::vector<int> ticked;
        QStringList drawn; // newest first, as listed; the ticks add up
        QString status;
    };
    const Case cases[] = {
        {{10, 20}, {"motor 20", "motor 10"}, "2 of 2 ticked runs drawn"},
        {{0, 1, 2, 3, 4, 5, 6, 42},
         {"motor 20", "motor 10", "2026-01-05 14:10:00", "2026-01-05 13:08:20", "2026-01-05 12:06:40"},
         "5 of 10 ticked runs drawn over the report; at most 5 are drawn at once; no report in " + nameOf(42)},
    };
    for (const Case& c : cases) {
        for (const int index : c.ticked)
            tick(index);
        click("OverlayRunsButton");
        ASSERT_TRUE(testing_support::waitForReadings(*window_));
        QStringList drawn;
        for (const curves::ReportCurves& overlay : window_->overlays())
            drawn << overlay.name;
        EXPECT_EQ(drawn, c.drawn);
        EXPECT_TRUE(window_->status().startsWith(c.status)) << window_->status().toStdString();
    }
}

// "Save run sheet..." on both tabs: the report on show, or the ticked runs
// (one a run sheet, several a comparison sheet naming each); the buttons
// show where they apply.
TEST_F(RunsTab, SheetsAreSavedOfTheReportOnShowAndOfTheTickedRuns)
{
    if (const QString missing = testing_support::missingPdfTools(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    open(12);
    auto* reportSheet = window_->findChild<QPushButton*>("SaveSheetButton");
    auto* runsSheet = window_->findChild<QPushButton*>("SaveRunsSheetButton");
    ASSERT_TRUE(reportSheet && runsSheet);
    EXPECT_FALSE(reportSheet->isVisible()) << "the Runs tab has its own";
    EXPECT_TRUE(runsSheet->isVisible());

    struct Case {
        std::vector<int> ticked;
        QStringList inText;
        QString status;
    };
    const Case cases[] = {
        {{10}, {"Run sheet: " + nameOf(10), "motor 10"}, "Saved the run sheet"},
        {{0, 5, 10},
         // The second page: the runs' statistics, as --compare prints them.
         {"Comparison of 3 runs", nameOf(0), nameOf(5), nameOf(10), "motor 0", "Mean ± SD",
          "Comparison of 3 runs: the statistics", "3 of 3 runs in the statistics", "kv_rpm_per_v", "Drift"},
         "Saved the comparison sheet of 3 runs"},
    };
    for (const Case& c : cases) {
        for (int row = 0; row < model()->rowCount(); ++row)
            model()->setData(model()->index(row, RunBrowser::DateColumn), Qt::Unchecked, Qt::CheckStateRole);
        for (const int index : c.ticked)
            tick(index);
        const QString path = QDir(root_.path()).filePath(QStringLiteral("sheet-%1.pdf").arg(c.ticked.size()));
        window_->saveRunsSheet(browser().tickedFolders(), path);
        ASSERT_TRUE(testing_support::waitForReadings(*window_));
        EXPECT_TRUE(window_->status().startsWith(c.status)) << window_->status().toStdString();
        const QString text = testing_support::pdfText(path);
        for (const QString& part : c.inText)
            EXPECT_TRUE(text.contains(part)) << part.toStdString() << " not in:\n" << text.toStdString();
        // A comparison's statistics on a page of their own.
        const QString pages = c.ticked.size() == 1 ? "1" : "2";
        EXPECT_TRUE(testing_support::pdfInfo(path).contains(QRegularExpression("Pages: +" + pages + "\n")));
    }

    pickRow(rowOf(10));
    click("ShowRunButton");
    ASSERT_TRUE(testing_support::waitForReadings(*window_));
    EXPECT_TRUE(reportSheet->isVisible()) << "on the report tab";
    const QString path = QDir(root_.path()).filePath("shown.pdf");
    ASSERT_TRUE(window_->saveSheet(path)) << window_->status().toStdString();
    EXPECT_TRUE(testing_support::pdfText(path).contains("Run sheet: " + nameOf(10)));
}

TEST_F(RunsTab, ARunWithoutRecordsSaysSoAndCanBeHidden)
{
    open(10);
    archive::RunJson empty = archive::readRunJson(folderOf(3));
    empty.setRunFile({});
    archive::writeRunJson(folderOf(3), empty);
    click("RefreshRunsButton");
    const auto ending = [this] { return model()->index(rowOf(3), RunBrowser::EndingColumn).data().toString(); };
    EXPECT_TRUE(pumpUntil([&] { return ending().endsWith(", no records"); }, 30s)) << ending().toStdString();
    auto* hide = window_->findChild<QCheckBox*>("HideEmptyRuns");
    ASSERT_TRUE(hide);
    hide->click();
    EXPECT_EQ(model()->rowCount(), 9);
    hide->click();
    EXPECT_EQ(model()->rowCount(), 10);
}

TEST_F(RunsTab, AnEditedNoteIsWrittenIntoRunJson)
{
    open(100);
    const auto editNote = [this](int index, const QString& text) {
        const QModelIndex note = model()->index(rowOf(index), RunBrowser::NoteColumn);
        list()->setCurrentIndex(note);
        list()->edit(note);
        auto* editor = qobject_cast<QLineEdit*>(list()->indexWidget(note));
        ASSERT_TRUE(editor) << "no editor for the note";
        editor->setText(text);
        // The list read again meanwhile (the archive wrote a run) leaves
        // the note being written alone.
        browser().refresh();
        ASSERT_TRUE(pumpUntil([this] { return !browser().reading(); }));
        ASSERT_EQ(list()->indexWidget(note), editor) << "the editor was closed under the operator's typing";
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the delegate commits on the next turn of the loop
    };
    editNote(55, "new magnets");
    EXPECT_EQ(archive::readRunJson(folderOf(55)).json().value("note").toString(), "new magnets");
    EXPECT_EQ(cell(rowOf(55), RunBrowser::NoteColumn), "new magnets");
    EXPECT_TRUE(pumpUntil([this] { return !browser().reading(); })) << "read again once the note was written";

    ASSERT_TRUE(QFile::remove(QDir(folderOf(56)).filePath("run.json")));
    editNote(56, "lost");
    EXPECT_TRUE(window_->status().contains("was not saved")) << window_->status().toStdString();
    EXPECT_EQ(cell(rowOf(56), RunBrowser::NoteColumn), "") << "the list shows what run.json holds";
}

TEST_F(RunsTab, ANoteIsHandedToTheArchiveWhenItKeepsTheWrites)
{
    noteHandedOn_ = true;
    open(100);
    ASSERT_TRUE(browser().setNote(rowOf(57), "second motor"));
    EXPECT_EQ(handedOn_, QStringList{folderOf(57) + " | second motor"});
    EXPECT_EQ(archive::readRunJson(folderOf(57)).json().value("note").toString(), "")
        << "written by the archive, not here";
}

struct AnalyseCase {
    const char* name;
    int index;
    bool withoutRadius; // run.json as a run without the dyno's set-up frame leaves it
    const char* status;
    bool analysed;
};

void PrintTo(const AnalyseCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnalysingARun : public RunsTab, public testing::WithParamInterface<AnalyseCase> {};

TEST_P(AnalysingARun, MakesTheReportOfARunWithoutOneFromItsRunJsonValues)
{
    const AnalyseCase& c = GetParam();
    open(100);
    const QString folder = folderOf(c.index);
    const QString runJson = QDir(folder).filePath("run.json");
    if (c.withoutRadius) {
        QJsonObject json = archive::readRunJson(folder).json();
        json.remove("flywheel_radius_mm");
        testing_support::writeBytes(runJson, QJsonDocument(json).toJson());
    }
    const QString report = QDir(folder).filePath("save.csv");
    const bool hadReport = QFileInfo::exists(report);
    pickRow(rowOf(c.index));
    click("AnalyseRunButton");
    ASSERT_TRUE(testing_support::pumpUntil([&] { return !window_->analysing() && !window_->reading(); },
                                           std::chrono::seconds(30)));
    EXPECT_TRUE(window_->status().contains(c.status)) << window_->status().toStdString();
    const archive::RunJson after = archive::readRunJson(folder);
    if (c.analysed) {
        ASSERT_TRUE(window_->report()) << "the new report is shown";
        // The generated runs share one run file and flywheel: the report's
        // rows are a stopped run's, byte for byte; its trailer has the ESC
        // values of run.json.
        const QByteArray made = testing_support::readBytes(report);
        const QByteArray stopped = testing_support::readBytes(QDir(folderOf(41)).filePath("save.csv"));
        EXPECT_EQ(made.left(made.indexOf("\r\n\r\n")), stopped.left(stopped.indexOf("\r\n\r\n")));
        EXPECT_TRUE(made.contains("1500")) << made.right(200).toStdString();
        EXPECT_TRUE(after.peakPowerW()) << "the figures are in run.json";
        EXPECT_EQ(after.state(), archive::Ending::Error) << "how the run ended stays";
    } else {
        EXPECT_EQ(QFileInfo::exists(report), hadReport) << "no report made";
    }
}

INSTANTIATE_TEST_SUITE_P(RunsTab, AnalysingARun,
                         testing::Values(AnalyseCase{"AnErrorRun", 42, false, "Report ", true},
                                         AnalyseCase{"ARunWithoutASetUpFrame", 42, true, "holds no flywheel radius",
                                                     false},
                                         AnalyseCase{"ARunWithItsReport", 90, false, "has its report", false},
                                         AnalyseCase{"ARunBeingRecorded", 99, false, "still being recorded", false}),
                         CaseName());

struct DeleteCase {
    const char* name;
    int index;
    std::deque<bool> answers;
    bool trash; // whether the desktop has one
    int questions;
    const char* outcome; // "kept", "trashed", "deleted"
};

void PrintTo(const DeleteCase& c, std::ostream* os)
{
    *os << c.name;
}

class DeletingARun : public RunsTab, public testing::WithParamInterface<DeleteCase> {};

TEST_P(DeletingARun, AsksAndTrashesOrDeletesAsConfirmed)
{
    const DeleteCase& c = GetParam();
#ifdef Q_OS_WIN
    // Windows' trash is the Recycle Bin, which a test can neither point
    // elsewhere nor take away (under Wine it is the Linux user's own trash).
    if (std::string(c.outcome) == "trashed" || !c.trash)
        GTEST_SKIP() << "the Recycle Bin is not tried here";
#endif
    open(100);
    const QString trashFiles = QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("Trash/files");
    if (!c.trash) {
        // Not a folder: no trash can be made in it.
        const QString share = qEnvironmentVariable("XDG_DATA_HOME");
        ASSERT_TRUE(QDir(share).removeRecursively());
        QFile blocker(share);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    // Drawn over another run's report, with a run that stays.
    pickRow(rowOf(20));
    click("ShowRunButton");
    tick(c.index);
    tick(10);
    click("OverlayRunsButton");
    ASSERT_TRUE(testing_support::waitForReadings(*window_));
    const auto overlayNames = [this] {
        QStringList names;
        for (const curves::ReportCurves& overlay : window_->overlays())
            names << overlay.name;
        return names;
    };
    const QStringList drawn = overlayNames();
    if (c.index == 90) {
        ASSERT_EQ(drawn, QStringList({"motor 90", "motor 10"}));
    }

    answers_ = c.answers;
    pickRow(rowOf(c.index));
    click("DeleteRunButton");

    EXPECT_EQ(questions_.size(), c.questions) << questions_.join(" / ").toStdString();
    if (!questions_.isEmpty()) {
        EXPECT_TRUE(questions_.front().contains(nameOf(c.index))) << questions_.front().toStdString();
    }
    const std::string outcome = c.outcome;
    EXPECT_EQ(QFileInfo::exists(folderOf(c.index)), outcome == "kept");
    EXPECT_EQ(QFileInfo(QDir(trashFiles).filePath(nameOf(c.index))).isDir(), outcome == "trashed");
    EXPECT_TRUE(relisted(outcome == "kept" ? 100 : 99)) << "rows: " << model()->rowCount();
    EXPECT_EQ(overlayNames(), outcome == "kept" ? drawn : QStringList{"motor 10"}) << "a deleted run is drawn no more";
    EXPECT_EQ(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList())
        << "nothing left in the working directory";
    if (c.index == 99) {
        EXPECT_TRUE(window_->status().contains("still being recorded")) << window_->status().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    RunsTab, DeletingARun,
    testing::Values(DeleteCase{"KeptWhenNotConfirmed", 90, {false}, true, 1, "kept"},
                    DeleteCase{"MovedToTheTrash", 90, {true}, true, 1, "trashed"},
                    DeleteCase{"DeletedForGoodWithoutATrashOnceConfirmedAgain", 90, {true, true}, false, 2, "deleted"},
                    DeleteCase{"KeptWithoutATrashUnlessConfirmedAgain", 90, {true, false}, false, 2, "kept"},
                    DeleteCase{"ARecordingRunIsNotDeleted", 99, {true}, true, 0, "kept"}),
    CaseName());

// The Map tab maps the runs ticked here: runs of one supply give the reason
// there is no map, not an empty picture.
TEST_F(RunsTab, TheMapTabMapsTheTickedRuns)
{
    ASSERT_NO_FATAL_FAILURE(open(3));
    tick(0);
    tick(1);
    auto* tabs = window_->findChild<QTabWidget*>("ChartTabs");
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == "Map")
            tabs->setCurrentIndex(i);
    }
    ASSERT_EQ(tabs->currentWidget(), window_->motorMapView());
    EXPECT_FALSE(window_->findChild<QPushButton*>("SaveImageButton")->isVisible()) << "the map saves its own image";
    click("MapRunsButton");
    ASSERT_TRUE(pumpUntil([this] { return !window_->motorMapView()->reading(); }, 30s));
    const auto& map = window_->motorMapView()->map();
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map->refused, "a map needs runs at two supply voltages or more; the spin-ups all ran at 12.00 V");
    EXPECT_EQ(map->lines.size(), 2u) << "one spin-up of each ticked run";
    EXPECT_EQ(window_->status(), "No map: " + map->refused);
}

} // namespace

namespace {

// Runs 0 to 9: 0, 2, 4 of motor "A2212", 1 and 3 of "BL2830", the rest
// unnamed.
void nameMotors(const QStringList& folders)
{
    for (int i : {0, 2, 4})
        archive::setMotor(folders[i], {"A2212", 1000.0, "3S LiPo"});
    for (int i : {1, 3})
        archive::setMotor(folders[i], {"BL2830", std::nullopt, ""});
}

TEST_F(RunsTab, RunsAreFilteredAndGroupedByMotor)
{
    open(10);
    nameMotors(folders_);
    click("RefreshRunsButton");
    ASSERT_TRUE(pumpUntil([&] { return !browser().reading() && cell(rowOf(0), RunBrowser::MotorColumn) == "A2212"; }));
    EXPECT_EQ(cell(rowOf(0), RunBrowser::NameplateColumn), "1000");
    EXPECT_EQ(cell(rowOf(0), RunBrowser::SupplyColumn), "3S LiPo");
    EXPECT_EQ(cell(rowOf(5), RunBrowser::MotorColumn), "unnamed");

    auto* filter = window_->findChild<QComboBox*>("MotorFilter");
    ASSERT_TRUE(filter);
    QStringList offered;
    for (int i = 0; i < filter->count(); ++i)
        offered << filter->itemText(i);
    EXPECT_EQ(offered, (QStringList{"All motors", "A2212", "BL2830", "unnamed"}));

    browser().showMotor("A2212");
    ASSERT_EQ(model()->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(cell(row, RunBrowser::MotorColumn), "A2212") << "row " << row;
    EXPECT_EQ(browser().runs()[0].folder, folderOf(4)) << "newest first within the motor";
    browser().showMotor("unnamed");
    EXPECT_EQ(model()->rowCount(), 5);

    browser().showMotor("");
    browser().groupByMotor(true);
    ASSERT_EQ(model()->rowCount(), 10);
    QStringList order;
    for (int row = 0; row < 10; ++row)
        order << cell(row, RunBrowser::MotorColumn);
    EXPECT_EQ(order, (QStringList{"A2212", "A2212", "A2212", "BL2830", "BL2830", "unnamed", "unnamed", "unnamed",
                                  "unnamed", "unnamed"}));
}

TEST_F(RunsTab, WhatARunIsOfIsEditedInTheListAndWrittenIntoRunJson)
{
    open(10);
    const auto edit = [this](int index, int column, const QString& text) {
        const QModelIndex cellIndex = model()->index(rowOf(index), column);
        list()->setCurrentIndex(cellIndex);
        list()->edit(cellIndex);
        auto* editor = qobject_cast<QLineEdit*>(list()->indexWidget(cellIndex));
        ASSERT_TRUE(editor) << "no editor in column " << column;
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
    };
    edit(6, RunBrowser::MotorColumn, "A2212");
    edit(6, RunBrowser::NameplateColumn, "1000.5");
    edit(6, RunBrowser::SupplyColumn, "3S LiPo");
    EXPECT_EQ(archive::readRunJson(folderOf(6)).motor(), (archive::RunMotor{"A2212", 1000.5, "3S LiPo"}));
    edit(6, RunBrowser::NameplateColumn, "fast");
    EXPECT_TRUE(window_->status().contains("no Kv")) << window_->status().toStdString();
    EXPECT_EQ(archive::readRunJson(folderOf(6)).motor().nameplateKv, 1000.5)
        << "a Kv that is no number changes nothing";
    edit(6, RunBrowser::NameplateColumn, "");
    EXPECT_FALSE(archive::readRunJson(folderOf(6)).motor().nameplateKv) << "an empty Kv clears it";
    EXPECT_EQ(archive::readRunJson(folderOf(6)).note(), "") << "the rest of run.json stays";
}

TEST_F(RunsTab, TheMotorForTheRunsToComeIsKeptInTheSettingsUntilChanged)
{
    open(2);
    auto* motor = window_->findChild<QLineEdit*>("NextMotor");
    auto* kv = window_->findChild<QLineEdit*>("NextNameplateKv");
    auto* supply = window_->findChild<QLineEdit*>("NextSupply");
    ASSERT_TRUE(motor && kv && supply);
    motor->setText("A2212");
    kv->setText("1000");
    supply->setText("3S LiPo");
    Q_EMIT supply->editingFinished();
    EXPECT_EQ(archive::motorForRunsToCome(), (archive::RunMotor{"A2212", 1000.0, "3S LiPo"}));
    kv->setText("many");
    Q_EMIT kv->editingFinished();
    EXPECT_EQ(archive::motorForRunsToCome().nameplateKv, 1000.0) << "a Kv that is no number is not saved";

    // The next Runs tab shows what carries on to the runs to come.
    const RunBrowser next(QDir(root_.path()).filePath("data"), {});
    EXPECT_EQ(next.findChild<QLineEdit*>("NextMotor")->text(), "A2212");
    EXPECT_EQ(next.findChild<QLineEdit*>("NextNameplateKv")->text(), "1000");
    EXPECT_EQ(next.motorForRunsToCome(), (archive::RunMotor{"A2212", 1000.0, "3S LiPo"}));
}

TEST_F(RunsTab, TheRunsOfAMotorOrTheTickedOnesAreCompared)
{
    open(10);
    nameMotors(folders_);
    click("RefreshRunsButton");
    ASSERT_TRUE(pumpUntil([&] { return !browser().reading() && cell(rowOf(0), RunBrowser::MotorColumn) == "A2212"; }));
    EXPECT_FALSE(browser().compareRuns()) << "nothing ticked and all motors shown";
    EXPECT_TRUE(window_->status().startsWith("Tick the runs to compare")) << window_->status().toStdString();

    browser().showMotor("A2212");
    click("CompareRunsButton");
    ComparisonView* view = browser().comparisonView();
    ASSERT_TRUE(view);
    ASSERT_TRUE(pumpUntil([&] { return !view->reading() && view->comparison(); }, 30s));
    ASSERT_EQ(view->comparison()->runs.size(), 3u);
    EXPECT_EQ(view->comparison()->runs[0].folder, folderOf(0)) << "in the order they ran";
    QTableWidget* table = view->table();
    ASSERT_EQ(table->columnCount(), 1 + 3 + 6);
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "1 " + nameOf(0));
    EXPECT_EQ(table->item(0, 0)->text(), "kv_rpm_per_v");
    EXPECT_TRUE(view->notes().contains("motor A2212")) << view->notes().toStdString();
    EXPECT_TRUE(view->notes().contains("nameplate 1000.0")) << view->notes().toStdString();

    // Ticked runs are compared whatever motor they are of; a run without a
    // report is listed and left out.
    browser().showMotor("");
    tick(5);
    tick(1);
    QFile::remove(QDir(folderOf(1)).filePath("save.csv"));
    ASSERT_TRUE(browser().compareRuns());
    ASSERT_TRUE(pumpUntil([&] { return !view->reading() && view->comparison()->runs.size() == 2; }, 30s));
    EXPECT_FALSE(view->comparison()->runs[0].included);
    EXPECT_TRUE(view->notes().contains("left out of the statistics: no report")) << view->notes().toStdString();
    EXPECT_EQ(table->item(0, 1)->text(), "(left out)");
}

} // namespace
