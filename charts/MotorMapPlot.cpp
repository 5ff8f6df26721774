#include "charts/MotorMapPlot.h"

#include "charts/ChartPlots.h"
#include "charts/MotorSummary.h"

#include <QFontMetrics>
#include <QLocale>

#include "charts/Plot.h"

#include <algorithm>
#include <cmath>

namespace zelvar::charts {

namespace {

const char* const kMapTitleName = "MapTitle";
const char* const kMapNotesName = "MapNotes";
const char* const kColourScaleName = "MapColourScale";

// Dark at low efficiency to bright at the top, so that black contour lines
// and the measured lines read on every part of it.
QCPColorGradient efficiencyGradient()
{
    QCPColorGradient gradient;
    gradient.clearColorStops();
    gradient.setColorStopAt(0.0, QColor(70, 90, 160));
    gradient.setColorStopAt(0.35, QColor(90, 170, 200));
    gradient.setColorStopAt(0.6, QColor(150, 215, 140));
    gradient.setColorStopAt(0.8, QColor(250, 230, 110));
    gradient.setColorStopAt(1.0, QColor(240, 120, 60));
    // Nothing is drawn where the map has no value: beyond the measured
    // supplies and speeds the plot stays white.
    gradient.setNanHandling(QCPColorGradient::nhTransparent);
    return gradient;
}

QString fixed(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

QCPTextElement* textElement(QCustomPlot& plot, const char* name)
{
    return plot.findChild<QCPTextElement*>(QLatin1String(name));
}

QCPColorScale* colourScale(QCustomPlot& plot)
{
    return plot.findChild<QCPColorScale*>(QLatin1String(kColourScaleName));
}

// Title and notes above the axes, the colour scale to their right, the
// legend below; set up once per plot.
void layOut(QCustomPlot& plot, const ChartText& text, Notes notes)
{
    if (!textElement(plot, kMapTitleName)) {
        plot.setAntialiasedElements(QCP::aeAll);
        QCPLayoutGrid* layout = plot.plotLayout();
        addTitleAndNotes(plot, kMapTitleName, kMapNotesName);
        auto* scale = new QCPColorScale(&plot);
        scale->setObjectName(QLatin1String(kColourScaleName));
        scale->setType(QCPAxis::atRight);
        scale->setLabel(QStringLiteral("Efficiency (%)"));
        scale->setGradient(efficiencyGradient());
        layout->addElement(2, 1, scale);
        // The scale as tall as the axes it belongs to.
        auto* group = new QCPMarginGroup(&plot);
        plot.axisRect()->setMarginGroup(QCP::msTop | QCP::msBottom, group);
        scale->setMarginGroup(QCP::msTop | QCP::msBottom, group);
        putLegendBelowAxes(plot);
        layout->setRowStretchFactor(0, 0.001);
        layout->setRowStretchFactor(1, 0.001);
        layout->setColumnStretchFactor(1, 0.001);
        layout->setRowSpacing(0);
    }
    textElement(plot, kMapTitleName)->setText(text.title);
    QCPTextElement* notesText = textElement(plot, kMapNotesName);
    const int width = plot.width() > 100 ? plot.width() : kMapImageSize.width();
    notesText->setText(notes == Notes::UnderTitle
                           ? wrapped(text.notes, QFontMetrics(notesText->font()), std::max(200, width * 4 / 5))
                           : QString());
    notesText->setVisible(notes == Notes::UnderTitle);
    plot.setToolTip(notes == Notes::InToolTip ? text.notes.join(QLatin1Char('\n')) : QString());
}

QCPCurve* polyline(QCustomPlot& plot, const QString& name, const QPen& pen,
                   const std::vector<sets::ContourPoint>& points)
{
    auto* curve = new QCPCurve(plot.xAxis, plot.yAxis);
    curve->setName(name);
    curve->setPen(pen);
    QVector<double> t, x, y;
    for (const sets::ContourPoint& p : points) {
        t << static_cast<double>(t.size());
        x << p.x;
        y << p.y;
    }
    curve->setData(t, x, y, true);
    return curve;
}

// The model's line of `supply` over the map's speeds, down to no torque.
std::vector<sets::ContourPoint> supplyLine(const sets::MotorMap& map, double supply)
{
    std::vector<sets::ContourPoint> points;
    const double top = map.grid.x.empty() ? 0.0 : map.grid.x.back();
    constexpr int kSteps = 200;
    for (int k = 0; k <= kSteps; ++k) {
        const double rpm = top * k / kSteps;
        const double torque = map.model.torqueOnLine(supply, rpm);
        if (torque < 0.0)
            break;
        points.push_back({rpm, torque});
    }
    return points;
}

void drawColourMap(QCustomPlot& plot, const sets::MotorMap& map)
{
    const sets::Grid& g = map.grid;
    auto* colourMap = new QCPColorMap(plot.xAxis, plot.yAxis);
    colourMap->setName(QStringLiteral("Efficiency, from the motor's model"));
    colourMap->data()->setSize(static_cast<int>(g.columns()), static_cast<int>(g.rows()));
    colourMap->data()->setRange(QCPRange(g.x.front(), g.x.back()), QCPRange(g.y.front(), g.y.back()));
    double lowest = 100.0, highest = 0.0;
    for (std::size_t r = 0; r < g.rows(); ++r) {
        for (std::size_t c = 0; c < g.columns(); ++c) {
            const double e = g.at(c, r);
            colourMap->data()->setCell(static_cast<int>(c), static_cast<int>(r), e);
            if (!std::isnan(e)) {
                lowest = std::min(lowest, e);
                highest = std::max(highest, e);
            }
        }
    }
    colourMap->setInterpolate(true);
    colourMap->removeFromLegend();
    QCPColorScale* scale = colourScale(plot);
    colourMap->setColorScale(scale);
    colourMap->setGradient(efficiencyGradient());
    const double lo = std::floor(lowest / 10.0) * 10.0;
    const double hi = std::min(100.0, std::ceil(highest / 5.0) * 5.0);
    colourMap->setDataRange(QCPRange(lo, hi > lo ? hi : lo + 5.0));
}

void drawContours(QCustomPlot& plot, const sets::MotorMap& map)
{
    const QPen pen(QColor(40, 40, 40), 1.0);
    bool named = false;
    for (const sets::ContourLine& line : map.contours) {
        QCPCurve* curve = polyline(plot, QStringLiteral("Efficiency contours"), pen, line.points);
        if (named)
            curve->removeFromLegend();
        named = true;
        // The level at the middle of each line long enough to carry it.
        if (line.points.size() < 8)
            continue;
        const sets::ContourPoint& at = line.points[line.points.size() / 2];
        auto* label = new QCPItemText(&plot);
        label->position->setCoords(at.x, at.y);
        label->setText(QStringLiteral("%1 %").arg(fixed(line.level, 0)));
        label->setFont(QFont(plot.font().family(), 7));
        label->setColor(QColor(20, 20, 20));
        label->setBrush(QColor(255, 255, 255, 170));
        label->setPadding(QMargins(1, 0, 1, 0));
        label->setClipToAxisRect(true);
    }
}

void drawMeasured(QCustomPlot& plot, const sets::MotorMap& map)
{
    for (std::size_t k = 0; k < map.lines.size(); ++k) {
        const sets::MeasuredLine& line = map.lines[k];
        QPen pen(overlayColour(static_cast<int>(k)), 2.2);
        pen.setCapStyle(Qt::FlatCap);
        polyline(plot, QStringLiteral("%1 (%2 V), measured").arg(line.name, fixed(line.supply, 2)), pen, line.points);
    }
    // The best point of each supply, from the model, marked and labelled.
    QCPGraph* best = plot.addGraph(plot.xAxis, plot.yAxis);
    best->setName(QStringLiteral("Best efficiency at each supply"));
    best->setLineStyle(QCPGraph::lsNone);
    best->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDiamond, QPen(Qt::black, 1.5), Qt::white, 11));
    for (const sets::SupplyLevel& level : map.supplies) {
        best->addData(level.best.rpm, level.best.torqueMnm);
        auto* label = new QCPItemText(&plot);
        label->position->setCoords(level.best.rpm, level.best.torqueMnm);
        // Towards the right end the label goes to the point's left, where
        // the plot has room for it.
        const bool right = level.best.rpm > 0.8 * map.grid.x.back();
        label->setPositionAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignBottom);
        label->setText(QStringLiteral("%1 % at %2 V").arg(fixed(level.best.efficiency, 1), fixed(level.supply, 1)));
        label->setFont(QFont(plot.font().family(), 8, QFont::Bold));
        label->setPadding(right ? QMargins(0, 0, 6, 6) : QMargins(6, 0, 0, 6));
        label->setClipToAxisRect(true);
    }
}

} // namespace

