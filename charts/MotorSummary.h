#pragma once

#include "charts/ChartPlots.h"
#include "curves/MotorFigures.h"

#include <QRect>
#include <QString>

class QPainter;
class QTableWidget;

namespace zelvar::charts {

// The motor's figures beside the curves: a table in the window, columns in
// an image or on a sheet, the same rows and digits as --summary prints.

// Fills `table` with a row per figure: name, value, ±, unit.
void fillFiguresTable(QTableWidget& table, const curves::MotorFigures* figures);

// The height the figures take in an image `width` layout pixels wide.
int figuresHeight(const curves::MotorFigures& figures, int width = kReportImageSize.width());
// The figures in columns in `place`, and the coast-down under them.
void drawFigures(QPainter& painter, const QRect& place, const curves::MotorFigures& figures);

// The heading of an image in `place`'s top; returns its height.
int drawHeading(QPainter& painter, const QRect& place, const RunHeading& heading);

} // namespace zelvar::charts
