#pragma once

#include "charts/ChartPlots.h"
#include "charts/RunBrowser.h"
#include "charts/RunSheet.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "curves/ReportReading.h"
#include "session/LiveTrace.h"
#include "session/RunFolderAnalysis.h"

#include <QFutureWatcher>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <deque>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QMouseEvent;
class QCustomPlot;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace zelvar::charts {
class PlotNavigation;
}

namespace zelvar {

struct ChartWindowOptions {
    // Where save.csv is, and where the file dialogs start.
    QString applicationDirectory;
    // A steady clock for the live chart's redraw limit; the system's when
    // not set. Tests script it.
    std::function<std::chrono::milliseconds()> clock;
    // The Runs tab's, over the runs of applicationDirectory.
    RunBrowserOptions runs = {};
};

// What a report on show is of: its name in legends and titles (the file's
// name when empty), the archived run's folder where it has one (for the
// run's start, note and flywheel values), and the mark of values typed over
// the dyno's.
struct ReportSource {
    QString name;
    QString folder;
    QString typed;
};

// The curves beside the main window: during a run a live trace of RPM and
// input power against run time; after a Stop the report's torque, output
// power and efficiency against RPM, raw and smoothed, with up to five
// earlier reports drawn over them; and the runs kept in runs/, whose reports
// are shown and drawn over each other from there.
//
// The live trace is filled by the receiver and only read here, from a poll
// timer, at most 20 times a second however fast samples arrive: the
// receiver never waits on drawing.
class ChartWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Zelvar QT4 Data - Curves";
    // How often the live trace is looked at while the window is shown; the
    // redraw limit decides whether it is drawn.
    static constexpr std::chrono::milliseconds kPollInterval{25};

    ChartWindow(const session::LiveTrace& trace, ChartWindowOptions options, QWidget* parent = nullptr);
    ~ChartWindow() override;

    // The live tab, drawn from the trace as it stands.
    void showLive();
    // Reads a report off the window's thread and, once read, shows its
    // curves on the report tab, under the earlier reports already added,
    // named `name` (the file's name when empty). A file that is not a report
    // leaves the charts as they were, and the status says why.
    //
    // Readings are done one after the other in the order asked, and the
    // functions that ask for one return at once: true when it was asked
    // for, false (with the reason in the status) when it is refused at once.
    void showReport(const QString& path, const ReportSource& source = {});
    // The same for a report already read (the one a Stop wrote, read with
    // its figures by the run session); false when it could not be read.
    bool showReading(const curves::ReportReading& reading, const ReportSource& source = {});
    // Draws an earlier report's smoothed curves over the current one, in its
    // own colour with `name` (the file's name when empty) in the legend. A
    // file that is not a report, the report on show, one already drawn, or
    // one past the fifth, is not added, and the status says why.
    void addOverlay(const QString& path, const QString& name = QString());
    // Shows the report of an archived run, named by its folder. False, with
    // the reason in the status, when the run has none.
    bool showRun(const QString& folder);
    // Draws the reports of archived runs over the report on show, named by
    // their notes (their starts where they have none), in place of the
    // earlier reports drawn; the first five that have a report. The status says how many were drawn and names
    // those that were not.
    void drawRunsOver(const QStringList& folders);
    // Draws spin-up `index` (from 0) of the report on show over it, as an
    // earlier report is drawn. False, with the reason in the status, when
    // the report has no such spin-up.
    bool addSpinUpOverlay(std::size_t index);
    // Smooths and draws spin-up `index` (from 0) of the report on show
    // instead of the one drawn; the spin-up list picks it.
    bool showSpinUp(std::size_t index);
    // Whether a report is being read.
    bool reading() const;
    void clearOverlays();
    // Takes the overlays drawn from the archived run in `folder` off the
    // charts: it was deleted.
    void forgetRun(const QString& folder);
    // Writes the report's charts as PNG, at charts::kReportImageSize and
    // `scale` device pixels to each, headed by the run's start, note and
    // flywheel values; or the live chart as on show. False, with the reason
    // in the status, when nothing could be written.
    bool saveImage(const QString& path, double scale = 2.0);
    // The name a saved image gets unless the operator gives another: the
    // run's.
    QString imageFileName() const;
    // Writes the run sheet of the report on show (charts/RunSheet.h), with
    // its overlays left out. False, with the reason in the status, when
    // there is no report or the file cannot be written.
    bool saveSheet(const QString& path, charts::Paper paper = charts::Paper::A4);
    // Reads the reports of the archived runs in `folders` off the window's
    // thread and writes their sheet to `path`: the run sheet of one, a
    // comparison sheet of several (the first charts::kMaxSheetRuns that
    // have a report). The status says what was written and what was not.
    void saveRunsSheet(const QStringList& folders, const QString& path, charts::Paper paper = charts::Paper::A4);
    // The live trace stops following the run, so that it can be scrolled
    // back while recording goes on; false follows it again.
    void pauseLive(bool paused);
    bool livePaused() const;
    // The report's plots back to the whole run.
    void showWholeRun();
    // The read-out at `rpm` of the report and its overlays, as the mouse
    // over the plots shows it.
    void showReadout(double rpm);
    QString readout() const;

