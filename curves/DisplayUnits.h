#pragma once

#include "curves/FigureFormats.h"

#include <QString>

#include <optional>
#include <vector>

namespace zelvar::curves {

// The units numbers are shown in. The program computes and stores in its own
// units (mN·m, W, RPM: the report's, run.json's and the JSON outputs'); the
// read-out, the charts, the figures and the sheets may show them in another,
// converted only as they are written out.

enum class TorqueUnit { MilliNewtonMetre, NewtonMetre, OunceInch, KilogramForceCentimetre };
enum class PowerUnit { Watt, Horsepower };
enum class SpeedUnit { Rpm, RadianPerSecond };

// One unit of a quantity against the program's own unit of it.
struct DisplayUnit {
    QString key;   // on the command line and in the settings file: "oz-in"
    QString name;  // as shown: "oz·in"
    double perOwn; // one of the program's units (1 mN·m, 1 W, 1 RPM) in this unit
    // The decimals it takes beyond the program's unit to keep a number's
    // precision: its last digit is worth no more than the program's last
    // digit, and more than a tenth of it.
    int extraDecimals;

    double fromOwn(double value) const { return value * perOwn; }
    double toOwn(double value) const { return value / perOwn; }
    // `own` (in the program's unit) written in this unit, to the precision
    // that `ownDecimals` decimals give in the program's unit.
    QString text(double own, int ownDecimals) const;
};

const DisplayUnit& unitOf(TorqueUnit unit);
const DisplayUnit& unitOf(PowerUnit unit);
const DisplayUnit& unitOf(SpeedUnit unit);

inline constexpr TorqueUnit kTorqueUnits[] = {TorqueUnit::MilliNewtonMetre, TorqueUnit::NewtonMetre,
                                              TorqueUnit::OunceInch, TorqueUnit::KilogramForceCentimetre};
inline constexpr PowerUnit kPowerUnits[] = {PowerUnit::Watt, PowerUnit::Horsepower};
inline constexpr SpeedUnit kSpeedUnits[] = {SpeedUnit::Rpm, SpeedUnit::RadianPerSecond};

// The unit of a key ("mNm", "Nm", "oz-in", "kgf-cm"; "W", "hp"; "rpm",
// "rad/s"); none for another.
std::optional<TorqueUnit> torqueUnitNamed(const QString& key);
std::optional<PowerUnit> powerUnitNamed(const QString& key);
std::optional<SpeedUnit> speedUnitNamed(const QString& key);
// The keys, "mNm|Nm|oz-in|kgf-cm", for help texts and complaints.
QString torqueUnitKeys();
QString powerUnitKeys();
QString speedUnitKeys();

struct DisplayUnits {
    TorqueUnit torque = TorqueUnit::MilliNewtonMetre;
    PowerUnit power = PowerUnit::Watt;
    SpeedUnit speed = SpeedUnit::Rpm;

    const DisplayUnit& torqueUnit() const { return unitOf(torque); }
    const DisplayUnit& powerUnit() const { return unitOf(power); }
    const DisplayUnit& speedUnit() const { return unitOf(speed); }

    friend bool operator==(const DisplayUnits&, const DisplayUnits&) = default;
};

// The unit a figure written in `ownUnit` (as figureRows() names it: "mN·m",
// "mN·m/A", "W", "RPM") is shown in, and its name ("oz·in/A"); no unit for
// one that is not converted.
struct ShownUnit {
    const DisplayUnit* unit = nullptr;
    QString name;
};
ShownUnit shownUnitOf(const QString& ownUnit, const DisplayUnits& units);

// A row of figureRows() in `units`: torques (and Kt's torque per ampere),
// powers and speeds converted, with their names and the decimals that keep
// the row's precision. Kv stays in RPM/V, the unit of every nameplate.
FigureRow shownRow(const FigureRow& row, const DisplayUnits& units);
std::vector<FigureRow> shownRows(const std::vector<FigureRow>& rows, const DisplayUnits& units);

// summaryTable() with its figures in `units`.
QString summaryTable(const MotorFigures& m, const DisplayUnits& units);

} // namespace zelvar::curves
