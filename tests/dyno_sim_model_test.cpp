// The simulated dyno's physics and frames: the motor model against the
// closed-form behaviour of a DC motor, the run schedule, and the frames the
// controller builds from the model's values.

#include "link/TelemetryFrame.h"
#include "tools/dyno-sim/Dyno.h"
#include "tools/dyno-sim/FrameEncoder.h"
#include "tools/dyno-sim/MotorModel.h"
#include "tools/dyno-sim/WindingHeat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace zelvar::dynosim {
namespace {

struct Motor {
    const char* name;
    MotorParameters motor;
    Flywheel flywheel;
};

std::ostream& operator<<(std::ostream& os, const Motor& m)
{
    return os << m.name << " (Kv " << m.motor.kv << ", R " << m.motor.windingResistance << ", I0 "
              << m.motor.noLoadCurrent << ", V " << m.motor.supplyVoltage << ", Rs " << m.motor.supplyResistance
              << ", flywheel " << m.flywheel.radiusMm << " mm " << m.flywheel.weightG << " g)";
}

const Motor kMotors[] = {
    {"defaults", {}, {}},
    {"2S pack, slow motor, heavy flywheel", {1200, 0.25, 0.8, 7.4, 0.02}, {45, 600}},
    {"ideal supply", {3500, 0.05, 1.2, 11.1, 0.0}, {25, 150}},
    {"no losses in the motor", {2000, 0.2, 0.0, 8.0, 0.01}, {30, 240}},
};

// The textbook values, from the parameters alone.
double torqueConstant(const MotorParameters& m)
{
    return 60.0 / (2.0 * kPi * m.kv);
}
double totalResistance(const MotorParameters& m)
{
    return m.windingResistance + m.supplyResistance;
}
double inertia(const Flywheel& f)
{
    return (f.weightG / 1000.0) * (f.radiusMm / 1000.0) * (f.radiusMm / 1000.0) / 2.0;
}
double timeConstant(const Motor& m)
{
    const double kt = torqueConstant(m.motor);
    return inertia(m.flywheel) * totalResistance(m.motor) / (kt * kt);
}
double noLoadRpm(const MotorParameters& m)
{
    return m.kv * (m.supplyVoltage - m.noLoadCurrent * totalResistance(m));
}

class MotorPhysics : public testing::TestWithParam<Motor> {};

TEST_P(MotorPhysics, StallCurrentIsSupplyVoltageOverTheResistanceInTheLoop)
{
    const Motor& m = GetParam();
    const MotorModel model(m.motor, m.flywheel);
    const OperatingPoint p = model.operatingPoint(true);
    const double stall = m.motor.supplyVoltage / totalResistance(m.motor);
    EXPECT_NEAR(p.current, stall, 1e-9 * stall);
    EXPECT_NEAR(model.stallCurrent(), stall, 1e-9 * stall);
    EXPECT_NEAR(p.terminalVoltage, m.motor.supplyVoltage - stall * m.motor.supplyResistance, 1e-9);
    EXPECT_NEAR(p.shaftTorque, torqueConstant(m.motor) * (stall - m.motor.noLoadCurrent), 1e-12);
    EXPECT_EQ(p.outputPower, 0.0);
}

TEST_P(MotorPhysics, SpeedSettlesAtKvTimesTheVoltageLeftAfterTheNoLoadLoss)
{
    const Motor& m = GetParam();
    MotorModel model(m.motor, m.flywheel);
    model.runPowered(25 * timeConstant(m));
    const double expected = noLoadRpm(m.motor);
    EXPECT_NEAR(model.rpm(), expected, 1e-6 * expected);
    EXPECT_NEAR(model.noLoadRpm(), expected, 1e-9 * expected);
    EXPECT_NEAR(model.operatingPoint(true).current, m.motor.noLoadCurrent, 1e-6);
    EXPECT_NEAR(model.operatingPoint(true).shaftTorque, 0.0, 1e-9);
}

TEST_P(MotorPhysics, SpinUpRisesExponentiallyWithTheMechanicalTimeConstant)
{
    const Motor& m = GetParam();
    const double tau = timeConstant(m);
    MotorModel model(m.motor, m.flywheel);
    EXPECT_NEAR(model.mechanicalTimeConstant(), tau, 1e-12 * tau);
    double t = 0.0;
    for (const double fraction : {0.1, 0.5, 1.0, 2.0, 4.0}) {
        model.runPowered(fraction * tau - t);
        t = fraction * tau;
        const double expected = noLoadRpm(m.motor) * (1.0 - std::exp(-t / tau));
        EXPECT_NEAR(model.rpm(), expected, 1e-7 * noLoadRpm(m.motor)) << "at t = " << fraction << " tau";
    }
}

TEST_P(MotorPhysics, EnergyDrawnEqualsKineticEnergyPlusLosses)
{
    const Motor& m = GetParam();
    MotorModel model(m.motor, m.flywheel);
    model.runPowered(3 * timeConstant(m));
    const EnergyLedger& e = model.energy();
    const double kinetic = inertia(m.flywheel) * model.speed() * model.speed() / 2.0;

    EXPECT_NEAR(e.shaft, kinetic, 1e-7 * kinetic);
    EXPECT_NEAR(e.input, kinetic + e.windingLoss + e.motorLoss, 1e-7 * e.input);
    EXPECT_NEAR(e.fromSupply, e.input + e.supplyLoss, 1e-9 * e.fromSupply);
    // From standstill to no-load an ideal motor turns as much energy into
    // heat in the resistances as it stores in the flywheel.
    if (m.motor.noLoadCurrent == 0.0) {
        model.runPowered(30 * timeConstant(m));
        const double stored = inertia(m.flywheel) * model.speed() * model.speed() / 2.0;
        EXPECT_NEAR(model.energy().windingLoss + model.energy().supplyLoss, stored, 1e-5 * stored);
    }
}

TEST_P(MotorPhysics, BrakeTakesTheFlywheelsEnergyAndStopsAtStandstill)
{
    const Motor& m = GetParam();
    MotorModel model(m.motor, m.flywheel);
    model.runPowered(timeConstant(m));
    const double kinetic = inertia(m.flywheel) * model.speed() * model.speed() / 2.0;
    const double rate = model.speed() / 0.5;
    model.brake(0.3, rate);
    EXPECT_NEAR(model.speed(), rate * 0.2, 1e-9 * rate);
    model.brake(0.3, rate);
    EXPECT_EQ(model.speed(), 0.0);
    EXPECT_NEAR(model.energy().brake, kinetic, 1e-9 * kinetic);
    EXPECT_EQ(model.operatingPoint(false).current, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Motors, MotorPhysics, testing::ValuesIn(kMotors),
                         [](const testing::TestParamInfo<Motor>& motor) {
                             return "Motor" + std::to_string(motor.index);
                         });

// The rig's losses, from the figures its owner measures: a friction and the
// windage's torque at 10000 RPM, in mN m.
struct Rig {
    const char* name;
    double frictionMnm;
    double windageMnm;
    Flywheel flywheel;
};

std::ostream& operator<<(std::ostream& os, const Rig& r)
{
    return os << r.name << " (friction " << r.frictionMnm << " mN m, windage " << r.windageMnm
              << " mN m at 10000 RPM, flywheel " << r.flywheel.radiusMm << " mm " << r.flywheel.weightG << " g)";
}

const Rig kRigs[] = {
    {"friction only", 20.0, 0.0, {}},
    {"windage only", 0.0, 25.0, {}},
    {"friction and windage", 5.0, 30.0, {}},
    {"heavy flywheel", 8.0, 60.0, {45, 600}},
};

constexpr double kRadPerRpm = 1.0 / kRpmPerRadPerSecond;

RigLosses lossesOf(const Rig& r)
{
    return RigLosses::fromMeasured(r.frictionMnm, r.windageMnm);
}

// T_loss at a turning speed, straight from the measured figures.
double lossMnm(const Rig& r, double rpm)
{
    return r.frictionMnm + r.windageMnm * (rpm / 10000) * (rpm / 10000);
}

// J dw/dt = -(c0 + c2 w^2) solved in closed form: the speed `t` seconds into
// a coast from `rpm0`, and 0 once the flywheel has stopped.
double coastRpm(const Rig& r, double rpm0, double t)
{
    const double j = inertia(r.flywheel);
    const double c0 = r.frictionMnm / 1000;
    const double c2 = r.windageMnm / 1000 / std::pow(10000 * kRadPerRpm, 2);
    const double w0 = rpm0 * kRadPerRpm;
    double w = 0;
    if (c2 == 0) {
        w = w0 - c0 * t / j;
    } else if (c0 == 0) {
        w = w0 / (1 + c2 * w0 * t / j);
    } else {
        const double a = std::sqrt(c0 / c2);
        const double angle = std::atan(w0 / a) - std::sqrt(c0 * c2) * t / j;
        w = angle > 0 ? a * std::tan(angle) : 0;
    }
    return std::max(w, 0.0) / kRadPerRpm;
}

// Spins up for 2 s, then coasts for `coastTicks`; the dyno at the coast's
// first tick.
Dyno coastingDyno(const Rig& r, int coastTicks)
{
    Dyno dyno({}, r.flywheel, RunSchedule{0, 200, 0, 1, coastTicks}, lossesOf(r));
    while (dyno.phase() != Phase::Coast)
        dyno.advance();
    return dyno;
}

class RigLossPhysics : public testing::TestWithParam<Rig> {};

TEST_P(RigLossPhysics, CoastDownFollowsTheClosedFormAndStopsWithoutTurningBack)
{
    const Rig& r = GetParam();
    Dyno dyno = coastingDyno(r, 2000);
    const int start = dyno.tick();
    const double rpm0 = dyno.state().rpm;
    ASSERT_GT(rpm0, 10000);
    int stoppedAt = -1;
    while (dyno.phase() == Phase::Coast) {
        const TickState s = dyno.state();
        const double t = (s.tick - start) * kTickSeconds;
        const double expected = coastRpm(r, rpm0, t);
        ASSERT_NEAR(s.rpm, expected, 1e-8 * rpm0) << "at " << t << " s of the coast from " << rpm0 << " RPM";
        ASSERT_GE(s.rpm, 0.0) << "at " << t << " s";
        if (stoppedAt >= 0)
            ASSERT_EQ(s.rpm, 0.0) << "a stopped flywheel starts again at " << t << " s";
        else if (s.rpm == 0.0)
            stoppedAt = s.tick - start;
        dyno.advance();
    }
    // Where the closed form stops, the model stops within the same tick.
    const bool stops = coastRpm(r, rpm0, 20.0) == 0.0;
    EXPECT_EQ(stoppedAt >= 0, stops) << "the coast ends at " << coastRpm(r, rpm0, 20.0) << " RPM";
    if (stops) {
        EXPECT_GT(coastRpm(r, rpm0, (stoppedAt - 1) * kTickSeconds), 0.0)
            << "the model stopped by tick " << stoppedAt << " of the coast, the closed form a tick before";
    }
}

TEST_P(RigLossPhysics, CoastDownDecelerationIsTheLossTorqueOverTheInertia)
{
    const Rig& r = GetParam();
    Dyno dyno = coastingDyno(r, 600);
    std::vector<TickState> coast;
    while (dyno.phase() == Phase::Coast) {
        coast.push_back(dyno.state());
        dyno.advance();
    }
    const double supply = MotorParameters{}.supplyVoltage;
    for (std::size_t i = 1; i + 1 < coast.size(); i += 100) {
        const TickState& s = coast[i];
        const double loss = lossMnm(r, s.rpm);
        // dw/dt by the central difference over the two ticks around.
        const double deceleration = (coast[i - 1].rpm - coast[i + 1].rpm) * kRadPerRpm / (2 * kTickSeconds);
        const double expected = loss / 1000 / inertia(r.flywheel);
        EXPECT_NEAR(deceleration, expected, 1e-4 * expected) << "at " << s.rpm << " RPM, loss " << loss << " mN m";
        EXPECT_NEAR(s.lossTorque * 1000, loss, 1e-9 * loss) << "at " << s.rpm << " RPM";
        EXPECT_EQ(s.torque, -s.lossTorque) << "at " << s.rpm << " RPM: only the losses act";
        EXPECT_EQ(std::make_tuple(s.motorTorque, s.motorOutputPower, s.current, s.inputPower, s.terminalVoltage),
                  std::make_tuple(0.0, 0.0, 0.0, 0.0, supply))
            << "at " << s.rpm << " RPM: the motor is disconnected";
    }
}

// Powered, the flywheel settles where the motor's torque meets the losses':
// Kt ((V - Kt w) / R - I0) = c0 + c2 w^2, a quadratic in w.
TEST_P(RigLossPhysics, PoweredTheFlywheelSettlesWhereMotorTorqueMeetsTheLosses)
{
    const Rig& r = GetParam();
    const MotorParameters m;
    const double kt = torqueConstant(m);
    const double c0 = r.frictionMnm / 1000;
    const double c2 = r.windageMnm / 1000 / std::pow(10000 * kRadPerRpm, 2);
    const double b = kt * kt / totalResistance(m);
    const double c = c0 - kt * (m.supplyVoltage / totalResistance(m) - m.noLoadCurrent);
    const double settled = (c2 == 0 ? -c / b : (-b + std::sqrt(b * b - 4 * c2 * c)) / (2 * c2)) / kRadPerRpm;

    MotorModel model(m, r.flywheel, lossesOf(r));
    model.runPowered(30 * timeConstant({r.name, m, r.flywheel}));
    EXPECT_NEAR(model.rpm(), settled, 1e-6 * settled);
    EXPECT_LT(model.rpm(), noLoadRpm(m) - 100) << "the losses hold the speed below no-load";
    EXPECT_NEAR(model.operatingPoint(true).shaftTorque * 1000, lossMnm(r, model.rpm()), 1e-6);
}

TEST_P(RigLossPhysics, PoweredTheNetTorqueAcceleratesTheFlywheelAndTheLossesTakeTheRest)
{
    const Rig& r = GetParam();
    Dyno dyno({}, r.flywheel, RunSchedule{0, 300, 0, 1}, lossesOf(r));
    std::vector<TickState> spin;
    while (dyno.phase() == Phase::SpinUp) {
        spin.push_back(dyno.state());
        dyno.advance();
    }
    const double kt = torqueConstant(MotorParameters{});
    for (std::size_t i = 1; i + 1 < spin.size(); i += 37) {
        const TickState& s = spin[i];
        const double jdw = inertia(r.flywheel) * (spin[i + 1].rpm - spin[i - 1].rpm) * kRadPerRpm / (2 * kTickSeconds);
        EXPECT_NEAR(s.torque, jdw, 1e-4 * s.motorTorque) << "J dw/dt at " << s.rpm << " RPM";
        EXPECT_NEAR(s.motorTorque, kt * (s.current - MotorParameters{}.noLoadCurrent), 1e-12)
            << "at " << s.rpm << " RPM";
        EXPECT_NEAR(s.lossTorque * 1000, lossMnm(r, s.rpm), 1e-9 * lossMnm(r, s.rpm)) << "at " << s.rpm << " RPM";
        EXPECT_NEAR(s.motorTorque - s.lossTorque, s.torque, 1e-12) << "at " << s.rpm << " RPM";
        EXPECT_NEAR(s.motorOutputPower, s.motorTorque * s.rpm * kRadPerRpm, 1e-9 * s.motorOutputPower);
    }
}

TEST_P(RigLossPhysics, ShaftEnergyEndsInTheLossesAndTheBrake)
{
    const Rig& r = GetParam();
    Dyno dyno({}, r.flywheel, RunSchedule{0, 150, 30, 1, 250}, lossesOf(r));
    // The losses' work, the trapezoid rule over the ticks' loss power.
    double lossWork = 0;
    double lastPower = 0;
    for (int i = 0; i < 430; ++i) {
        const TickState s = dyno.state();
        const double power = s.lossTorque * s.rpm * kRadPerRpm;
        lossWork += (lastPower + power) / 2 * kTickSeconds;
        lastPower = power;
        dyno.advance();
    }
    ASSERT_EQ(dyno.state().rpm, 0.0) << "stopped by the end of the brake time";
    const EnergyLedger& e = dyno.model().energy();
    EXPECT_GT(e.rigLoss, 0.01 * e.shaft);
    EXPECT_GE(e.brake, 0.0);
    EXPECT_NEAR(e.rigLoss, lossWork, 1e-4 * lossWork);
    EXPECT_NEAR(e.shaft, e.rigLoss + e.brake, 1e-7 * e.shaft)
        << "losses " << e.rigLoss << " J, brake " << e.brake << " J";
}

INSTANTIATE_TEST_SUITE_P(Rigs, RigLossPhysics, testing::ValuesIn(kRigs),
                         [](const testing::TestParamInfo<Rig>& rig) { return "Rig" + std::to_string(rig.index); });

TEST(RigLosses, FrictionHoldsAStandingFlywheelAgainstUpToItsOwnTorqueAndNeverTurnsIt)
{
    struct Case {
        double omega, drive, loss;
    };
    const RigLosses rig{0.005, 0.0, 0.002};
    const Case cases[] = {
        {0.0, 0.0, 0.0},     // standing, nothing pushes: nothing to hold
        {0.0, 0.003, 0.003}, // a weaker push than the friction is held whole
        {0.0, 0.2, 0.005},   // a stronger one loses the friction's share
        {0.0, -0.2, 0.0},    // friction never turns the flywheel
        {2.0, 0.0, 0.013},   // turning: the whole loss, whatever drives it
        {2.0, 0.2, 0.013},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(rig.torque(c.omega, c.drive), c.loss, 1e-15)
            << "at " << c.omega << " rad/s with " << c.drive << " N m of drive";

    MotorModel stuck({}, {}, RigLosses{MotorModel({}, {}).stallTorque() + 1e-6, 0.0, 0.0});
    stuck.runPowered(1.0);
    stuck.coast(1.0);
    EXPECT_EQ(stuck.speed(), 0.0) << "friction above the stall torque holds the flywheel";
    EXPECT_GT(stuck.energy().windingLoss, 0.0) << "while the motor draws its stall current";
    EXPECT_EQ(stuck.energy().rigLoss, 0.0);
}

TEST(DynoSchedule, TheBrakeNeverPushesWhereTheLossesAloneSlowTheFlywheelFaster)
{
    const Rig heavy{"strong windage, slow brake", 2.0, 400.0, {}};
    Dyno dyno({}, {}, RunSchedule{0, 200, 500, 1}, lossesOf(heavy));
    while (dyno.phase() == Phase::SpinUp)
        dyno.advance();
    int braking = 0;
    while (dyno.state().rpm > 0.0) {
        const TickState s = dyno.state();
        ASSERT_EQ(s.phase, Phase::Brake) << "stopped within the brake time";
        EXPECT_GE(-s.torque, s.lossTorque * (1 - 1e-12)) << "at " << s.rpm << " RPM";
        ++braking;
        dyno.advance();
    }
    EXPECT_LT(braking, 500) << "the losses stop the flywheel before the brake time";
}

// The defaults are chosen for the report's sake: the analysis gives a torque
// only to a record whose RPM rose by more than 100 since the one before, and
// the frames carry RPM in steps of 100, so a record's rise is only good to
// +-100 RPM. Where the true rise per 20 ms record is above 300 RPM the report
// is meaningful; the defaults give a few dozen such records, within a
// spin-up of a few seconds of a realistic small motor.
TEST(DynoDefaults, ARealisticSmallMotorWhoseSpinUpTheReportResolves)
{
    const Motor defaults{"defaults", {}, {}};
    const MotorModel model(defaults.motor, defaults.flywheel);
    EXPECT_NEAR(model.noLoadRpm(), 30000, 500);
    EXPECT_NEAR(model.mechanicalTimeConstant(), 0.75, 0.05);

    Dyno dyno(defaults.motor, defaults.flywheel, RunSchedule{});
    while (dyno.phase() != Phase::SpinUp)
        dyno.advance();
    int resolvable = 0;
    double last = dyno.state().rpm;
    while (dyno.phase() == Phase::SpinUp) {
        dyno.advance();
        dyno.advance();
        const double rpm = dyno.state().rpm;
        if (rpm - last > 300)
            ++resolvable;
        last = rpm;
    }
    EXPECT_GE(resolvable, 24);
    EXPECT_LE(resolvable, 60);
    EXPECT_GE(last, 0.99 * model.noLoadRpm()) << "the spin ends near no-load speed";
}

std::string phases(Dyno& dyno, int ticks)
{
    std::string out;
    for (int i = 0; i < ticks; ++i) {
        out += "ISCB"[static_cast<int>(dyno.phase())];
        dyno.advance();
    }
    return out;
}

TEST(DynoSchedule, RunsFollowIdleSpinCoastBrakeAndTheFlywheelStandsAfterTheLast)
{
    Dyno dyno({}, {}, RunSchedule{2, 3, 2, 2});
    EXPECT_EQ(phases(dyno, 18), "IISSSBBIISSSBBIIII");

    Dyno endless({}, {}, RunSchedule{1, 2, 0, 0});
    EXPECT_EQ(phases(endless, 9), "ISSISSISS");

    Dyno coasting({}, {}, RunSchedule{2, 3, 2, 2, 3});
    EXPECT_EQ(phases(coasting, 24), "IISSSCCCBBIISSSCCCBBIIII") << "each run coasts between spin and brake";
}

TEST(DynoSchedule, BrakeStopsTheFlywheelWithinTheBrakeTimeWithTheMotorOff)
{
    for (const int brakeTicks : {0, 1, 7}) {
        SCOPED_TRACE("brake ticks " + std::to_string(brakeTicks));
        Dyno dyno({}, {}, RunSchedule{0, 50, brakeTicks, 1});
        while (dyno.phase() == Phase::SpinUp)
            dyno.advance();
        const double top = dyno.state().rpm;
        ASSERT_GT(top, 10000);
        double previous = top;
        for (int i = 0; i < std::max(brakeTicks, 1); ++i) {
            const TickState s = dyno.state();
            EXPECT_EQ(s.current, 0.0);
            EXPECT_EQ(s.terminalVoltage, 0.0);
            EXPECT_LT(s.torque, 0.0) << "the brake holds the flywheel back";
            EXPECT_LE(s.rpm, previous);
            previous = s.rpm;
            dyno.advance();
        }
        EXPECT_EQ(dyno.state().rpm, 0.0);
        EXPECT_EQ(dyno.state().torque, 0.0);
    }
}

// The runs' supplies: run k takes the list's k-th, the last holding for the
// runs after it, or with a sweep the list starting over; the supply shows in
// the stall current of each spin-up's first tick and in the truth.
TEST(DynoSchedule, EachRunIsFedByItsOwnSupply)
{
    struct Case {
        const char* name;
        std::vector<double> supplies;
        bool sweep;
        std::vector<double> expected; // per run
    };
    const Case cases[] = {
        {"no list: the motor's supply", {}, false, {12, 12, 12, 12}},
        {"a list, the last holding", {8, 10}, false, {8, 10, 10, 10}},
        {"a sweep, starting over", {8, 12, 16}, true, {8, 12, 16, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunSchedule schedule{5, 20, 5, 4};
        const MotorParameters motor;
        Dyno dyno(motor, {}, schedule, {}, std::nullopt, RunSupplies{c.supplies, c.sweep});
        std::vector<double> supplies, stallCurrents;
        for (int tick = 0; tick < 4 * schedule.cycleTicks(); ++tick) {
            const TickState s = dyno.state();
            if (tick % schedule.cycleTicks() == schedule.idleTicks) {
                supplies.push_back(s.supplyVoltage);
                stallCurrents.push_back(s.current);
            }
            dyno.advance();
        }
        EXPECT_EQ(supplies, c.expected);
        for (std::size_t run = 0; run < stallCurrents.size(); ++run)
            EXPECT_DOUBLE_EQ(stallCurrents[run], c.expected[run] / totalResistance(motor)) << "run " << run + 1;
    }
}

// The winding's heat as one lump: exact for a constant power whatever the
// steps, and cooling as exp(-t / tau).
TEST(WindingHeat, HeatsByTheEnergyOverTheCapacityAndCoolsWithItsTimeConstant)
{
    const HeatingParameters parameters{40.0, 200.0};
    WindingHeat once(parameters);
    once.step(400.0, 0.0);
    EXPECT_DOUBLE_EQ(once.rise(), 10.0) << "400 J into 40 J/K";
    EXPECT_DOUBLE_EQ(once.resistance(0.1), 0.1 * (1 + 0.039)) << "copper: +0.39 % per kelvin";
    once.step(0.0, 200.0);
    EXPECT_NEAR(once.rise(), 10.0 / std::exp(1.0), 1e-12) << "one time constant later";

    // 5 W for 60 s, in one step and in 6000 steps of 10 ms.
    WindingHeat whole(parameters), ticked(parameters);
    whole.step(300.0, 60.0);
    for (int i = 0; i < 6000; ++i)
        ticked.step(0.05, 0.01);
    const double settled = 5.0 * 200.0 / 40.0; // P tau / C
    EXPECT_NEAR(whole.rise(), settled * (1 - std::exp(-60.0 / 200.0)), 1e-9);
    EXPECT_NEAR(ticked.rise(), whole.rise(), 1e-9);
}

// With --heating the winding's resistance follows its I^2 R loss: without
// cooling the rise is the loss over the heat capacity; runs back to back
// warm it run by run, and a long rest between them lets it cool to nearly
// cold.
TEST(DynoHeating, TheWindingsResistanceFollowsItsLossAndCoolsBetweenRuns)
{
    const MotorParameters motor;
    const auto resistanceAtEachSpinUp = [&](const RunSchedule& schedule, const HeatingParameters& heating,
                                            double* lossAtEnd = nullptr) {
        Dyno dyno(motor, {}, schedule, {}, heating);
        std::vector<double> resistances;
        for (long long tick = 0; tick < schedule.totalTicks(); ++tick) {
            if (tick % schedule.cycleTicks() == schedule.idleTicks)
                resistances.push_back(dyno.state().windingResistance);
            dyno.advance();
        }
        if (lossAtEnd != nullptr)
            *lossAtEnd = dyno.model().energy().windingLoss;
        resistances.push_back(dyno.state().windingResistance);
        return resistances;
    };
    const RunSchedule backToBack{100, 500, 100, 5, 0};

    double loss = 0;
    const std::vector<double> kept = resistanceAtEachSpinUp(backToBack, {60.0, 1e15}, &loss);
    EXPECT_EQ(kept.front(), motor.windingResistance) << "cold at the first spin-up";
    EXPECT_NEAR(kept.back(), motor.windingResistance * (1 + kCopperPerKelvin * loss / 60.0), 1e-12)
        << "without cooling the rise is the loss over the heat capacity";
    for (std::size_t run = 1; run < kept.size(); ++run)
        EXPECT_GT(kept[run], kept[run - 1]) << "each run warms the winding further; run " << run + 1;

    const std::vector<double> defaults = resistanceAtEachSpinUp(backToBack, {});
    EXPECT_LT(defaults.back(), kept.back()) << "cooling between runs";
    EXPECT_GT(defaults[4] - defaults[0], 0.04 * motor.windingResistance)
        << "the defaults: five runs back to back drift well beyond one run's uncertainty";

    RunSchedule rested = backToBack;
    rested.idleTicks = 300 * 100 * 5; // five time constants
    const std::vector<double> cooled = resistanceAtEachSpinUp(rested, {});
    for (std::size_t run = 1; run + 1 < cooled.size(); ++run)
        EXPECT_LT(cooled[run] - motor.windingResistance, 0.05 * (defaults[1] - motor.windingResistance))
            << "cooled to within 5 % of one run's rise after a long rest; run " << run + 1;
}

struct TickCase {
    int tick;
    std::uint8_t b2, b3, b4;
};

TEST(FrameEncoder, TickCountsEncodeSoThatByteTwoWeighs4096)
{
    const TickCase cases[] = {
        {0, 0, 0, 0},
        {1, 0, 0, 1},
        {255, 0, 0, 255},
        {256, 0, 1, 0},
        {4095, 0, 15, 255},
        {4096, 1, 0, 0},
        {65535, 15, 15, 255},
        {65536, 16, 0, 0},
        {1048575, 255, 15, 255},
        {1048576, 255, 16, 0},
        {kMaxTick, 255, 255, 255},
    };
    for (const TickCase& c : cases) {
        std::uint8_t b2 = 0, b3 = 0, b4 = 0;
        encodeTicks(c.tick, b2, b3, b4);
        EXPECT_EQ((std::vector<int>{b2, b3, b4}), (std::vector<int>{c.b2, c.b3, c.b4})) << "tick " << c.tick;
    }
    for (int tick = 0; tick <= kMaxTick; tick += 997) {
        const TelemetryFrame f = sampleFrame(TelemetryFrame::RunSample, tick, {});
        ASSERT_EQ(f.tickCount(), tick);
    }
}

struct QuantiseCase {
    double voltage, current, rpm;
    SampleCode code;
};

TEST(FrameEncoder, SampleValuesRoundToTheFramesStepsWithinTwoBytes)
{
    const QuantiseCase cases[] = {
        {12.344, 114.24, 29849.9, {1234, 1142, 298}},
        {12.346, 114.26, 29850.1, {1235, 1143, 299}},
        {0.0, 0.0, 49.9, {0, 0, 0}},
        {-0.5, -3.0, -200.0, {0, 0, 0}},
        {1e300, 7000.0, 7e6, {65535, 65535, 65535}},
    };
    for (const QuantiseCase& c : cases) {
        const SampleCode code = quantise(c.voltage, c.current, c.rpm);
        EXPECT_EQ((std::vector<int>{code.voltage, code.current, code.rpm}),
                  (std::vector<int>{c.code.voltage, c.code.current, c.code.rpm}))
            << c.voltage << " V, " << c.current << " A, " << c.rpm << " RPM";
    }
}

TEST(FrameEncoder, SampleFramesDecodeToTheQuantisedValues)
{
    for (const auto kind : {TelemetryFrame::RunSample, TelemetryFrame::LiveSample}) {
        const TelemetryFrame f = sampleFrame(kind, 1234, quantise(11.43, 114.29, 29868.75));
        EXPECT_TRUE(f.is(kind));
        EXPECT_EQ(f[0], 0xD9);
        EXPECT_EQ(f[1], 0xAB);
        EXPECT_EQ(f.runTime(), 12.34);
        EXPECT_EQ(f.outputVoltage(), Decimal::parse("11.43"));
        EXPECT_EQ(f.outputCurrent(), Decimal::parse("114.3"));
        EXPECT_EQ(f.rpm(), Decimal(29900));
    }
}

TEST(FrameEncoder, SetupFramesCarryFlywheelEscAndInterval)
{
    const TelemetryFrame f = setupFrame({305, 2400, 30, 40, 2});
    EXPECT_TRUE(f.is(TelemetryFrame::DynoSetup));
    EXPECT_EQ(f.flywheelRadius(), 30.5);
    EXPECT_EQ(f.flywheelWeight(), 240.0);
    EXPECT_EQ(f.escNeutral(), 1500.0);
    EXPECT_EQ(f.escFull(), 2000.0);
    EXPECT_EQ(f.interval(), 20.0);
    EXPECT_EQ(f[7], 0) << "position 7 carries nothing";
}

} // namespace
} // namespace zelvar::dynosim
