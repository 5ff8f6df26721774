#include "charts/ChartPlots.h"
#include "charts/MotorSummary.h"
#include "charts/UnitChoice.h"

#include "archive/RunJson.h"

#include "curves/FigureFormats.h"
#include "curves/PointThinning.h"
#include "curves/ReportLoader.h"

#include <QDir>
#include <QEvent>
#include <QLocale>
#include <QPainter>

#include "charts/Plot.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace zelvar::charts {

namespace {

using curves::ReportCurves;
using curves::ReportPoint;
using curves::SmoothedPoint;

// The report's own colours: torque in blues, power in oranges, efficiency
// in greens; the raw points pale, so that the smoothed curve reads over
// them. The corrected curves are darker shades of the same.
const QColor kTorqueRaw(150, 180, 230);
const QColor kTorqueSmoothed(20, 60, 160);
const QColor kPowerRaw(245, 190, 140);
const QColor kPowerSmoothed(200, 85, 0);
const QColor kEfficiencyRaw(150, 210, 150);
const QColor kEfficiencySmoothed(0, 120, 40);
const QColor kTorqueCorrected(0, 25, 90);
const QColor kPowerCorrected(130, 45, 0);
const QColor kEfficiencyCorrected(0, 70, 20);

// Greys and violets through reds: none is a blue, orange or green of the
// run's own curves, and they are told apart from each other.
const QColor kOverlayColours[kMaxOverlays] = {QColor(200, 0, 110), QColor(110, 110, 110), QColor(130, 40, 200),
                                              QColor(0, 0, 0), QColor(170, 120, 0)};

const char* const kTitleName = "ChartTitle";
const char* const kNotesName = "ChartNotes";

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

void setAxis(QCPAxis* axis, const QString& title, const Span& span)
{
    axis->setVisible(true);
    axis->setLabel(title);
    // A little room above the highest value, so that a peak is not drawn on
    // the frame.
    axis->setRange(span.lo(), span.hi() + 0.04 * (span.hi() - span.lo()));
    axis->ticker()->setTickCount(6);
}

QCPCurve* line(QCustomPlot& plot, QCPAxis* y, const QString& name, const QColor& colour, qreal width,
               Qt::PenStyle style, const std::vector<QPointF>& points)
{
    auto* curve = new QCPCurve(plot.xAxis, y);
    curve->setName(name);
    QPen pen(colour, width, style);
    pen.setCapStyle(Qt::FlatCap);
    curve->setPen(pen);
    // A spin-up of an endurance run holds hours of records; a line drawn
    // through more points than the chart has pixels looks no different. A
    // curve, not a graph: a line keeps the order of its points, which a
    // smoothed spin-up need not have in RPM at its ends.
    const std::vector<QPointF> kept = curves::downsample(points, kMaxLinePoints);
    QVector<double> t(static_cast<qsizetype>(kept.size())), keys(t.size()), values(t.size());
    for (qsizetype k = 0; k < t.size(); ++k) {
        t[k] = static_cast<double>(k);
        keys[k] = kept[static_cast<std::size_t>(k)].x();
        values[k] = kept[static_cast<std::size_t>(k)].y();
    }
    curve->setData(t, keys, values, true);
    return curve;
}

QCPGraph* scatter(QCustomPlot& plot, QCPAxis* y, const QString& name, const QColor& colour,
                  const curves::ThinnedSeries& points)
{
    QCPGraph* graph = plot.addGraph(plot.xAxis, y);
    graph->setName(name);
    graph->setLineStyle(QCPGraph::lsNone);
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, colour, 4));
    graph->setPen(QPen(colour));
    QVector<double> keys, values;
    keys.reserve(static_cast<qsizetype>(points.points.size()));
    values.reserve(keys.capacity());
    for (const QPointF& p : points.points) {
        keys << p.x();
        values << p.y();
    }
    graph->setData(keys, values);
    return graph;
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

QCPTextElement* textElement(QCustomPlot& plot, const char* name)
{
    return plot.findChild<QCPTextElement*>(QLatin1String(name));
}

