#pragma once

#include "charts/RunBrowser.h"
#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"
#include "session/LiveTrace.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QProgressBar;
class QLineSeries;
class QTabWidget;
class QTimer;
class QValueAxis;

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

    ChartWindow(const curves::LiveTrace& trace, ChartWindowOptions options, QWidget* parent = nullptr);
    ~ChartWindow() override;

    // The live tab, drawn from the trace as it stands.
    void showLive();
    // Reads a report and shows its curves on the report tab, under the
    // earlier reports already added, named `name` (the file's name when
    // empty). A file that is not a report leaves the charts as they were;
    // the status says why and false is returned.
    bool showReport(const QString& path, const QString& name = QString());
    // Draws an earlier report's smoothed curves over the current one, in its
    // own colour with `name` (the file's name when empty) in the legend.
    // False, with the reason in the status, for a file that is not a report
    // or past the fifth.
    bool addOverlay(const QString& path, const QString& name = QString());
    // Shows the report of an archived run, named by its folder. False, with
    // the reason in the status, when the run has none.
    bool showRun(const QString& folder);
    // Draws the reports of archived runs over the report on show, named by
    // their folders, in place of the earlier reports drawn; the first five
    // that have a report. Returns how many were drawn; the status names
    // those that were not.
    int drawRunsOver(const QStringList& folders);
    // Draws spin-up `index` (from 0) of the report on show over it, as an
    // earlier report is drawn. False, with the reason in the status, as
    // addOverlay().
    bool addSpinUpOverlay(std::size_t index);
    // Smooths and draws spin-up `index` (from 0) of the report on show
    // instead of the one drawn; the spin-up list picks it.
    bool showSpinUp(std::size_t index);
    void clearOverlays();
    // Writes the report's charts as PNG, at charts::kReportImageSize, or
    // the live chart at its size on show when there is no report. False,
    // with the reason in the status, when nothing could be written.
    bool saveImage(const QString& path);

    // Reads the list of archived runs again, off the window's thread; call
    // it after a run was archived.
    void refreshRuns();
    RunBrowser* runBrowser() const { return runBrowser_; }

    // Redraws the live chart when the trace changed and the redraw limit
    // allows it; the poll timer calls it.
    void pollLive();

    QString status() const;
    // Whether the last report reading lasted long enough to show its
    // progress bar.
    bool progressShown() const { return progressShown_; }
    bool showsLive() const;
    int liveRedraws() const { return liveRedraws_; }
    const std::optional<curves::ReportCurves>& report() const { return report_; }
    // The motor's figures of the report on show, measured when it was read.
    const std::optional<curves::MotorFigures>& figures() const { return figures_; }
    const std::vector<curves::ReportCurves>& overlays() const { return overlays_; }
    QChart* liveChart() const;
    QChart* torquePowerChart() const;
    QChart* efficiencyChart() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void redrawLive();
    void redrawReport();
    void fillSpinUpList();
    // Reads a report on a worker thread; the window's events go on (all but
    // the operator's input, which waits) and a progress bar shows after half
    // a second. Throws what the reading threw.
    // With `figures`, the motor's figures are measured there too.
    curves::ReportCurves readInBackground(const QString& path, const curves::LoadRequest& request,
                                          std::optional<curves::MotorFigures>* figures = nullptr);
    // Reads an earlier report into the overlays without drawing them; false,
    // with the reason in the status, when it was not added.
    // Reads a report's smoothed curves (of spin-up `spinUp`, else the
    // default one) into the overlays, named `name` when given. False, with
    // the reason in the status, past the fifth or for a file that is not a
    // report.
    bool readOverlay(const QString& path, const QString& name, std::optional<std::size_t> spinUp = {});
    // Draws the overlays and says what was added.
    void showOverlayAdded(const QString& what);
    void chooseOverlays();
    void chooseImageFile();
    void setStatus(const QString& text);
    std::chrono::milliseconds now() const;

    const curves::LiveTrace& trace_;
    ChartWindowOptions options_;
    curves::RedrawLimiter limiter_;
    std::uint64_t drawnVersion_ = 0;
    int liveRedraws_ = 0;
    std::optional<curves::ReportCurves> report_;
    std::optional<curves::MotorFigures> figures_;
    QString reportPath_;
    bool progressShown_ = false;
    std::vector<curves::ReportCurves> overlays_;

    QTabWidget* tabs_ = nullptr;
    QChartView* liveView_ = nullptr;
    QChartView* torquePowerView_ = nullptr;
    QChartView* efficiencyView_ = nullptr;
    QLineSeries* rpmSeries_ = nullptr;
    QLineSeries* inputPowerSeries_ = nullptr;
    QValueAxis* timeAxis_ = nullptr;
    QValueAxis* rpmAxis_ = nullptr;
    QValueAxis* inputPowerAxis_ = nullptr;
    QLabel* status_ = nullptr;
    QComboBox* spinUps_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer* poll_ = nullptr;
    RunBrowser* runBrowser_ = nullptr;
};

} // namespace zelvar
