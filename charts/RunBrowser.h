#pragma once

#include "archive/RunArchive.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
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

} // namespace runlist

class RunListModel;

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
    enum Column { DateColumn, DurationColumn, RecordsColumn, EndingColumn, PeakPowerColumn, NoteColumn, ColumnCount };

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
    void showCount(const QStringList& problems);

    QString dataDirectory_;
    RunBrowserOptions options_;
    RunListModel* model_ = nullptr;
    QTreeView* list_ = nullptr;
    QLabel* count_ = nullptr;
    QCheckBox* archiveSetting_ = nullptr;
    QCheckBox* hideEmpty_ = nullptr;
    // Every run read, the empty ones too; the list shows them or not.
    archive::Listing listing_;
    QFutureWatcher<archive::Listing>* watcher_ = nullptr;
    bool listed_ = false;
    bool readAgain_ = false;
    bool readAfterEdit_ = false;
};

} // namespace zelvar
