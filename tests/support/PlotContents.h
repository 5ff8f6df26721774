#pragma once

// What a plot of the chart layer draws, read back for the tests: its
// plottables by name, and their points in the order drawn.

#include "charts/Plot.h"

#include <QPointF>
#include <QStringList>

#include <vector>

namespace zelvar::testing_support {

inline QStringList plottableNames(QCustomPlot* plot)
{
    QStringList names;
    for (int k = 0; k < plot->plottableCount(); ++k)
        names << plot->plottable(k)->name();
    return names;
}

inline QCPAbstractPlottable* plottableNamed(QCustomPlot* plot, const QString& name)
{
    for (int k = 0; k < plot->plottableCount(); ++k) {
        if (plot->plottable(k)->name() == name)
            return plot->plottable(k);
    }
    return nullptr;
}

// The points of a graph (by key) or of a curve (in its order).
inline std::vector<QPointF> pointsOf(const QCPAbstractPlottable* plottable)
{
    std::vector<QPointF> points;
    if (const auto* graph = qobject_cast<const QCPGraph*>(plottable)) {
        for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
            points.emplace_back(it->key, it->value);
    } else if (const auto* curve = qobject_cast<const QCPCurve*>(plottable)) {
        for (auto it = curve->data()->constBegin(); it != curve->data()->constEnd(); ++it)
            points.emplace_back(it->key, it->value);
    }
    return points;
}

// The legend's entries as drawn, in order.
inline QStringList legendNames(QCustomPlot* plot)
{
    QStringList names;
    for (int k = 0; k < plot->legend->itemCount(); ++k) {
        if (auto* item = qobject_cast<QCPPlottableLegendItem*>(plot->legend->item(k)))
            names << item->plottable()->name();
    }
    return names;
}

inline QString titleOf(QCustomPlot* plot)
{
    QStringList texts;
    for (QCPTextElement* element : plot->findChildren<QCPTextElement*>())
        texts << element->text();
    return texts.join(QLatin1Char('\n')) + QLatin1Char('\n') + plot->toolTip();
}

} // namespace zelvar::testing_support
