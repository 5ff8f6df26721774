#pragma once

// zelvar-analyze's --torque-unit, --power-unit and --speed-unit: the units
// of the tables it prints and draws. Its files keep the program's units.

#include "curves/DisplayUnits.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <optional>

namespace zelvar::analyze {

QList<QCommandLineOption> unitOptions();

// The units the options choose, the program's own for those not given; none
// with `failure` saying which value is no unit.
std::optional<curves::DisplayUnits> chosenUnits(const QCommandLineParser& parser, QString& failure);

} // namespace zelvar::analyze
