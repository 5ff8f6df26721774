#pragma once

#include "curves/DisplayUnits.h"
#include "sets/FigureSpread.h"

#include <functional>
#include <vector>

class QMenu;
class QWidget;

namespace zelvar::charts {

// The units the chart layer shows its numbers in: the read-out, the axes,
// the figures and the sheets. One choice for the whole process, as a font
// is: the chart window sets it from its setting, zelvar-analyze from its
// command line, and every drawing reads it, so that a window's plots, its
// PNG and its sheet cannot differ. The default is the program's own units.
const curves::DisplayUnits& shownUnits();
void setShownUnits(const curves::DisplayUnits& units);

// The rows of figureRows() and of figureSpreads() over `runs` in the shown
// units.
std::vector<curves::FigureRow> shownFigureRows(const curves::MotorFigures& figures);
std::vector<sets::FigureRowSpread> shownSpreads(const std::vector<curves::MotorFigures>& runs);

// The choice as the settings file keeps it; an unknown key there (a newer
// program's unit) reads as the default.
curves::DisplayUnits readUnitSetting();
// False when the settings file could not be written.
bool writeUnitSetting(const curves::DisplayUnits& units);

// The chart window's "Units" menu: a group of choices for torque, power and
// speed, ticked as `shownUnits()` is. Picking one sets the shown units,
// keeps them in the settings file and calls `changed`.
QMenu* makeUnitsMenu(QWidget* parent, std::function<void()> changed);

} // namespace zelvar::charts
