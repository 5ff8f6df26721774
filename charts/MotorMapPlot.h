#pragma once

#include "charts/ChartPlots.h"
#include "sets/MotorMap.h"

#include <QImage>
#include <QSize>
#include <QString>

class QCPPainter;
class QCustomPlot;
class QRect;

namespace zelvar::charts {

// The motor's map drawn: its efficiency as a colour map over torque and
// RPM, the contour lines with their levels, the lines of the lowest and
// highest supply that bound it, the measured torque lines on top, and the
// best-efficiency point of each supply marked. Outside the measured region
// the map is left empty (white): nothing there is extrapolated.

inline constexpr QSize kMapImageSize{1000, 800};

ChartText motorMapText(const sets::MotorMap& map);

// Clears `plot` and draws `map` into it. A map that was refused leaves the
// axes empty with the reason written across them.
void drawMotorMap(QCustomPlot& plot, const sets::MotorMap& map, Notes notes);

// The map drawn by a plot of `place`'s size into `place`, as vectors where
// the painter draws them (the colour map itself is an image).
void drawMotorMapAt(QCPPainter& painter, const QRect& place, const sets::MotorMap& map, Notes notes);

// The map on a white image of `size` layout pixels at `scale` device
// pixels each, headed by `title`, with the best points listed under it.
// Needs a QApplication; no display (the offscreen platform does).
QImage renderMotorMap(const sets::MotorMap& map, const QString& title, double scale = kDefaultImageScale,
                      QSize size = kMapImageSize);
// renderMotorMap() written to `path` as PNG; false when it cannot be written.
bool saveMotorMap(const QString& path, const sets::MotorMap& map, const QString& title,
                  double scale = kDefaultImageScale, QSize size = kMapImageSize);

} // namespace zelvar::charts
