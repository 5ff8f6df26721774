// The units numbers are shown in: each unit's factor against its known
// definition, the round trip from a shown number back to the program's unit
// to the precision of the digits printed, and the figures' rows in them.

#include "curves/DisplayUnits.h"

#include "CaseNames.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <string>

namespace {

using namespace zelvar::curves;

struct UnitCase {
    const char* name;
    const DisplayUnit& unit;
    double ownPerUnit; // one of the unit in the program's unit, by its definition
    int ownDecimals;   // the decimals the program prints its own unit to
    const char* key;
    const char* shownName;
};

void PrintTo(const UnitCase& c, std::ostream* os)
{
    *os << c.name;
}

class DisplayUnitOf : public testing::TestWithParam<UnitCase> {};

TEST_P(DisplayUnitOf, ConvertsByItsDefinitionAndIsNamedByItsKey)
{
    const UnitCase& c = GetParam();
    EXPECT_NEAR(c.unit.toOwn(1.0), c.ownPerUnit, 1e-9 * c.ownPerUnit);
    EXPECT_EQ(c.unit.key, c.key);
    EXPECT_EQ(c.unit.name, QString::fromUtf8(c.shownName));
}

// A number shown in the unit, read back and converted to the program's unit,
// is the number the program shows to its printed digits: within half its
// last digit. And the unit prints no more digits than that needs: its last
// digit is worth more than a tenth of the program's.
TEST_P(DisplayUnitOf, ConvertingAndBackGivesTheNumberShownToItsPrintedDigits)
{
    const UnitCase& c = GetParam();
    const double ownStep = std::pow(10.0, -c.ownDecimals);
    const double unitStep = c.unit.toOwn(std::pow(10.0, -(c.ownDecimals + c.unit.extraDecimals)));
    EXPECT_LE(unitStep, ownStep * (1 + 1e-12)) << "the unit's last digit is worth no more than the program's";
    EXPECT_GT(unitStep, ownStep / 10) << "nor needlessly less";
    for (const double own :
         {0.0, 0.004, 0.5, 1.05, 7.0615, 23.45, 98.0665, 339.9, 745.7, 1234.5678, 29843.0, 104719.7}) {
        const QString shown = c.unit.text(own, c.ownDecimals);
        bool ok = false;
        const double back = c.unit.toOwn(QLocale::c().toDouble(shown, &ok));
        ASSERT_TRUE(ok) << shown.toStdString();
        EXPECT_LE(std::abs(back - own), ownStep / 2 * (1 + 1e-9))
            << own << " shown as " << shown.toStdString() << " " << c.unit.name.toStdString() << " reads back as "
            << back;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Units, DisplayUnitOf,
    testing::Values(UnitCase{"MilliNewtonMetre", unitOf(TorqueUnit::MilliNewtonMetre), 1.0, 1, "mNm", "mN·m"},
                    UnitCase{"NewtonMetre", unitOf(TorqueUnit::NewtonMetre), 1000.0, 1, "Nm", "N·m"},
                    // 1 ozf = 0.028349523125 kg × 9.80665 m/s², 1 in = 25.4 mm
                    UnitCase{"OunceInch", unitOf(TorqueUnit::OunceInch), 7.061551814, 1, "oz-in", "oz·in"},
                    UnitCase{"KilogramForceCentimetre", unitOf(TorqueUnit::KilogramForceCentimetre), 98.0665, 1,
                             "kgf-cm", "kgf·cm"},
                    UnitCase{"KtInOunceInchPerAmpere", unitOf(TorqueUnit::OunceInch), 7.061551814, 3, "oz-in", "oz·in"},
                    UnitCase{"Watt", unitOf(PowerUnit::Watt), 1.0, 2, "W", "W"},
                    UnitCase{"Horsepower", unitOf(PowerUnit::Horsepower), 745.699872, 2, "hp", "hp"},
                    UnitCase{"Rpm", unitOf(SpeedUnit::Rpm), 1.0, 0, "rpm", "RPM"},
                    UnitCase{"RadianPerSecond", unitOf(SpeedUnit::RadianPerSecond), 60 / (2 * 3.14159265358979), 0,
                             "rad/s", "rad/s"}),
    zelvar::testing_support::CaseName());

TEST(DisplayUnits, KeysNameTheirUnitsAndNothingElse)
{
    EXPECT_EQ(torqueUnitKeys(), "mNm|Nm|oz-in|kgf-cm");
    EXPECT_EQ(powerUnitKeys(), "W|hp");
    EXPECT_EQ(speedUnitKeys(), "rpm|rad/s");
    for (const TorqueUnit u : kTorqueUnits)
        EXPECT_EQ(torqueUnitNamed(unitOf(u).key), u) << unitOf(u).key.toStdString();
    for (const PowerUnit u : kPowerUnits)
        EXPECT_EQ(powerUnitNamed(unitOf(u).key), u) << unitOf(u).key.toStdString();
    for (const SpeedUnit u : kSpeedUnits)
        EXPECT_EQ(speedUnitNamed(unitOf(u).key), u) << unitOf(u).key.toStdString();
    for (const char* bad : {"", "mnm", "N m", "lbf-ft", "kW", "RPM", "rad"}) {
        EXPECT_FALSE(torqueUnitNamed(bad) || powerUnitNamed(bad) || speedUnitNamed(bad)) << bad;
    }
}

// The figures' rows in other units: torques (and Kt's per ampere), powers
// and speeds converted with their ±, Kv, R, I0 and the efficiency as they
// were; in the program's own units the rows are untouched.
TEST(DisplayUnits, FigureRowsConvertTorquePowerAndSpeedAndLeaveTheRest)
{
    MotorFigures m;
    m.kv = {2501.3, 1.2, {}};
    m.resistance = {0.1012, 0.0003, {}};
    m.noLoadCurrent = {0.512, 0.004, {}};
    m.kt = {3.818, 0.002, {}};
    m.peakTorque = {433.2, 0.8, {}};
    m.peakTorqueRpm = {600, 90, {}};
    m.peakPower = {339.91, 0.12, {}};
    m.peakPowerRpm = {15020, 40, {}};
    m.peakEfficiency = {83.1, 0.2, {}};
    m.peakEfficiencyRpm = {26500, 60, {}};
    const std::vector<FigureRow> own = figureRows(m);
    const std::vector<FigureRow> same = shownRows(own, DisplayUnits{});
    for (std::size_t r = 0; r < own.size(); ++r)
        EXPECT_EQ(std::make_tuple(same[r].unit, same[r].text.value, same[r].text.sigma),
                  std::make_tuple(own[r].unit, own[r].text.value, own[r].text.sigma))
            << own[r].name.toStdString();

    const DisplayUnits units{TorqueUnit::OunceInch, PowerUnit::Horsepower, SpeedUnit::RadianPerSecond};
    const std::vector<FigureRow> shown = shownRows(own, units);
    const struct {
        const char* unit;
        double factor; // shown per own
    } expected[] = {{"RPM/V", 1},
                    {"ohm", 1},
                    {"A", 1},
                    {"oz·in/A", 1 / 7.061551814},
                    {"oz·in", 1 / 7.061551814},
                    {"rad/s", 2 * 3.14159265358979 / 60},
                    {"hp", 1 / 745.699872},
                    {"rad/s", 2 * 3.14159265358979 / 60},
                    {"%", 1},
                    {"rad/s", 2 * 3.14159265358979 / 60}};
    ASSERT_EQ(shown.size(), std::size(expected));
    for (std::size_t r = 0; r < shown.size(); ++r) {
        SCOPED_TRACE(own[r].name.toStdString() + " in " + expected[r].unit);
        EXPECT_EQ(shown[r].unit, QString::fromUtf8(expected[r].unit));
        EXPECT_NEAR(shown[r].figure.value, own[r].figure.value * expected[r].factor, 1e-9 * own[r].figure.value);
        EXPECT_NEAR(shown[r].figure.sigma, own[r].figure.sigma * expected[r].factor, 1e-9 * own[r].figure.sigma);
        // The shown value is the figure to the digits its ± supports.
        const QString& value = shown[r].text.value;
        const int decimals = value.contains('.') ? static_cast<int>(value.size() - value.indexOf('.') - 1) : 0;
        const double step = std::pow(10.0, -decimals);
        EXPECT_NEAR(shown[r].text.value.toDouble(), shown[r].figure.value, step / 2 * (1 + 1e-9))
            << shown[r].text.value.toStdString();
    }
    EXPECT_EQ(shown[4].text.value, "61.35") << "433.2 ± 0.8 mN·m";
    EXPECT_EQ(shown[4].text.sigma, "± 0.11");
    EXPECT_EQ(shown[6].text.value + " " + shown[6].text.sigma, "0.45583 ± 0.00016") << "339.91 ± 0.12 W";

    const QString table = summaryTable(m, units);
    EXPECT_TRUE(table.contains("61.35 ± 0.11 oz·in")) << table.toStdString();
    EXPECT_TRUE(table.contains("2501.3 ± 1.2 RPM/V")) << table.toStdString();
    EXPECT_EQ(summaryTable(m, DisplayUnits{}), summaryTable(m));
}

} // namespace
