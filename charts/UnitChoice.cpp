#include "charts/UnitChoice.h"

#include "platform/Settings.h"

#include <QActionGroup>
#include <QMenu>

namespace zelvar::charts {

namespace {

curves::DisplayUnits& chosen()
{
    static curves::DisplayUnits units;
    return units;
}

constexpr const char* kTorqueKey = "units/torque";
constexpr const char* kPowerKey = "units/power";
constexpr const char* kSpeedKey = "units/speed";

} // namespace

const curves::DisplayUnits& shownUnits()
{
    return chosen();
}

void setShownUnits(const curves::DisplayUnits& units)
{
    chosen() = units;
}

std::vector<curves::FigureRow> shownFigureRows(const curves::MotorFigures& figures)
{
    return curves::shownRows(curves::figureRows(figures), shownUnits());
}

std::vector<sets::FigureRowSpread> shownSpreads(const std::vector<curves::MotorFigures>& runs)
{
    // The spread is taken in the program's units; a unit is a factor, so the
    // mean, the deviation and the range scale with it, and the mean is
    // written to the digits of the row it stands beside.
    std::vector<sets::FigureRowSpread> shown = sets::figureSpreads(runs);
    const std::vector<curves::FigureRow> own = curves::figureRows({});
    for (std::size_t r = 0; r < shown.size() && r < own.size(); ++r) {
        const curves::ShownUnit unit = curves::shownUnitOf(own[r].unit, shownUnits());
        if (unit.unit == nullptr)
            continue;
        sets::FigureRowSpread& row = shown[r];
        row.unit = unit.name;
        if (!row.spread)
            continue;
        sets::Spread& spread = *row.spread;
        spread.mean = unit.unit->fromOwn(spread.mean);
        spread.lowest = unit.unit->fromOwn(spread.lowest);
        spread.highest = unit.unit->fromOwn(spread.highest);
        if (spread.standardDeviation) {
            spread.standardDeviation = unit.unit->fromOwn(*spread.standardDeviation);
            row.text = curves::figureText({spread.mean, *spread.standardDeviation, {}},
                                          own[r].decimals + unit.unit->extraDecimals);
        } else {
            // One run gives the figure: it stands with its own ±.
            for (const curves::MotorFigures& run : runs) {
                const curves::FigureRow one = curves::shownRow(curves::figureRows(run)[r], shownUnits());
                if (one.figure.known())
                    row.text = one.text;
            }
        }
    }
    return shown;
}

curves::DisplayUnits readUnitSetting()
{
    const QSettings settings = settings::open();
    const auto key = [&](const char* name) { return settings.value(QString::fromLatin1(name)).toString(); };
    curves::DisplayUnits units;
    units.torque = curves::torqueUnitNamed(key(kTorqueKey)).value_or(units.torque);
    units.power = curves::powerUnitNamed(key(kPowerKey)).value_or(units.power);
    units.speed = curves::speedUnitNamed(key(kSpeedKey)).value_or(units.speed);
    return units;
}

bool writeUnitSetting(const curves::DisplayUnits& units)
{
    QSettings settings = settings::open();
    settings.setValue(QString::fromLatin1(kTorqueKey), units.torqueUnit().key);
    settings.setValue(QString::fromLatin1(kPowerKey), units.powerUnit().key);
    settings.setValue(QString::fromLatin1(kSpeedKey), units.speedUnit().key);
    return settings::save(settings);
}

namespace {

// One exclusive group of a quantity's units in `menu`; `set` puts a unit of
// it into a choice.
template <class Unit, std::size_t N>
void addGroup(QMenu* menu, const QString& title, const Unit (&all)[N], Unit current,
              std::function<void(curves::DisplayUnits&, Unit)> set, const std::function<void()>& changed)
{
    menu->addSection(title);
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    for (const Unit unit : all) {
        QAction* action = menu->addAction(curves::unitOf(unit).name);
        action->setObjectName(QStringLiteral("Unit_%1").arg(curves::unitOf(unit).key));
        action->setCheckable(true);
        action->setChecked(unit == current);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, menu, [unit, set, changed] {
            curves::DisplayUnits units = shownUnits();
            set(units, unit);
            setShownUnits(units);
            writeUnitSetting(units);
            changed();
        });
    }
}

} // namespace

QMenu* makeUnitsMenu(QWidget* parent, std::function<void()> changed)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("UnitsMenu"));
    const curves::DisplayUnits& units = shownUnits();
    addGroup<curves::TorqueUnit>(
        menu, QStringLiteral("Torque"), curves::kTorqueUnits, units.torque,
        [](curves::DisplayUnits& u, curves::TorqueUnit t) { u.torque = t; }, changed);
    addGroup<curves::PowerUnit>(
        menu, QStringLiteral("Power"), curves::kPowerUnits, units.power,
        [](curves::DisplayUnits& u, curves::PowerUnit p) { u.power = p; }, changed);
    addGroup<curves::SpeedUnit>(
        menu, QStringLiteral("Speed"), curves::kSpeedUnits, units.speed,
        [](curves::DisplayUnits& u, curves::SpeedUnit v) { u.speed = v; }, changed);
    return menu;
}

} // namespace zelvar::charts