ChartText motorMapText(const sets::MotorMap& map)
{
    ChartText text{QStringLiteral("The motor's efficiency over torque and speed"), {}};
    if (!map.drawn()) {
        text.notes << QStringLiteral("No map: %1.").arg(map.refused);
        text.notes << map.leftOut;
        return text;
    }
    QStringList supplies;
    for (const sets::SupplyLevel& level : map.supplies)
        supplies << fixed(level.supply, 2) + QStringLiteral(" V");
    text.notes << QStringLiteral("From the motor's model over %1 spin-ups at %2: Kv %3 RPM/V, R %4 Ω, I0 %5 A, "
                                 "supply resistance %6 Ω; the measured torque is corrected for the rig's losses.")
                      .arg(map.lines.size())
                      .arg(supplies.join(QStringLiteral(", ")), fixed(map.model.kv, 1), fixed(map.model.resistance, 4),
                           fixed(map.model.noLoadCurrent, 3), fixed(map.model.supplyResistance, 4));
    text.notes << QStringLiteral("Left white beyond the lowest and highest supply (dashed) and outside the speeds and "
                                 "torques the spin-ups reached: nothing there is extrapolated.");
    for (const QString& left : map.leftOut)
        text.notes << QStringLiteral("Left out: %1").arg(left);
    return text;
}

