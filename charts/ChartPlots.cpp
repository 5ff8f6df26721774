#include "charts/ChartPlots.h"
#include "charts/MotorSummary.h"

#include "curves/PointThinning.h"
#include "curves/ReportLoader.h"

#include <QChart>
#include <QChartView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <functional>
#include <limits>

namespace zelvar::charts {

namespace {

using curves::ReportCurves;
using curves::ReportPoint;
using curves::SmoothedPoint;

// The report's own colours: torque in blues, power in oranges; the raw
// points pale, so that the smoothed curve reads over them.
const QColor kTorqueRaw(120, 160, 225);
const QColor kTorqueSmoothed(20, 60, 160);
const QColor kPowerRaw(245, 175, 110);
const QColor kPowerSmoothed(200, 85, 0);
const QColor kEfficiencyRaw(130, 200, 130);
const QColor kEfficiencySmoothed(0, 120, 40);

// Far enough from the report's blues, oranges and greens to be told apart.
const QColor kOverlayColours[kMaxOverlays] = {QColor(200, 30, 45), QColor(125, 60, 185), QColor(0, 150, 160),
                                              QColor(140, 90, 40), QColor(215, 50, 170)};

// The range of the values put on one axis.
class Span {
public:
    void add(double value)
    {
        lo_ = std::min(lo_, value);
        hi_ = std::max(hi_, value);
    }
    void addAll(const std::vector<QPointF>& points, bool x)
    {
        for (const QPointF& p : points)
            add(x ? p.x() : p.y());
    }
    void addAll(const curves::ThinnedSeries& series, bool x)
    {
        if (series.empty())
            return;
        add(x ? series.xLo : series.yLo);
        add(x ? series.xHi : series.yHi);
    }
    // Axes start at 0, below it only for values that go clearly negative: a
    // smoothed curve that dips a hair below 0 at top speed is not worth a
    // scale that wastes a fifth of the chart. Nothing to show still gets an
    // axis, from 0.
    double lo() const { return lo_ <= hi_ && lo_ < -0.02 * std::abs(hi_) ? lo_ : 0.0; }
    double hi() const { return lo_ <= hi_ && hi_ > lo() ? hi_ : lo() + 1.0; }

private:
    double lo_ = std::numeric_limits<double>::infinity();
    double hi_ = -std::numeric_limits<double>::infinity();
};

QValueAxis* makeAxis(QChart* chart, const QString& title, const Span& span, Qt::Alignment side)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setRange(span.lo(), span.hi());
    axis->applyNiceNumbers();
    axis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(axis, side);
    return axis;
}

void attach(QChart* chart, QXYSeries* series, QValueAxis* x, QValueAxis* y, bool inLegend = true)
{
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
    if (!inLegend) {
        for (QLegendMarker* marker : chart->legend()->markers(series))
            marker->setVisible(false);
    }
}

QScatterSeries* scatter(const QString& name, const QColor& colour, const curves::ThinnedSeries& points)
{
    auto* series = new QScatterSeries;
    series->setName(name);
    series->setMarkerSize(5.0);
    series->setColor(colour);
    series->setBorderColor(colour);
    series->replace(QList<QPointF>(points.points.begin(), points.points.end()));
    return series;
}

QLineSeries* line(const QString& name, const QColor& colour, qreal width, Qt::PenStyle style,
                  const std::vector<QPointF>& points)
{
    auto* series = new QLineSeries;
    series->setName(name);
    QPen pen(colour, width, style);
    pen.setCapStyle(Qt::FlatCap);
    series->setPen(pen);
    // A spin-up of an endurance run holds hours of records; a line drawn
    // through more points than the chart has pixels looks no different.
    const std::vector<QPointF> kept = curves::downsample(points, kMaxLinePoints);
    series->replace(QList<QPointF>(kept.begin(), kept.end()));
    return series;
}

// The report's points as drawn: thinned to what the chart shows, by the
// reading already when the report was read for drawing.
curves::ThinnedSeries rawPoints(const ReportCurves& curves, double ReportPoint::*value)
{
    if (curves.thinned) {
        if (value == &ReportPoint::torque)
            return curves.thinned->torque;
        if (value == &ReportPoint::outputPower)
            return curves.thinned->outputPower;
        return curves.thinned->efficiency;
    }
    curves::PointThinning thinning(curves::kThinningColumns, curves::kThinningRows, curves::kMaxThinnedPoints);
    for (const ReportPoint& row : curves.report.rows)
        thinning.add({row.rpm, row.*value});
    return curves::seriesOf(thinning);
}

std::vector<QPointF> smoothedPoints(const ReportCurves& curves, double SmoothedPoint::*value)
{
    std::vector<QPointF> points;
    if (!curves.smoothed)
        return points;
    points.reserve(curves.smoothed->points.size());
    for (const SmoothedPoint& p : curves.smoothed->points) {
        if (value != &SmoothedPoint::efficiency || p.efficiencyResolved)
            points.emplace_back(p.rpm, p.*value);
    }
    return points;
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString titleOf(const QString& title, const QStringList& notes)
{
    QString html = QStringLiteral("<b>%1</b>").arg(escaped(title));
    for (const QString& note : notes)
        html += QStringLiteral("<br><small>%1</small>").arg(escaped(note));
    return html;
}

QStringList smoothingNotes(const ReportCurves& curves)
{
    if (!curves.smoothed)
        return {QStringLiteral("%1: no spin-up in the report, nothing to smooth").arg(curves.name)};
    QString edges = curves.smoothed->edges();
    // Which of several the curves are, so that nobody takes them for the run's only one.
    if (curves.spinUps.size() > 1 && curves.spinUp)
        edges = QStringLiteral("%1 (%2)").arg(edges, curves::describeSpinUp(curves.spinUps, *curves.spinUp));
    return {curves.smoothed->method(), edges};
}

QChart* newChart()
{
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(6, 4, 6, 4));
    return chart;
}

} // namespace