// As many legend columns as the plot's width has room for.
void wrapLegend(QCustomPlot& plot)
{
    int widest = 1;
    const QFontMetrics metrics(plot.legend->font());
    for (int k = 0; k < plot.legend->itemCount(); ++k) {
        if (auto* item = qobject_cast<QCPPlottableLegendItem*>(plot.legend->item(k)))
            widest = std::max(widest, metrics.horizontalAdvance(item->plottable()->name()) + 40);
    }
    const int width = plot.width() > 100 ? plot.width() : kReportImageSize.width();
    plot.legend->setWrap(std::max(1, width / widest));
    // The wrap applies to entries added after it, unless they are laid out
    // again.
    plot.legend->setFillOrder(QCPLegend::foColumnsFirst, true);
}

// Lays the legend out again for each new width of the plot's widget.
class LegendFit final : public QObject {
public:
    explicit LegendFit(QCustomPlot& plot) : QObject(&plot), plot_(plot) { plot.installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &plot_ && event->type() == QEvent::Resize)
            wrapLegend(plot_);
        return false;
    }

private:
    QCustomPlot& plot_;
};

// Title and notes above the axes, the legend below them, where it never
// covers a curve. The plot's layout is set up the first time and kept.
void layOut(QCustomPlot& plot, const ChartText& text, Notes notes)
{
    QCPLayoutGrid* layout = plot.plotLayout();
    if (!textElement(plot, kTitleName)) {
        plot.setAntialiasedElements(QCP::aeAll);
        plot.setNoAntialiasingOnDrag(true);
        addTitleAndNotes(plot, kTitleName, kNotesName);
        putLegendBelowAxes(plot);
        // The words take what they need; the axes the rest.
        layout->setRowStretchFactor(0, 0.001);
        layout->setRowStretchFactor(1, 0.001);
        layout->setRowSpacing(0);
        new LegendFit(plot);
    }
    textElement(plot, kTitleName)->setText(text.title);
    QCPTextElement* notesText = textElement(plot, kNotesName);
    notesText->setText(notes == Notes::UnderTitle
                           ? wrapped(text.notes, QFontMetrics(notesText->font()), std::max(200, plot.width() - 24))
                           : QString());
    notesText->setVisible(notes == Notes::UnderTitle);
    plot.setToolTip(notes == Notes::InToolTip ? text.notes.join(QLatin1Char('\n')) : QString());
}

void clear(QCustomPlot& plot)
{
    plot.clearPlottables();
    plot.clearItems();
    plot.yAxis2->setVisible(false);
    plot.yAxis->grid()->setVisible(true);
}

// Points in the shown units (charts/UnitChoice.h): a speed on x, and on y
// a value of `y`'s quantity, or as it is without one (an efficiency).
std::vector<QPointF> shown(std::vector<QPointF> points, const curves::DisplayUnit* y)
{
    const curves::DisplayUnit& x = shownUnits().speedUnit();
    for (QPointF& p : points)
        p = QPointF(x.fromOwn(p.x()), y ? y->fromOwn(p.y()) : p.y());
    return points;
}

curves::ThinnedSeries shown(curves::ThinnedSeries series, const curves::DisplayUnit* y)
{
    const curves::DisplayUnit& x = shownUnits().speedUnit();
    series.points = shown(std::move(series.points), y);
    // The factors are positive: the ranges keep their order.
    series.xLo = x.fromOwn(series.xLo);
    series.xHi = x.fromOwn(series.xHi);
    if (y) {
        series.yLo = y->fromOwn(series.yLo);
        series.yHi = y->fromOwn(series.yHi);
    }
    return series;
}

QString speedAxisTitle()
{
    return QStringLiteral("Speed (%1)").arg(shownUnits().speedUnit().name);
}

std::vector<QPointF> correctedPoints(const curves::MotorFigures& figures, double curves::CorrectedPoint::*value)
{
    // At most a couple of thousand points: a line has no more pixels.
    const std::size_t step = std::max<std::size_t>(1, figures.curve.size() / 2000);
    std::vector<QPointF> points;
    for (std::size_t k = 0; k < figures.curve.size(); k += step) {
        const curves::CorrectedPoint& p = figures.curve[k];
        if (p.corrected)
            points.emplace_back(p.rpm, p.*value);
    }
    return points;
}

} // namespace