    // Analyses the archived run in `folder` again from its run file, off the
    // window's thread, and shows its new report; the status says how it
    // went.
    void analyseRun(const QString& folder);
    bool analysing() const { return analysis_ != nullptr; }

    // Reads the list of archived runs again, off the window's thread; call
    // it after a run was archived.
    void refreshRuns();
    RunBrowser* runBrowser() const { return runBrowser_; }

    // Redraws the live chart when the trace changed and the redraw limit
    // allows it; the poll timer calls it.
    void pollLive();

    QString status() const;

Q_SIGNALS:
    // Every reading asked for is done.
    void readingsDone();

public:
    // Whether the last report reading lasted long enough to show its
    // progress bar.
    bool progressShown() const { return progressShown_; }
    bool showsLive() const;
    int liveRedraws() const { return liveRedraws_; }
    const std::optional<curves::ReportCurves>& report() const { return report_; }
    // The motor's figures of the report on show, measured when it was read.
    const std::optional<curves::MotorFigures>& figures() const { return figures_; }
    const std::vector<curves::ReportCurves>& overlays() const { return overlays_; }
    QCustomPlot* liveChart() const { return livePlot_; }
    QCustomPlot* torquePowerChart() const { return torquePowerPlot_; }
    QCustomPlot* efficiencyChart() const { return efficiencyPlot_; }
    // The heading a saved image of the report on show gets.
    charts::RunHeading heading() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void redrawLive();
    void redrawReport();
    void fillSpinUpList();
    struct ReportRead {
        QString path;
        curves::LoadRequest request;
        bool measure = false; // the motor's figures too
    };
    struct ReadBatch {
        std::vector<ReportRead> reads;
        std::function<void(std::vector<curves::ReportReading>)> done;
    };
    struct OverlayRead {
        QString path;
        QString name; // the file's name when empty
        std::optional<std::size_t> spinUp;
    };
    // Where each overlay came from, to refuse it twice and to take it off
    // when its run is deleted.
    struct OverlaySource {
        QString path;
        std::optional<std::size_t> spinUp;
    };
    // Reads the reports on a worker thread, after the readings asked
    // before, and hands them to `done` on the window's thread; a progress
    // bar shows after half a second.
    void readInBackground(std::vector<ReportRead> reads, std::function<void(std::vector<curves::ReportReading>)> done);
    void startNextReading();
    void showProgress();
    // Reads reports' smoothed curves (of a spin-up, else the default one)
    // into the overlays, up to the fifth; then `done` hears whether any was
    // added and the first reason one was not.
    void addOverlays(std::vector<OverlayRead> overlays,
                     std::function<void(bool added, const QString& firstFailure)> done);
    // A `done` that draws what was added, named `what` and the overlay's
    // name, and shows the first failure.
    std::function<void(bool, const QString&)> sayAdded(const QString& what);
    // Draws the overlays and says what was added.
    void showOverlayAdded(const QString& what);
    void chooseOverlays();
    void chooseImageFile();
    // The sheet of the report on show, or of `folders` where given.
    void chooseSheetFile(const QStringList& folders);
    void showButtonsFor(int tab);
    void followMouse(QCustomPlot& plot, QMouseEvent* event);
    void setStatus(const QString& text);
    QPushButton* makeUnitsButton(QWidget* parent);
    std::chrono::milliseconds now() const;

    const session::LiveTrace& trace_;
    ChartWindowOptions options_;
    session::RedrawLimiter limiter_;
    std::uint64_t drawnVersion_ = 0;
    int liveRedraws_ = 0;
    std::optional<curves::ReportCurves> report_;
    std::optional<curves::MotorFigures> figures_;
    std::optional<double> readoutRpm_; // where the read-out was last taken, to take it again in other units
    QString reportPath_;
    bool progressShown_ = false;
    std::deque<ReadBatch> waiting_;
    std::unique_ptr<QFutureWatcher<std::vector<curves::ReportReading>>> watcher_;
    std::unique_ptr<QFutureWatcher<session::FolderAnalysis>> analysis_;
    std::atomic<std::size_t> records_{0};
    int progressTicks_ = 0;
    QString readingName_;
    QTimer* progressTimer_ = nullptr;
    std::vector<curves::ReportCurves> overlays_;
    std::vector<OverlaySource> overlaySources_;
    QString runFolder_;

    QTabWidget* tabs_ = nullptr;
    QCustomPlot* livePlot_ = nullptr;
    QCustomPlot* torquePowerPlot_ = nullptr;
    QCustomPlot* efficiencyPlot_ = nullptr;
    charts::PlotNavigation* liveNavigation_ = nullptr;
    charts::PlotNavigation* torquePowerNavigation_ = nullptr;
    charts::PlotNavigation* efficiencyNavigation_ = nullptr;
    QPushButton* pause_ = nullptr;
    QTableWidget* figuresTable_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* typedMark_ = nullptr;
    QLabel* notes_ = nullptr;
    std::vector<QWidget*> reportButtons_;
    QWidget* saveImageButton_ = nullptr;
    QLabel* status_ = nullptr;
    QComboBox* spinUps_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer* poll_ = nullptr;
    RunBrowser* runBrowser_ = nullptr;
};

} // namespace zelvar