QColor overlayColour(int index)
{
    return kOverlayColours[((index % kMaxOverlays) + kMaxOverlays) % kMaxOverlays];
}

QChart* makeTorquePowerChart(const ReportCurves& report, const std::vector<ReportCurves>& overlays,
                             const curves::MotorFigures* figures)
{
    QChart* chart = newChart();
    chart->setTitle(
        titleOf(QStringLiteral("Torque and output power against RPM — %1").arg(report.name), smoothingNotes(report)));

    const curves::ThinnedSeries rawTorque = rawPoints(report, &ReportPoint::torque);
    const curves::ThinnedSeries rawPower = rawPoints(report, &ReportPoint::outputPower);
    const std::vector<QPointF> torque = smoothedPoints(report, &SmoothedPoint::torque);
    const std::vector<QPointF> power = smoothedPoints(report, &SmoothedPoint::outputPower);

    Span rpm, torqueSpan, powerSpan;
    rpm.addAll(rawTorque, true);
    torqueSpan.addAll(rawTorque, false);
    rpm.addAll(torque, true);
    torqueSpan.addAll(torque, false);
    powerSpan.addAll(rawPower, false);
    powerSpan.addAll(power, false);
    std::vector<std::pair<std::vector<QPointF>, std::vector<QPointF>>> overlayCurves;
    for (const ReportCurves& overlay : overlays) {
        overlayCurves.emplace_back(smoothedPoints(overlay, &SmoothedPoint::torque),
                                   smoothedPoints(overlay, &SmoothedPoint::outputPower));
        rpm.addAll(overlayCurves.back().first, true);
        torqueSpan.addAll(overlayCurves.back().first, false);
        powerSpan.addAll(overlayCurves.back().second, false);
    }

    QValueAxis* x = makeAxis(chart, QStringLiteral("RPM"), rpm, Qt::AlignBottom);
    QValueAxis* yTorque = makeAxis(chart, QStringLiteral("Torque (mN·m)"), torqueSpan, Qt::AlignLeft);
    QValueAxis* yPower = makeAxis(chart, QStringLiteral("Output power (W)"), powerSpan, Qt::AlignRight);

    attach(chart, scatter(QStringLiteral("Torque, report"), kTorqueRaw, rawTorque), x, yTorque);
    attach(chart, scatter(QStringLiteral("Output power, report"), kPowerRaw, rawPower), x, yPower);
    attach(chart, line(QStringLiteral("Torque, smoothed"), kTorqueSmoothed, 2.5, Qt::SolidLine, torque), x, yTorque);
    attach(chart, line(QStringLiteral("Output power, smoothed"), kPowerSmoothed, 2.5, Qt::DashLine, power), x, yPower);
    for (std::size_t i = 0; i < overlays.size(); ++i) {
        const QColor colour = overlayColour(static_cast<int>(i));
        // One legend entry per earlier report: its torque, solid, carries the
        // file name; its power is the dashed line of the same colour.
        attach(chart, line(overlays[i].name, colour, 1.5, Qt::SolidLine, overlayCurves[i].first), x, yTorque);
        attach(chart, line(overlays[i].name, colour, 1.5, Qt::DashLine, overlayCurves[i].second), x, yPower, false);
    }
    if (figures)
        addCorrectedCurves(chart, *figures, x, yTorque, yPower);
    return chart;
}