void addTitleAndNotes(QCustomPlot& plot, const char* titleName, const char* notesName)
{
    QCPLayoutGrid* layout = plot.plotLayout();
    layout->insertRow(0);
    auto* title = new QCPTextElement(&plot, QString(), QFont(plot.font().family(), 10, QFont::Bold));
    title->setObjectName(QLatin1String(titleName));
    layout->addElement(0, 0, title);
    layout->insertRow(1);
    auto* notesText = new QCPTextElement(&plot, QString(), QFont(plot.font().family(), 8));
    notesText->setObjectName(QLatin1String(notesName));
    notesText->setTextColor(QColor(70, 70, 70));
    layout->addElement(1, 0, notesText);
}

QString wrapped(const QStringList& paragraphs, const QFontMetrics& metrics, int width)
{
    QStringList lines;
    for (const QString& paragraph : paragraphs) {
        QString line;
        for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void putLegendBelowAxes(QCustomPlot& plot)
{
    QCPLayoutGrid* layout = plot.plotLayout();
    plot.axisRect()->insetLayout()->take(plot.legend);
    const int row = layout->rowCount();
    layout->addElement(row, 0, plot.legend);
    // The legend takes what it needs; the axes the rest.
    layout->setRowStretchFactor(row, 0.001);
    plot.legend->setVisible(true);
    plot.legend->setFillOrder(QCPLegend::foColumnsFirst);
    plot.legend->setBorderPen(Qt::NoPen);
    plot.legend->setFont(QFont(plot.font().family(), 8));
    plot.legend->setRowSpacing(0);
    plot.legend->setMargins(QMargins(4, 0, 4, 2));
}

QColor overlayColour(int index)
{
    return kOverlayColours[((index % kMaxOverlays) + kMaxOverlays) % kMaxOverlays];
}

QString runLabel(const QString& note, const QString& started)
{
    const QString trimmed = note.simplified();
    return trimmed.isEmpty() ? started : trimmed;
}

// The run's start, note and flywheel values, for a saved image's heading.
RunHeading runHeading(const QString& name, const QString& reportPath, const QString& folder)
{
    RunHeading heading{QStringLiteral("Zelvar QT4 Data: %1").arg(name), {}};
    if (!folder.isEmpty()) {
        try {
            const archive::RunJson run = archive::readRunJson(folder);
            const QString started = run.startedAt().toLocalTime().toString(Qt::ISODate);
            heading.title = QStringLiteral("Zelvar QT4 Data: run of %1").arg(started);
            if (!run.note().trimmed().isEmpty())
                heading.title += QStringLiteral(" — ") + run.note().simplified();
            const archive::RunValues values = run.values();
            const auto number = [](std::optional<double> v, const char* unit) {
                return v ? QLocale::c().toString(*v, 'g', 6) + QLatin1String(unit) : QStringLiteral("none");
            };
            QString flywheel = QStringLiteral("Flywheel radius %1, weight %2")
                                   .arg(number(values.radiusMm, " mm"), number(values.weightG, " g"));
            if (!values.typedMark().isEmpty())
                flywheel += QStringLiteral(" (%1)").arg(values.typedMark());
            heading.lines << flywheel;
        } catch (const std::exception& e) {
            heading.lines << QString::fromUtf8(e.what());
        }
    }
    heading.lines << QStringLiteral("Report %1").arg(QDir::toNativeSeparators(reportPath));
    return heading;
}

ChartText torquePowerText(const ReportCurves& report, const curves::MotorFigures* figures)
{
    ChartText text{QStringLiteral("Torque and output power against RPM — %1").arg(report.name), smoothingNotes(report)};
    if (figures)
        text.notes << curves::correctionNote(*figures);
    return text;
}

ChartText efficiencyText(const ReportCurves& report)
{
    QStringList notes = report.smoothed ? report.smoothed->efficiencyNote().split(QLatin1Char('\n'))
                                        : smoothingNotes(report);
    notes.last() += QStringLiteral("; the analysis writes report points above 100 % as 100");
    return {QStringLiteral("Efficiency against RPM — %1").arg(report.name), notes};
}

void drawTorquePower(QCustomPlot& plot, const ReportCurves& report, const std::vector<ReportCurves>& overlays,
                     const curves::MotorFigures* figures, Notes notes)
{
    clear(plot);
    layOut(plot, torquePowerText(report, figures), notes);

    const curves::DisplayUnit* torqueUnit = &shownUnits().torqueUnit();
    const curves::DisplayUnit* powerUnit = &shownUnits().powerUnit();
    const curves::ThinnedSeries rawTorque = shown(rawPoints(report, &ReportPoint::torque), torqueUnit);
    const curves::ThinnedSeries rawPower = shown(rawPoints(report, &ReportPoint::outputPower), powerUnit);
    const std::vector<QPointF> torque = shown(smoothedPoints(report, &SmoothedPoint::torque), torqueUnit);
    const std::vector<QPointF> power = shown(smoothedPoints(report, &SmoothedPoint::outputPower), powerUnit);
    const bool corrected = figures && figures->losses;
    const std::vector<QPointF> correctedTorque =
        corrected ? shown(correctedPoints(*figures, &curves::CorrectedPoint::correctedTorque), torqueUnit)
                  : std::vector<QPointF>();
    const std::vector<QPointF> correctedPower =
        corrected ? shown(correctedPoints(*figures, &curves::CorrectedPoint::correctedOutputPower), powerUnit)
                  : std::vector<QPointF>();

    Span rpm, torqueSpan, powerSpan;
    rpm.addAll(rawTorque, true);
    torqueSpan.addAll(rawTorque, false);
    rpm.addAll(torque, true);
    torqueSpan.addAll(torque, false);
    powerSpan.addAll(rawPower, false);
    powerSpan.addAll(power, false);
    torqueSpan.addAll(correctedTorque, false);
    powerSpan.addAll(correctedPower, false);
    std::vector<std::pair<std::vector<QPointF>, std::vector<QPointF>>> overlayCurves;
    for (const ReportCurves& overlay : overlays) {
        overlayCurves.emplace_back(shown(smoothedPoints(overlay, &SmoothedPoint::torque), torqueUnit),
                                   shown(smoothedPoints(overlay, &SmoothedPoint::outputPower), powerUnit));
        rpm.addAll(overlayCurves.back().first, true);
        torqueSpan.addAll(overlayCurves.back().first, false);
        powerSpan.addAll(overlayCurves.back().second, false);
    }
    setAxis(plot.xAxis, speedAxisTitle(), rpm);
    setAxis(plot.yAxis, QStringLiteral("Torque (%1)").arg(torqueUnit->name), torqueSpan);
    setAxis(plot.yAxis2, QStringLiteral("Output power (%1)").arg(powerUnit->name), powerSpan);
    // One grid, the torque axis's: two sets of lines would not meet.
    plot.yAxis2->grid()->setVisible(false);

    scatter(plot, plot.yAxis, QStringLiteral("Torque, report"), kTorqueRaw, rawTorque);
    scatter(plot, plot.yAxis2, QStringLiteral("Output power, report"), kPowerRaw, rawPower);
    line(plot, plot.yAxis, QStringLiteral("Torque, smoothed"), kTorqueSmoothed, 2.5, Qt::SolidLine, torque);
    line(plot, plot.yAxis2, QStringLiteral("Output power, smoothed"), kPowerSmoothed, 2.5, Qt::DashLine, power);
    if (corrected) {
        line(plot, plot.yAxis, QStringLiteral("Torque, corrected for losses"), kTorqueCorrected, 2.0, Qt::SolidLine,
             correctedTorque);
        line(plot, plot.yAxis2, QStringLiteral("Output power, corrected for losses"), kPowerCorrected, 2.0,
             Qt::DashDotLine, correctedPower);
    }
    for (std::size_t i = 0; i < overlays.size(); ++i) {
        const QColor colour = overlayColour(static_cast<int>(i));
        // One legend entry per earlier report: its torque, solid, carries its
        // name; its power is the dashed line of the same colour.
        line(plot, plot.yAxis, overlays[i].name, colour, 1.5, Qt::SolidLine, overlayCurves[i].first);
        line(plot, plot.yAxis2, overlays[i].name, colour, 1.5, Qt::DashLine, overlayCurves[i].second)
            ->removeFromLegend();
    }
    wrapLegend(plot);
}

void drawEfficiency(QCustomPlot& plot, const ReportCurves& report, const std::vector<ReportCurves>& overlays,
                    const curves::MotorFigures* figures, Notes notes)
{
    clear(plot);
    layOut(plot, efficiencyText(report), notes);

    const curves::ThinnedSeries raw = shown(rawPoints(report, &ReportPoint::efficiency), nullptr);
    const std::vector<QPointF> smoothed = shown(smoothedPoints(report, &SmoothedPoint::efficiency), nullptr);
    const std::vector<QPointF> corrected = figures && figures->losses
                                             ? shown(correctedPoints(*figures, &curves::CorrectedPoint::efficiency),
                                                     nullptr)
                                             : std::vector<QPointF>();
    Span rpm, efficiency;
    efficiency.add(100.0);
    rpm.addAll(raw, true);
    efficiency.addAll(raw, false);
    rpm.addAll(smoothed, true);
    efficiency.addAll(smoothed, false);
    std::vector<std::vector<QPointF>> overlayCurves;
    for (const ReportCurves& overlay : overlays) {
        overlayCurves.push_back(shown(smoothedPoints(overlay, &SmoothedPoint::efficiency), nullptr));
        rpm.addAll(overlayCurves.back(), true);
        efficiency.addAll(overlayCurves.back(), false);
    }
    setAxis(plot.xAxis, speedAxisTitle(), rpm);
    setAxis(plot.yAxis, QStringLiteral("Efficiency (%)"), efficiency);
    scatter(plot, plot.yAxis, QStringLiteral("Efficiency, report"), kEfficiencyRaw, raw);
    line(plot, plot.yAxis, QStringLiteral("Efficiency, smoothed"), kEfficiencySmoothed, 2.5, Qt::SolidLine, smoothed);
    if (!corrected.empty())
        line(plot, plot.yAxis, QStringLiteral("Efficiency, corrected for losses"), kEfficiencyCorrected, 2.0,
             Qt::DashDotLine, corrected);
    for (std::size_t i = 0; i < overlays.size(); ++i)
        line(plot, plot.yAxis, overlays[i].name, overlayColour(static_cast<int>(i)), 1.5, Qt::SolidLine,
             overlayCurves[i]);
    wrapLegend(plot);
}

QImage renderReportCharts(const ReportCurves& report, const std::vector<ReportCurves>& overlays,
                          const RunHeading& heading, double scale, QSize size)
{
    scale = std::clamp(scale, 0.25, 8.0);
    QImage image(QSize(qRound(size.width() * scale), qRound(size.height() * scale)), QImage::Format_RGB32);
    image.fill(Qt::white);
    QCPPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    if (scale > 1.0)
        painter.setMode(QCPPainter::pmNonCosmetic);

    const int headingHeight = drawHeading(painter, QRect(0, 0, size.width(), size.height()), heading);
    const curves::MotorFigures figures = curves::measureMotor(report);
    const int summaryHeight = figuresHeight(figures);
    const int chartsHeight = size.height() - headingHeight - summaryHeight;
    const int upper = chartsHeight * 11 / 20;
    const QRect places[] = {QRect(0, headingHeight, size.width(), upper),
                            QRect(0, headingHeight + upper, size.width(), chartsHeight - upper)};
    for (int i = 0; i < 2; ++i) {
        // A plot that is never shown lays itself out at the size given and
        // draws as the window does.
        QCustomPlot plot;
        plot.resize(places[i].size());
        if (i == 0)
            drawTorquePower(plot, report, overlays, &figures, Notes::UnderTitle);
        else
            drawEfficiency(plot, report, overlays, &figures, Notes::UnderTitle);
        painter.save();
        painter.translate(places[i].topLeft());
        plot.toPainter(&painter, places[i].width(), places[i].height());
        painter.restore();
    }
    drawFigures(painter, QRect(0, headingHeight + chartsHeight, size.width(), summaryHeight), figures);
    return image;
}

bool saveReportCharts(const QString& path, const ReportCurves& report, const std::vector<ReportCurves>& overlays,
                      const RunHeading& heading, double scale, QSize size)
{
    return renderReportCharts(report, overlays, heading, scale, size).save(path, "PNG");
}

} // namespace zelvar::charts
