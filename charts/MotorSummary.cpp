#include "charts/MotorSummary.h"

#include "curves/FigureFormats.h"

#include <QChart>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>

#include <algorithm>

namespace zelvar::charts {

namespace {

const QColor kTorqueCorrected(120, 0, 120);
const QColor kPowerCorrected(170, 20, 60);

QLineSeries* correctedLine(const QString& name, const QColor& colour, Qt::PenStyle style,
                           const std::vector<QPointF>& points)
{
    auto* series = new QLineSeries;
    series->setName(name);
    QPen pen(colour, 2.0, style);
    pen.setCapStyle(Qt::FlatCap);
    series->setPen(pen);
    series->replace(QList<QPointF>(points.begin(), points.end()));
    return series;
}

void widen(QAbstractAxis* axis, const std::vector<QPointF>& points)
{
    auto* value = qobject_cast<QValueAxis*>(axis);
    if (!value || points.empty())
        return;
    double hi = value->max();
    for (const QPointF& p : points)
        hi = std::max(hi, p.y());
    if (hi > value->max()) {
        value->setMax(hi);
        value->applyNiceNumbers();
    }
}

} // namespace

void addCorrectedCurves(QChart* chart, const curves::MotorFigures& figures, QAbstractAxis* x, QAbstractAxis* yTorque,
                        QAbstractAxis* yPower)
{
    QString title = chart->title();
    title += QStringLiteral("<br><small>%1</small>").arg(curves::correctionNote(figures).toHtmlEscaped());
    chart->setTitle(title);
    if (!figures.losses)
        return;
    // At most a couple of thousand points: a line has no more pixels.
    const std::size_t step = std::max<std::size_t>(1, figures.curve.size() / 2000);
    std::vector<QPointF> torque, power;
    for (std::size_t k = 0; k < figures.curve.size(); k += step) {
        const curves::CorrectedPoint& p = figures.curve[k];
        if (!p.corrected)
            continue;
        torque.emplace_back(p.rpm, p.correctedTorque);
        power.emplace_back(p.rpm, p.correctedOutputPower);
    }
    widen(yTorque, torque);
    widen(yPower, power);
    const std::pair<QLineSeries*, QAbstractAxis*> lines[] = {
        {correctedLine(QStringLiteral("Torque, corrected for losses"), kTorqueCorrected, Qt::SolidLine, torque),
         yTorque},
        {correctedLine(QStringLiteral("Output power, corrected for losses"), kPowerCorrected, Qt::DashDotLine, power),
         yPower}};
    for (const auto& [series, y] : lines) {
        chart->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    }
}

QString summaryText(const curves::MotorFigures& figures)
{
    return QStringLiteral("Motor figures\n") + curves::summaryTable(figures).trimmed();
}

void drawSummary(QPainter& painter, const QRect& place, const curves::MotorFigures& figures)
{
    painter.save();
    painter.fillRect(place, QColor(245, 245, 245));
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(place.adjusted(12, 6, -12, -6), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     summaryText(figures));
    painter.restore();
}

} // namespace zelvar::charts