QChart* makeEfficiencyChart(const ReportCurves& report, const std::vector<ReportCurves>& overlays)
{
    QChart* chart = newChart();
    QStringList notes = report.smoothed ? report.smoothed->efficiencyNote().split(QLatin1Char('\n'))
                                        : smoothingNotes(report);
    notes.last() += QStringLiteral("; the analysis writes report points above 100 % as 100");
    chart->setTitle(titleOf(QStringLiteral("Efficiency against RPM — %1").arg(report.name), notes));

    const curves::ThinnedSeries raw = rawPoints(report, &ReportPoint::efficiency);
    const std::vector<QPointF> smoothed = smoothedPoints(report, &SmoothedPoint::efficiency);
    Span rpm, efficiency;
    efficiency.add(100.0);
    rpm.addAll(raw, true);
    efficiency.addAll(raw, false);
    rpm.addAll(smoothed, true);
    efficiency.addAll(smoothed, false);
    std::vector<std::vector<QPointF>> overlayCurves;
    for (const ReportCurves& overlay : overlays) {
        overlayCurves.push_back(smoothedPoints(overlay, &SmoothedPoint::efficiency));
        rpm.addAll(overlayCurves.back(), true);
        efficiency.addAll(overlayCurves.back(), false);
    }

    QValueAxis* x = makeAxis(chart, QStringLiteral("RPM"), rpm, Qt::AlignBottom);
    QValueAxis* y = makeAxis(chart, QStringLiteral("Efficiency (%)"), efficiency, Qt::AlignLeft);
    attach(chart, scatter(QStringLiteral("Efficiency, report"), kEfficiencyRaw, raw), x, y);
    attach(chart, line(QStringLiteral("Efficiency, smoothed"), kEfficiencySmoothed, 2.5, Qt::SolidLine, smoothed), x,
           y);
    for (std::size_t i = 0; i < overlays.size(); ++i)
        attach(chart, line(overlays[i].name, overlayColour(static_cast<int>(i)), 1.5, Qt::SolidLine, overlayCurves[i]),
               x, y);
    return chart;
}

QImage renderReportCharts(const ReportCurves& report, const std::vector<ReportCurves>& overlays, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The motor's figures in a strip under the charts.
    const int chartsHeight = size.height() - kSummaryHeight;
    const int upper = chartsHeight / 2;
    const QRect places[] = {QRect(0, 0, size.width(), upper), QRect(0, upper, size.width(), chartsHeight - upper)};
    const curves::MotorFigures figures = curves::measureMotor(report);
    const std::function<QChart*()> makers[] = {[&] { return makeTorquePowerChart(report, overlays, &figures); },
                                               [&] { return makeEfficiencyChart(report, overlays); }};
    for (int i = 0; i < 2; ++i) {
        // A view that is never shown lays the chart out at its size and
        // draws it like the window does.
        QChartView view(makers[i]());
        view.setRenderHint(QPainter::Antialiasing);
        view.setFrameShape(QFrame::NoFrame);
        view.resize(places[i].size());
        // QGraphicsView::render() would draw the scene; the widget's own
        // draws the view as it appears, axes laid out at its size.
        static_cast<QWidget&>(view).render(&painter, places[i].topLeft());
    }
    drawSummary(painter, QRect(0, chartsHeight, size.width(), kSummaryHeight), figures);
    return image;
}

bool saveReportCharts(const QString& path, const ReportCurves& report, const std::vector<ReportCurves>& overlays,
                      QSize size)
{
    return renderReportCharts(report, overlays, size).save(path, "PNG");
}

} // namespace zelvar::charts
