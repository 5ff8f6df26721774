#include "curves/DisplayUnits.h"

#include "curves/Units.h"

#include <QLocale>
#include <QStringList>

namespace zelvar::curves {

namespace {

// 1 oz·in = 0.028349523125 kg · 9.80665 m/s² · 0.0254 m; 1 kgf·cm =
// 9.80665 N · 0.01 m; mechanical horsepower, 550 ft·lbf/s.
constexpr double kMnmPerOunceInch = 0.028349523125 * 9.80665 * 0.0254 * kMnmPerNm;
constexpr double kMnmPerKgfCm = 9.80665 * 0.01 * kMnmPerNm;
constexpr double kWattsPerHorsepower = 745.699872;

const DisplayUnit& torque(TorqueUnit unit)
{
    static const DisplayUnit units[] = {
        {QStringLiteral("mNm"), QStringLiteral("mN·m"), 1.0, 0},
        {QStringLiteral("Nm"), QStringLiteral("N·m"), 1.0 / kMnmPerNm, 3},
        {QStringLiteral("oz-in"), QStringLiteral("oz·in"), 1.0 / kMnmPerOunceInch, 1},
        {QStringLiteral("kgf-cm"), QStringLiteral("kgf·cm"), 1.0 / kMnmPerKgfCm, 2},
    };
    return units[static_cast<int>(unit)];
}

template <class Unit, std::size_t N>
std::optional<Unit> named(const Unit (&all)[N], const QString& key)
{
    for (const Unit unit : all)
        if (unitOf(unit).key == key)
            return unit;
    return std::nullopt;
}

template <class Unit, std::size_t N>
QString keys(const Unit (&all)[N])
{
    QStringList list;
    for (const Unit unit : all)
        list << unitOf(unit).key;
    return list.join(QLatin1Char('|'));
}

} // namespace

QString DisplayUnit::text(double own, int ownDecimals) const
{
    return QLocale::c().toString(fromOwn(own), 'f', ownDecimals + extraDecimals);
}

const DisplayUnit& unitOf(TorqueUnit unit)
{
    return torque(unit);
}

const DisplayUnit& unitOf(PowerUnit unit)
{
    static const DisplayUnit units[] = {
        {QStringLiteral("W"), QStringLiteral("W"), 1.0, 0},
        {QStringLiteral("hp"), QStringLiteral("hp"), 1.0 / kWattsPerHorsepower, 3},
    };
    return units[static_cast<int>(unit)];
}

const DisplayUnit& unitOf(SpeedUnit unit)
{
    static const DisplayUnit units[] = {
        {QStringLiteral("rpm"), QStringLiteral("RPM"), 1.0, 0},
        {QStringLiteral("rad/s"), QStringLiteral("rad/s"), kRadPerSecondPerRpm, 1},
    };
    return units[static_cast<int>(unit)];
}

std::optional<TorqueUnit> torqueUnitNamed(const QString& key)
{
    return named(kTorqueUnits, key);
}
std::optional<PowerUnit> powerUnitNamed(const QString& key)
{
    return named(kPowerUnits, key);
}
std::optional<SpeedUnit> speedUnitNamed(const QString& key)
{
    return named(kSpeedUnits, key);
}
QString torqueUnitKeys()
{
    return keys(kTorqueUnits);
}
QString powerUnitKeys()
{
    return keys(kPowerUnits);
}
QString speedUnitKeys()
{
    return keys(kSpeedUnits);
}

ShownUnit shownUnitOf(const QString& ownUnit, const DisplayUnits& units)
{
    const DisplayUnit* unit = nullptr;
    QString suffix;
    if (ownUnit == QStringLiteral("mN·m")) {
        unit = &units.torqueUnit();
    } else if (ownUnit == QStringLiteral("mN·m/A")) {
        unit = &units.torqueUnit();
        suffix = QStringLiteral("/A");
    } else if (ownUnit == QStringLiteral("W")) {
        unit = &units.powerUnit();
    } else if (ownUnit == QStringLiteral("RPM")) {
        unit = &units.speedUnit();
    }
    // The program's own unit is no conversion.
    if (unit == nullptr || (unit->perOwn == 1.0 && unit->extraDecimals == 0))
        return {};
    return {unit, unit->name + suffix};
}

FigureRow shownRow(const FigureRow& row, const DisplayUnits& units)
{
    const ShownUnit shownUnit = shownUnitOf(row.unit, units);
    const DisplayUnit* unit = shownUnit.unit;
    if (unit == nullptr)
        return row;
    FigureRow shown = row;
    shown.unit = shownUnit.name;
    shown.decimals = row.decimals + unit->extraDecimals;
    if (row.figure.known()) {
        shown.figure.value = unit->fromOwn(row.figure.value);
        shown.figure.sigma = unit->fromOwn(row.figure.sigma);
    }
    shown.text = figureText(shown.figure, shown.decimals);
    return shown;
}

std::vector<FigureRow> shownRows(const std::vector<FigureRow>& rows, const DisplayUnits& units)
{
    std::vector<FigureRow> shown;
    shown.reserve(rows.size());
    for (const FigureRow& row : rows)
        shown.push_back(shownRow(row, units));
    return shown;
}

} // namespace zelvar::curves
