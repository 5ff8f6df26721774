#pragma once

namespace zelvar::dynosim {

// A brushed DC motor fed from a supply with an internal resistance. The
// no-load current stands for the motor's own losses (friction, iron): it
// takes a constant share Kt * I0 of the torque, so the shaft gives
// Kt * (I - I0).
struct MotorParameters {
    double kv = 2500.0;              // RPM per volt of back-EMF
    double windingResistance = 0.1;  // ohm
    double noLoadCurrent = 0.5;      // A
    double supplyVoltage = 12.0;     // V, open circuit
    double supplyResistance = 0.005; // ohm, a good pack or bench supply
};

// The dyno's flywheel: a solid disc, J = m r^2 / 2.
struct Flywheel {
    double radiusMm = 30.0;
    double weightG = 240.0;

    double inertia() const; // kg m^2
};

// The rig's own drag on the flywheel, whatever drives it: bearing friction
// c0, viscous drag c1 * w and the air's windage c2 * w^2 (w in rad/s).
struct RigLosses {
    double friction = 0.0; // c0, N m
    double viscous = 0.0;  // c1, N m per rad/s
    double windage = 0.0;  // c2, N m per (rad/s)^2

    // The rig as its owner measures it: a friction in mN m and the windage's
    // torque at 10000 RPM in mN m.
    static RigLosses fromMeasured(double frictionMnm, double windageMnmAt10000Rpm);

    // c0 + c1 w + c2 w^2 as a polynomial, also where w is 0 or below, so that
    // the integrator's trial speeds around a stop see a smooth torque.
    double polynomial(double omega) const;
    // The torque the losses take at `omega` with `drive` N m pushing the
    // flywheel: the polynomial while it turns; at standstill friction holds
    // it against up to c0 of the drive, and never turns it backwards.
    double torque(double omega, double drive) const;
};

// What the motor does at one speed.
struct OperatingPoint {
    double current = 0.0;         // A
    double terminalVoltage = 0.0; // V, at the motor's terminals
    double shaftTorque = 0.0;     // N m, into the flywheel
    double inputPower = 0.0;      // W, terminal voltage * current
    double outputPower = 0.0;     // W, shaft torque * speed
};

// Energy that went where since the model started, in joules.
struct EnergyLedger {
    double fromSupply = 0.0;  // open-circuit voltage * current
    double supplyLoss = 0.0;  // I^2 * supply resistance
    double input = 0.0;       // into the motor's terminals
    double windingLoss = 0.0; // I^2 * winding resistance
    double motorLoss = 0.0;   // the no-load share, Kt * I0 * speed
    double shaft = 0.0;       // out of the motor's shaft while powered
    double rigLoss = 0.0;     // taken out of the flywheel by the rig's losses
    double brake = 0.0;       // taken out of the flywheel by the brake
};

// The motor spinning the flywheel, integrated in fine steps (classic
// Runge-Kutta, 0.1 ms) so that the values sampled every 10 ms are the
// motor's own to far better than the frames can carry.
class MotorModel {
public:
    static constexpr double kStep = 1e-4; // s

    MotorModel(const MotorParameters& motor, const Flywheel& flywheel, const RigLosses& losses = {});

    const MotorParameters& motor() const { return motor_; }
    const Flywheel& flywheel() const { return flywheel_; }
    const RigLosses& losses() const { return losses_; }

    // Between runs the supply may change (a sweep over voltages), and a
    // warming winding changes its resistance as the motor runs.
    void setSupplyVoltage(double volts) { motor_.supplyVoltage = volts; }
    void setWindingResistance(double ohms) { motor_.windingResistance = ohms; }

    // Kt = 60 / (2 pi Kv) in N m/A; in SI units the back-EMF constant is
    // the same number in V s/rad.
    double torqueConstant() const;
    // The speed at which the current has fallen to the no-load current:
    // Kv * (V - I0 * (R + Rs)).
    double noLoadRpm() const;
    // The current at standstill: V / (R + Rs).
    double stallCurrent() const;
    // The shaft's torque at standstill: Kt * (stall current - I0).
    double stallTorque() const;
    // Powered from standstill the speed rises as 1 - exp(-t / tau) with
    // tau = J (R + Rs) / Kt^2.
    double mechanicalTimeConstant() const;

    double speed() const { return omega_; } // rad/s
    double rpm() const;
    const EnergyLedger& energy() const { return energy_; }

    // The motor at the present speed, powered or not (unpowered it draws
    // nothing and gives no torque).
    OperatingPoint operatingPoint(bool powered) const;

    // The rig's loss torque at the present speed, with the motor powered or
    // not.
    double lossTorque(bool powered) const;

    // Advances by `seconds` with the motor powered, against the rig's losses.
    void runPowered(double seconds);
    // Advances by `seconds` with the motor disconnected: only the rig's
    // losses slow the flywheel, down to standstill and no further.
    void coast(double seconds);
    // Advances by `seconds` with the motor off and the brake taking `rate`
    // rad/s^2 off the speed, never below standstill. The rate is the whole
    // deceleration: the brake takes what the rig's losses leave of it.
    void brake(double seconds, double rate);

private:
    void integrate(double seconds, bool powered);

    MotorParameters motor_;
    Flywheel flywheel_;
    RigLosses losses_;
    double omega_ = 0.0;
    EnergyLedger energy_;
};

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kRpmPerRadPerSecond = 60.0 / (2.0 * kPi);

} // namespace zelvar::dynosim
