#pragma once

#include <QObject>

#include <map>

class QCPAxis;
class QCustomPlot;
class QMouseEvent;

namespace zelvar::charts {

// How the operator reads a plot, as telemetry tools let one: the mouse wheel
// zooms both axes over the plot and one axis over that axis, a drag pans, a
// drag with Shift or the right button zooms to its rectangle, and a
// double-click (or showWhole()) goes back to the whole run.
class PlotNavigation final : public QObject {
    Q_OBJECT

public:
    explicit PlotNavigation(QCustomPlot& plot);

    // The ranges the plot was drawn with are the whole run; call after
    // drawing.
    void rememberWhole();
    void showWhole();
    // Whether the axes show less or other than the whole run.
    bool zoomed() const;

Q_SIGNALS:
    // The operator zoomed or panned.
    void moved();

private:
    void pressed(QMouseEvent* event);

    QCustomPlot& plot_;
    std::map<QCPAxis*, std::pair<double, double>> whole_;
};

} // namespace zelvar::charts
