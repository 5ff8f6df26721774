#pragma once

#include "platform/Decimal.h"

#include <QLocale>
#include <QString>

#include <optional>
#include <string>

namespace zelvar {

class MainForm;

// The flywheel and ESC boxes as a handler found them at the end of a run:
// radius and weight read as numbers in the given locale (none, with the
// reason naming the box, for a box without one), the ESC timings as typed.
// Read once by the handler that ends the run and handed on, so that nothing
// after it reads the boxes again.
struct FlywheelBoxes {
    std::optional<Decimal> radiusMm;
    std::optional<Decimal> weightG;
    std::string radiusFailure; // "Flywheel Radius: not a number: ..."
    std::string weightFailure;
    QString escNeutral;
    QString escFull;
};
FlywheelBoxes readFlywheelBoxes(MainForm& form, const QLocale& locale);

} // namespace zelvar
