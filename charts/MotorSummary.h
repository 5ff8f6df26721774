#pragma once

#include "curves/MotorFigures.h"

#include <QRect>
#include <QString>

class QAbstractAxis;
class QChart;
class QPainter;

namespace zelvar::charts {

// The loss correction and the motor's figures on the report's charts, kept
// apart from the plots they are added to.

// Draws the spin-up's torque and power corrected for the rig's losses
// beside the uncorrected curves already on `chart`, widens the axes to
// them, and adds to the title the fit and its coefficients, where the
// correction applies, or that the run has no coast-down and why the top of
// the curve then reads low.
void addCorrectedCurves(QChart* chart, const curves::MotorFigures& figures, QAbstractAxis* x, QAbstractAxis* yTorque,
                        QAbstractAxis* yPower);

// The figures as the summary panel shows them: one line each, plain text.
QString summaryText(const curves::MotorFigures& figures);

// Height of the summary strip under the charts in the PNG.
inline constexpr int kSummaryHeight = 190;

// The summary panel drawn into `place` of an image.
void drawSummary(QPainter& painter, const QRect& place, const curves::MotorFigures& figures);

} // namespace zelvar::charts