void drawMotorMap(QCustomPlot& plot, const sets::MotorMap& map, Notes notes)
{
    plot.clearPlottables();
    plot.clearItems();
    layOut(plot, motorMapText(map), notes);
    plot.xAxis->setLabel(QStringLiteral("Speed (RPM)"));
    plot.yAxis->setLabel(QStringLiteral("Torque (mN·m)"));
    QCPColorScale* scale = colourScale(plot);
    if (!map.drawn() || map.grid.columns() < 2 || map.grid.rows() < 2) {
        scale->setVisible(false);
        plot.xAxis->setRange(0, 1);
        plot.yAxis->setRange(0, 1);
        auto* message = new QCPItemText(&plot);
        message->position->setType(QCPItemPosition::ptAxisRectRatio);
        message->position->setCoords(0.5, 0.5);
        message->setText(QStringLiteral("No map: %1").arg(map.refused));
        message->setFont(QFont(plot.font().family(), 10));
        plot.legend->setVisible(false);
        return;
    }
    scale->setVisible(true);
    plot.legend->setVisible(true);
    drawColourMap(plot, map);
    const QPen limit(QColor(90, 90, 90), 1.5, Qt::DashLine);
    polyline(plot, QStringLiteral("Lowest and highest supply"), limit, supplyLine(map, map.supplies.front().supply));
    polyline(plot, QString(), limit, supplyLine(map, map.supplies.back().supply))->removeFromLegend();
    drawContours(plot, map);
    drawMeasured(plot, map);
    plot.xAxis->setRange(0, map.grid.x.back() * 1.02);
    plot.yAxis->setRange(0, map.grid.y.back() * 1.04);
    plot.legend->setWrap(3);
    plot.legend->setFillOrder(QCPLegend::foColumnsFirst, true);
}

void drawMotorMapAt(QCPPainter& painter, const QRect& place, const sets::MotorMap& map, Notes notes)
{
    QCustomPlot plot;
    plot.resize(place.size());
    drawMotorMap(plot, map, notes);
    painter.save();
    painter.translate(place.topLeft());
    plot.toPainter(&painter, place.width(), place.height());
    painter.restore();
}

QImage renderMotorMap(const sets::MotorMap& map, const QString& title, double scale, QSize size)
{
    scale = std::clamp(scale, 0.25, 8.0);
    QImage image(QSize(qRound(size.width() * scale), qRound(size.height() * scale)), QImage::Format_RGB32);
    image.fill(Qt::white);
    QCPPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    if (scale > 1.0)
        painter.setMode(QCPPainter::pmNonCosmetic);
    RunHeading heading{title, {}};
    for (const QString& line : sets::bestPointLines(map))
        heading.lines << QStringLiteral("Best efficiency at %1").arg(line);
    const int headingHeight = drawHeading(painter, QRect(0, 0, size.width(), size.height()), heading);
    drawMotorMapAt(painter, QRect(0, headingHeight, size.width(), size.height() - headingHeight), map,
                   Notes::UnderTitle);
    return image;
}

bool saveMotorMap(const QString& path, const sets::MotorMap& map, const QString& title, double scale, QSize size)
{
    return renderMotorMap(map, title, scale, size).save(path, "PNG");
}

} // namespace zelvar::charts
