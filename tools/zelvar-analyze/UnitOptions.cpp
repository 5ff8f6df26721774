#include "UnitOptions.h"

namespace zelvar::analyze {

namespace {

const QString kTorque = QStringLiteral("torque-unit");
const QString kPower = QStringLiteral("power-unit");
const QString kSpeed = QStringLiteral("speed-unit");

// The unit named by the option's value, or the complaint.
template <class Unit>
bool read(const QCommandLineParser& parser, const QString& option, std::optional<Unit> (*named)(const QString&),
          const QString& keys, Unit& unit, QString& failure)
{
    if (!parser.isSet(option))
        return true;
    const QString value = parser.value(option);
    if (const std::optional<Unit> found = named(value)) {
        unit = *found;
        return true;
    }
    failure = QStringLiteral("--%1: \"%2\" is none of %3").arg(option, value, keys);
    return false;
}

} // namespace

QList<QCommandLineOption> unitOptions()
{
    return {
        QCommandLineOption(kTorque,
                           QStringLiteral("The torque unit of the printed summary, the charts and the sheet: %1 "
                                          "(default: mNm). The files keep mN·m.")
                               .arg(curves::torqueUnitKeys()),
                           QStringLiteral("UNIT")),
        QCommandLineOption(kPower,
                           QStringLiteral("The power unit of the same: %1, mechanical horsepower (default: W).")
                               .arg(curves::powerUnitKeys()),
                           QStringLiteral("UNIT")),
        QCommandLineOption(kSpeed,
                           QStringLiteral("The speed unit of the same: %1 (default: rpm). Kv stays in RPM/V.")
                               .arg(curves::speedUnitKeys()),
                           QStringLiteral("UNIT")),
    };
}

std::optional<curves::DisplayUnits> chosenUnits(const QCommandLineParser& parser, QString& failure)
{
    curves::DisplayUnits units;
    if (read(parser, kTorque, &curves::torqueUnitNamed, curves::torqueUnitKeys(), units.torque, failure)
        && read(parser, kPower, &curves::powerUnitNamed, curves::powerUnitKeys(), units.power, failure)
        && read(parser, kSpeed, &curves::speedUnitNamed, curves::speedUnitKeys(), units.speed, failure))
        return units;
    return std::nullopt;
}

} // namespace zelvar::analyze
