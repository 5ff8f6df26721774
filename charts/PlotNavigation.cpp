#include "charts/PlotNavigation.h"

#include "charts/Plot.h"

namespace zelvar::charts {

namespace {

QList<QCPAxis*> visibleAxes(QCustomPlot& plot, Qt::Orientation orientation)
{
    QList<QCPAxis*> axes;
    for (QCPAxis* axis : plot.axisRect()->axes()) {
        if (axis->visible() && axis->orientation() == orientation)
            axes << axis;
    }
    return axes;
}

} // namespace

PlotNavigation::PlotNavigation(QCustomPlot& plot) : QObject(&plot), plot_(plot)
{
    plot_.setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_.setSelectionRectMode(QCP::srmNone);
    connect(&plot_, &QCustomPlot::mousePress, this, &PlotNavigation::pressed);
    connect(&plot_, &QCustomPlot::mouseDoubleClick, this, [this] { showWhole(); });
    // A wheel turn or a drag that changed a range is the operator's.
    connect(&plot_, &QCustomPlot::mouseWheel, this, [this] { Q_EMIT moved(); });
    // The rectangle zooms after the release is announced.
    connect(&plot_, &QCustomPlot::mouseRelease, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (zoomed())
                    Q_EMIT moved();
            },
            Qt::QueuedConnection);
    });
    rememberWhole();
}

void PlotNavigation::rememberWhole()
{
    // The value axes in use: a plot drawn again may have one more or less.
    QCPAxisRect* rect = plot_.axisRect();
    rect->setRangeDragAxes(visibleAxes(plot_, Qt::Horizontal), visibleAxes(plot_, Qt::Vertical));
    rect->setRangeZoomAxes(visibleAxes(plot_, Qt::Horizontal), visibleAxes(plot_, Qt::Vertical));
    whole_.clear();
    for (QCPAxis* axis : rect->axes())
        whole_[axis] = {axis->range().lower, axis->range().upper};
}

void PlotNavigation::showWhole()
{
    for (const auto& [axis, range] : whole_)
        axis->setRange(range.first, range.second);
    plot_.replot();
}

bool PlotNavigation::zoomed() const
{
    for (const auto& [axis, range] : whole_) {
        if (axis->range().lower != range.first || axis->range().upper != range.second)
            return true;
    }
    return false;
}

void PlotNavigation::pressed(QMouseEvent* event)
{
    // Decided as the press begins, which is when the plot picks between
    // dragging and drawing a rectangle.
    const bool rectangle = event->button() == Qt::RightButton || event->modifiers().testFlag(Qt::ShiftModifier);
    plot_.setSelectionRectMode(rectangle ? QCP::srmZoom : QCP::srmNone);
}

} // namespace zelvar::charts
