#pragma once

#include "archive/RunArchive.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeView;
template <typename T>
class QFutureWatcher;

namespace zelvar {

// What the list of runs shows, as text: pure, so that the list, its tests
// and the benchmark agree on it.
namespace runlist {

// The local time the run started, "2026-12-07 14:03:21"; the folder's name
// when run.json does not say.
QString startedText(const archive::RunSummary& run);
// "153.2 W at 24310 RPM", "153.2 W" without the speed; empty when not known.
QString peakPowerText(std::optional<double> watts, std::optional<double> rpm);
// The tool tip of how the run ended: an error's reason, what "unfinished"
// and "recording" mean, and the flywheel values typed over the dyno's.
QString endingToolTip(const archive::RunSummary& run);
// Why the run must not be deleted; none when it may be.
std::optional<QString> refusalToDelete(const archive::RunSummary& run);
// A nameplate Kv as typed: none for an empty text; throws RuntimeError with
// the message for the operator when it is no Kv above 0.
std::optional<double> nameplateKvFromText(const QString& text);
QString nameplateKvText(std::optional<double> kv);
// The motors of `runs`, each once, in alphabetical order ("unnamed" for the
// runs of no name).
QStringList motorsOf(const std::vector<archive::RunSummary>& runs);
// `runs` of motor `motor` (all runs when empty), grouped by motor when
// `grouped`: the motors in alphabetical order, each motor's runs in the
// order given (newest first).
std::vector<archive::RunSummary> shownRuns(std::vector<archive::RunSummary> runs, const QString& motor, bool grouped);

} // namespace runlist

class RunListModel;
class ComparisonView;

// What the program decides for the Runs tab; the tests replace the hooks.
struct RunBrowserOptions {
    // Writes a run's note into its run.json; archive::setNote when not set.
    std::function<void(const QString& folder, const QString& note)> setNote = {};
    // Writes what a run is of into its run.json; archive::setMotor when not
    // set.
    std::function<void(const QString& folder, const archive::RunMotor& motor)> setMotor = {};
    // Asks the operator a yes/no question; a message box when not set.
    std::function<bool(const QString& question)> confirm = {};
    // The program was started with --no-archive: the setting is shown off
    // and cannot be changed until the program starts again.
    bool archiveOffForThisStart = false;
};

// The "Runs" tab of the chart window: every run kept in runs/, newest first,
// with its report shown on request, several drawn over each other, a note of
// the operator's, and deleting. The list is read from the run.json files on
// a worker thread; the window's thread only fills the list, which costs the
// same for any number of runs, since rows are drawn only as they are seen.
class RunBrowser final : public QWidget {
    Q_OBJECT

public:
    enum Column {
        DateColumn,
        DurationColumn,
        RecordsColumn,
        EndingColumn,
        PeakPowerColumn,
        MotorColumn,
        NameplateColumn,
        SupplyColumn,
        NoteColumn,
        ColumnCount
    };

    // The runs are in `dataDirectory`/runs.
    RunBrowser(QString dataDirectory, RunBrowserOptions options, QWidget* parent = nullptr);
    ~RunBrowser() override;

    // Reads the list again on a worker thread; asked while a reading is on,
    // once more after it.
    void refresh();
    bool reading() const;
    // Whether the list was read at least once.
    bool listed() const { return listed_; }
    // Shows a listing in the list: the part of a reading done on the
    // window's thread. Ticks and the current row stay with their runs.
    void fill(archive::Listing listing);

    const std::vector<archive::RunSummary>& runs() const;
    // The folders of the ticked runs, in the list's order.
    QStringList tickedFolders() const;
    QTreeView* list() const { return list_; }

    // Asks for the report of the run in `row` to be shown.
    void pick(int row);
    // Asks for the ticked runs' reports to be drawn over each other.
    void drawTicked();
    // Asks for the sheet of the ticked runs: a run sheet of one, a
    // comparison sheet of several.
    void sheetTicked();
    // Moves the run in `row` to the trash, or deletes it for good where
    // there is none, once the operator confirmed. False when it stays.
    bool deleteRun(int row);
    // Asks for the run in `row`, one without a report, to be analysed again
    // from its run file; false, with the reason in the status, when it is
    // being recorded or has a report already.
    bool analyse(int row);
    // Writes the note of the run in `row`; false, with the reason in the
    // status, when it could not be written.
    bool setNote(int row, const QString& note);
    // Writes what the run in `row` is of; false, with the reason in the
    // status, when it could not be written.
    bool setMotor(int row, const archive::RunMotor& motor);
    // What the runs to come are of, as the fields above the list show it
    // and Start writes it into run.json.
    archive::RunMotor motorForRunsToCome() const;
    void setMotorForRunsToCome(const archive::RunMotor& motor);
    // Shows only the runs of `motor` ("unnamed" for those of no name; all
    // of them for an empty text), grouped by motor or not.
    void showMotor(const QString& motor);
    void groupByMotor(bool grouped);
    // The motor shown; empty for all of them.
    QString shownMotor() const;
    // The comparison of the ticked runs, or of every run listed of the
    // motor shown when none is ticked; false, with the reason in the
    // status, when there is nothing to compare.
    bool compareRuns();
    // The comparison last opened; none before.
    ComparisonView* comparisonView() const { return comparison_; }

Q_SIGNALS:
    // `folder` is a run folder; its report is `folder`/save.csv.
    void showRequested(const QString& folder);
    void overlayRequested(const QStringList& folders);
    void sheetRequested(const QStringList& folders);
    void statusChanged(const QString& text);
    // The run in `folder` is to be analysed again from its run file.
    void analyseRequested(const QString& folder);
    // The run in `folder` was moved to the trash or deleted.
    void runDeleted(const QString& folder);

private:
    int currentRow() const;
    bool confirm(const QString& question);
    void runsToComeEdited();
    void fillMotorFilter();
    void showCount(const QStringList& problems);

    QString dataDirectory_;
    RunBrowserOptions options_;
    RunListModel* model_ = nullptr;
    QTreeView* list_ = nullptr;
    QLabel* count_ = nullptr;
    QCheckBox* archiveSetting_ = nullptr;
    QCheckBox* hideEmpty_ = nullptr;
    QCheckBox* groupByMotor_ = nullptr;
    QComboBox* motorFilter_ = nullptr;
    QLineEdit* nextMotor_ = nullptr;
    QLineEdit* nextNameplateKv_ = nullptr;
    QLineEdit* nextSupply_ = nullptr;
    ComparisonView* comparison_ = nullptr;
    // Every run read, the empty ones too; the list shows them or not.
    archive::Listing listing_;
    QFutureWatcher<archive::Listing>* watcher_ = nullptr;
    bool listed_ = false;
    bool readAgain_ = false;
    bool readAfterEdit_ = false;
};

} // namespace zelvar
