#include "sets/MotorMap.h"

#include <gtest/gtest.h>

#include <QList>

#include <cmath>
#include <numbers>

namespace {

using namespace zelvar;
using sets::motorMap;
using sets::MotorMap;
using sets::SweepSpinUp;

// The simulated motor, written out as dyno-sim's model computes it: back-EMF
// Kt·ω, current from the supply through both resistances.
struct Motor {
    double kv = 2500, r = 0.1, i0 = 0.5, rs = 0.005;

    double kt() const { return 60.0 / (2 * std::numbers::pi * kv); }
    double omega(double rpm) const { return rpm * 2 * std::numbers::pi / 60.0; }
    double currentAt(double supply, double rpm) const { return (supply - kt() * omega(rpm)) / (r + rs); }
    double torqueMnm(double supply, double rpm) const { return 1000 * kt() * (currentAt(supply, rpm) - i0); }
    // Shaft power over terminal power at a speed and shaft torque.
    double efficiency(double rpm, double torqueMnm) const
    {
        const double current = torqueMnm / 1000 / kt() + i0;
        const double terminal = current * r + kt() * omega(rpm);
        return 100 * torqueMnm / 1000 * omega(rpm) / (terminal * current);
    }
};

// A spin-up of `motor` at `supply` up to `topRpm`, as measureMotor() would
// give it with its figures known to `sigma` of their value.
SweepSpinUp spinUp(const Motor& motor, double supply, double topRpm, const QString& run = QStringLiteral("run"),
                   double sigma = 1e-3)
{
    SweepSpinUp s;
    s.run = run;
    s.spinUps = 1;
    s.supply = supply;
    curves::MotorFigures& f = s.figures;
    f.kv = {motor.kv, sigma * motor.kv, {}};
    f.resistance = {motor.r, sigma * motor.r, {}};
    f.noLoadCurrent = {motor.i0, sigma * motor.i0, {}};
    f.supplyResistance = {motor.rs, sigma * motor.rs, {}};
    f.supplyVoltage = {supply, 0.01, {}};
    for (int k = 0; k <= 200; ++k) {
        curves::CorrectedPoint p;
        p.rpm = 50 + (topRpm - 50) * k / 200.0;
        p.correctedTorque = p.torque = motor.torqueMnm(supply, p.rpm);
        p.current = motor.currentAt(supply, p.rpm);
        p.efficiency = motor.efficiency(p.rpm, p.correctedTorque);
        f.curve.push_back(p);
    }
    return s;
}

// Most of the way to each supply's no-load speed, as a spin-up of five time
// constants gets.
double topOf(const Motor& m, double supply)
{
    return 0.97 * m.kv * (supply - m.i0 * (m.r + m.rs));
}

std::vector<SweepSpinUp> sweepOf(const Motor& m, std::initializer_list<double> supplies)
{
    std::vector<SweepSpinUp> sweep;
    for (double v : supplies)
        sweep.push_back(spinUp(m, v, topOf(m, v), QStringLiteral("run %1 V").arg(v)));
    return sweep;
}

TEST(MotorModel, EfficiencyIsTheSimulatedMotorsAtEverySpeedAndTorque)
{
    const Motor truth;
    const sets::MotorModel model{truth.kv, truth.r, truth.i0, truth.rs};
    for (double rpm : {1000.0, 12000.0, 25000.0, 38000.0}) {
        for (double torque : {2.0, 20.0, 80.0, 300.0})
            EXPECT_NEAR(model.efficiency(rpm, torque), truth.efficiency(rpm, torque), 1e-9)
                << rpm << " RPM, " << torque << " mN·m";
    }
    EXPECT_EQ(model.efficiency(20000, 0), 0.0) << "no torque, no efficiency";
    EXPECT_EQ(model.efficiency(0, 50), 0.0) << "at standstill nothing is done";
    // The line of a supply and the supply of a point are each other's inverse.
    EXPECT_NEAR(model.torqueOnLine(12, 20000), truth.torqueMnm(12, 20000), 1e-9);
    EXPECT_NEAR(model.supplyFor(20000, model.torqueOnLine(12, 20000)), 12.0, 1e-12);
}

TEST(BestOnLine, IsWhereTheCurrentIsTheRootOfNoLoadTimesStall)
{
    // Without the supply's resistance the best efficiency of a DC motor is
    // at I = sqrt(I0 · V/R).
    Motor m;
    m.rs = 0;
    const sets::MotorModel model{m.kv, m.r, m.i0, 0.0};
    for (double supply : {8.0, 12.0, 16.0}) {
        const double current = std::sqrt(m.i0 * supply / m.r);
        const double rpm = m.kv * (supply - current * m.r);
        const sets::BestPoint best = sets::bestOnLine(model, supply, 0, m.kv * supply);
        EXPECT_NEAR(best.rpm, rpm, 0.002 * m.kv * supply) << supply << " V";
        EXPECT_NEAR(best.efficiency, m.efficiency(rpm, m.torqueMnm(supply, rpm)), 0.01) << supply << " V";
        EXPECT_NEAR(best.torqueMnm, m.torqueMnm(supply, best.rpm), 1e-9);
    }
    // Held to the speeds measured, the best is at the end nearest it.
    const sets::BestPoint low = sets::bestOnLine(model, 12, 0, 10000);
    EXPECT_DOUBLE_EQ(low.rpm, 10000);
}

TEST(MotorMapOfASweep, GivesTheModelsEfficiencyBetweenTheSuppliesAndNothingBeyond)
{
    const Motor m;
    const MotorMap map = motorMap(sweepOf(m, {8, 12, 16}));
    ASSERT_TRUE(map.drawn()) << map.refused.toStdString();
    ASSERT_EQ(map.supplies.size(), 3u);
    EXPECT_EQ(map.lines.size(), 3u);
    EXPECT_TRUE(map.leftOut.isEmpty());
    EXPECT_NEAR(map.model.kv, m.kv, 1e-6);

    const sets::Grid& g = map.grid;
    ASSERT_EQ(g.values.size(), g.columns() * g.rows());
    std::size_t inside = 0;
    for (std::size_t r = 0; r < g.rows(); ++r) {
        for (std::size_t c = 0; c < g.columns(); ++c) {
            const double rpm = g.x[c], torque = g.y[r], e = g.at(c, r);
            const double supply = (torque / 1000 / m.kt() + m.i0) * (m.r + m.rs) + rpm / m.kv;
            if (supply < 8 - 1e-6 || supply > 16 + 1e-6) {
                EXPECT_TRUE(std::isnan(e)) << "beyond the supplies at " << rpm << " RPM, " << torque << " mN·m ("
                                           << supply << " V) the map has " << e;
                continue;
            }
            if (std::isnan(e))
                continue;
            ++inside;
            EXPECT_NEAR(e, m.efficiency(rpm, torque), 1e-6) << rpm << " RPM, " << torque << " mN·m";
        }
    }
    EXPECT_GT(inside, g.values.size() / 5) << "the band between 8 V and 16 V is a good share of the plane";
    // Between the lines, well inside their speeds: on the map.
    EXPECT_TRUE(map.covers(20000, m.torqueMnm(10, 20000)));
    EXPECT_TRUE(map.covers(30000, m.torqueMnm(14, 30000)));
    EXPECT_FALSE(map.covers(30000, m.torqueMnm(17, 30000))) << "above the highest supply";
    EXPECT_FALSE(map.covers(10000, m.torqueMnm(7, 10000))) << "below the lowest supply";
    EXPECT_FALSE(map.covers(30, m.torqueMnm(12, 30))) << "below the speed the spin-ups start at";
    EXPECT_FALSE(map.covers(topOf(m, 12) + 500, m.torqueMnm(12, topOf(m, 12) + 500)))
        << "past the top speed the 12 V spin-up reached";
}

TEST(MotorMapOfASweep, HasContoursAtTheirLevelAndABestPointPerSupply)
{
    const Motor m;
    const MotorMap map = motorMap(sweepOf(m, {8, 12, 16}));
    ASSERT_TRUE(map.drawn());
    ASSERT_FALSE(map.contours.empty());
    QList<double> levels;
    for (const sets::ContourLine& line : map.contours) {
        if (!levels.contains(line.level))
            levels << line.level;
        for (const sets::ContourPoint& p : line.points)
            EXPECT_NEAR(m.efficiency(p.x, p.y), line.level, 1.0) << "level " << line.level << " at " << p.x << " RPM";
    }
    EXPECT_GE(levels.size(), 4) << "a map of a good motor spans several 5 % steps";
    for (const sets::SupplyLevel& level : map.supplies) {
        const sets::BestPoint truth = sets::bestOnLine({m.kv, m.r, m.i0, m.rs}, level.supply, 50,
                                                       topOf(m, level.supply));
        EXPECT_NEAR(level.best.rpm, truth.rpm, 1.0) << level.supply << " V";
        EXPECT_NEAR(level.best.efficiency, truth.efficiency, 1e-9) << level.supply << " V";
    }
    const QStringList best = bestPointLines(map);
    ASSERT_EQ(best.size(), 3);
    EXPECT_TRUE(best[0].startsWith(QStringLiteral("8.00 V: "))) << best[0].toStdString();
    EXPECT_TRUE(best[2].endsWith(QStringLiteral("(1 spin-up)"))) << best[2].toStdString();
}

TEST(MotorMapOfASweep, TakesSpinUpsAtOneSupplyTogetherAndWeighsTheirFigures)
{
    Motor m;
    std::vector<SweepSpinUp> sweep = sweepOf(m, {12, 12.1, 16});
    // A spin-up measured badly counts for little.
    Motor off = m;
    off.kv = 2700;
    sweep.push_back(spinUp(off, 16.05, topOf(m, 16), QStringLiteral("noisy"), 0.05));
    const MotorMap map = motorMap(sweep);
    ASSERT_TRUE(map.drawn()) << map.refused.toStdString();
    ASSERT_EQ(map.supplies.size(), 2u);
    EXPECT_EQ(map.supplies[0].spinUps, 2u);
    EXPECT_NEAR(map.supplies[0].supply, 12.05, 1e-9);
    EXPECT_EQ(map.supplies[1].spinUps, 2u);
    EXPECT_EQ(map.lines.size(), 4u);
    EXPECT_NEAR(map.model.kv, m.kv, 1.0) << "the noisy spin-up weighs 1/2500 of the others";
}

TEST(MotorMapOfASweep, RefusesFewerThanTwoSuppliesWithAMessage)
{
    const Motor m;
    for (const std::vector<double>& supplies : {std::vector<double>{12}, std::vector<double>{12, 12.1, 11.95}}) {
        std::vector<SweepSpinUp> sweep;
        for (double v : supplies)
            sweep.push_back(spinUp(m, v, topOf(m, v)));
        const MotorMap map = motorMap(sweep);
        EXPECT_FALSE(map.drawn());
        EXPECT_TRUE(map.refused.contains(QStringLiteral("two supply voltages"))) << map.refused.toStdString();
        EXPECT_TRUE(map.grid.values.empty());
        EXPECT_EQ(sets::mapCsv(map), QByteArray("rpm,torque_mNm,efficiency_pct\r\n"));
    }
    EXPECT_EQ(motorMap({}).refused, QStringLiteral("no spin-up in the runs"));
}

TEST(MotorMapOfASweep, LeavesOutSpinUpsWithoutFiguresOrSupplyAndSaysWhy)
{
    const Motor m;
    std::vector<SweepSpinUp> sweep = sweepOf(m, {8, 16});
    SweepSpinUp noKv = spinUp(m, 12, topOf(m, 12), QStringLiteral("flat"));
    noKv.figures.kv.refused = QStringLiteral("the current never changes");
    SweepSpinUp noSupply = spinUp(m, 12, topOf(m, 12), QStringLiteral("dark"));
    noSupply.supply.reset();
    noSupply.supplyNote = QStringLiteral("the records show no supply voltage");
    sweep.push_back(noKv);
    sweep.push_back(noSupply);
    const MotorMap map = motorMap(sweep);
    EXPECT_TRUE(map.drawn());
    EXPECT_EQ(map.supplies.size(), 2u);
    EXPECT_EQ(map.leftOut, QStringList({QStringLiteral("flat: the current never changes"),
                                        QStringLiteral("dark: the records show no supply voltage")}));

    std::vector<SweepSpinUp> none{noKv};
    EXPECT_EQ(motorMap(none).refused, QStringLiteral("no spin-up gives the motor's figures"));
}

TEST(MapCsv, HasARowPerGridPointAndEmptyEfficiencyOutside)
{
    const Motor m;
    sets::MapSettings settings;
    settings.columns = 7;
    settings.rows = 5;
    const MotorMap map = motorMap(sweepOf(m, {8, 16}), settings);
    const QList<QByteArray> lines = sets::mapCsv(map).split('\n');
    ASSERT_EQ(lines.size(), 7 * 5 + 2) << "header, 35 rows, and nothing after the last line's end";
    EXPECT_EQ(lines.front(), "rpm,torque_mNm,efficiency_pct\r");
    EXPECT_TRUE(lines.back().isEmpty());
    int empty = 0, full = 0;
    for (int k = 1; k <= 35; ++k) {
        const QList<QByteArray> f = lines[k].trimmed().split(',');
        ASSERT_EQ(f.size(), 3) << lines[k].toStdString();
        const std::size_t c = static_cast<std::size_t>((k - 1) / 5), r = static_cast<std::size_t>((k - 1) % 5);
        EXPECT_NEAR(f[0].toDouble(), map.grid.x[c], 0.05) << "RPM outer";
        EXPECT_NEAR(f[1].toDouble(), map.grid.y[r], 0.0005) << "torque inner";
        if (f[2].isEmpty()) {
            ++empty;
            EXPECT_TRUE(std::isnan(map.grid.at(c, r)));
        } else {
            ++full;
            EXPECT_NEAR(f[2].toDouble(), map.grid.at(c, r), 0.005);
        }
    }
    EXPECT_GT(empty, 0);
    EXPECT_GT(full, 0);
}

struct SupplyCase {
    const char* name;
    curves::ReportPoint first;
    bool fitted;
    double expected; // NAN: none
};

TEST(StartSupply, IsTheOpenSupplyShownAtTheStartElseTheFittedOne)
{
    curves::MotorFigures f;
    f.supplyVoltage = {11.93, 0.01, {}};
    const SupplyCase cases[] = {
        {"OpenSupplyBeforeTheMotorDraws", {0.0, 12.4, 0.0, 0.0}, true, 12.4},
        {"ZeroVoltsAtStandstill", {0.0, 0.0, 0.0, 0.0}, true, 11.93},
        {"AlreadyDrawing", {0.0, 11.2, 40.0, 0.0}, true, 11.93},
        {"NeitherKnown", {0.0, 0.0, 0.0, 0.0}, false, NAN},
    };
    for (const SupplyCase& c : cases) {
        curves::MotorFigures figures = f;
        if (!c.fitted)
            figures.supplyVoltage = {0, 0, QStringLiteral("the voltage against the current fixes no supply")};
        QString note;
        const std::optional<double> supply = sets::startSupply({c.first}, figures, note);
        if (std::isnan(c.expected)) {
            EXPECT_FALSE(supply.has_value()) << c.name;
            EXPECT_EQ(note, figures.supplyVoltage.refused) << c.name;
        } else {
            ASSERT_TRUE(supply.has_value()) << c.name;
            EXPECT_DOUBLE_EQ(*supply, c.expected) << c.name;
            EXPECT_FALSE(note.isEmpty()) << c.name;
        }
    }
}

} // namespace
