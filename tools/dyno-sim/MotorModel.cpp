#include "tools/dyno-sim/MotorModel.h"

#include <algorithm>
#include <cmath>

namespace zelvar::dynosim {

double Flywheel::inertia() const
{
    const double r = radiusMm / 1000.0;
    const double m = weightG / 1000.0;
    return m * r * r / 2.0;
}

RigLosses RigLosses::fromMeasured(double frictionMnm, double windageMnmAt10000Rpm)
{
    const double omegaAt10000Rpm = 10000.0 / kRpmPerRadPerSecond;
    return {frictionMnm / 1000.0, 0.0, windageMnmAt10000Rpm / 1000.0 / (omegaAt10000Rpm * omegaAt10000Rpm)};
}

double RigLosses::polynomial(double omega) const
{
    return friction + viscous * omega + windage * omega * omega;
}

double RigLosses::torque(double omega, double drive) const
{
    if (omega > 0.0)
        return polynomial(omega);
    return std::clamp(drive, 0.0, friction);
}

MotorModel::MotorModel(const MotorParameters& motor, const Flywheel& flywheel, const RigLosses& losses)
    : motor_(motor), flywheel_(flywheel), losses_(losses)
{
}

double MotorModel::torqueConstant() const
{
    return kRpmPerRadPerSecond / motor_.kv;
}

double MotorModel::noLoadRpm() const
{
    return motor_.kv
         * (motor_.supplyVoltage - motor_.noLoadCurrent * (motor_.windingResistance + motor_.supplyResistance));
}

double MotorModel::stallCurrent() const
{
    return motor_.supplyVoltage / (motor_.windingResistance + motor_.supplyResistance);
}

double MotorModel::stallTorque() const
{
    return torqueConstant() * (stallCurrent() - motor_.noLoadCurrent);
}

double MotorModel::mechanicalTimeConstant() const
{
    const double kt = torqueConstant();
    return flywheel_.inertia() * (motor_.windingResistance + motor_.supplyResistance) / (kt * kt);
}

double MotorModel::rpm() const
{
    return omega_ * kRpmPerRadPerSecond;
}

namespace {

struct Rates {
    double acceleration = 0.0; // rad/s^2
    double fromSupply = 0.0;
    double supplyLoss = 0.0;
    double input = 0.0;
    double windingLoss = 0.0;
    double motorLoss = 0.0;
    double shaft = 0.0;
    double rigLoss = 0.0;
};

// One Runge-Kutta step's worth of each flow: h/6 (k1 + 2 k2 + 2 k3 + k4).
struct Blend {
    double h;
    const Rates& k1;
    const Rates& k2;
    const Rates& k3;
    const Rates& k4;

    double operator()(double Rates::*flow) const
    {
        return h / 6 * (k1.*flow + 2 * (k2.*flow) + 2 * (k3.*flow) + k4.*flow);
    }
};

} // namespace

OperatingPoint MotorModel::operatingPoint(bool powered) const
{
    if (!powered)
        return {};
    const double kt = torqueConstant();
    const double current = (motor_.supplyVoltage - kt * omega_) / (motor_.windingResistance + motor_.supplyResistance);
    OperatingPoint p;
    p.current = current;
    p.terminalVoltage = motor_.supplyVoltage - current * motor_.supplyResistance;
    p.shaftTorque = kt * (current - motor_.noLoadCurrent);
    p.inputPower = p.terminalVoltage * current;
    p.outputPower = p.shaftTorque * omega_;
    return p;
}

double MotorModel::lossTorque(bool powered) const
{
    return losses_.torque(omega_, operatingPoint(powered).shaftTorque);
}

void MotorModel::runPowered(double seconds)
{
    integrate(seconds, true);
}

void MotorModel::coast(double seconds)
{
    integrate(seconds, false);
}

void MotorModel::integrate(double seconds, bool powered)
{
    const double kt = torqueConstant();
    const double r = motor_.windingResistance;
    const double rs = motor_.supplyResistance;
    const double inertia = flywheel_.inertia();
    const auto rates = [&](double omega) {
        Rates d;
        double torque = 0.0;
        if (powered) {
            const double current = (motor_.supplyVoltage - kt * omega) / (r + rs);
            torque = kt * (current - motor_.noLoadCurrent);
            d.fromSupply = motor_.supplyVoltage * current;
            d.supplyLoss = current * current * rs;
            d.input = (motor_.supplyVoltage - current * rs) * current;
            d.windingLoss = current * current * r;
            d.motorLoss = kt * motor_.noLoadCurrent * omega;
            d.shaft = torque * omega;
        }
        const double loss = losses_.polynomial(omega);
        d.acceleration = (torque - loss) / inertia;
        d.rigLoss = loss * omega;
        return d;
    };
    const auto book = [this](const Blend& blend) {
        energy_.fromSupply += blend(&Rates::fromSupply);
        energy_.supplyLoss += blend(&Rates::supplyLoss);
        energy_.input += blend(&Rates::input);
        energy_.windingLoss += blend(&Rates::windingLoss);
        energy_.motorLoss += blend(&Rates::motorLoss);
        energy_.shaft += blend(&Rates::shaft);
    };

    const double standingDrive = powered ? stallTorque() : 0.0;
    const long steps = std::max(1L, std::lround(seconds / kStep));
    const double h = seconds / static_cast<double>(steps);
    for (long i = 0; i < steps; ++i) {
        if (omega_ <= 0.0 && standingDrive <= losses_.friction) {
            // Friction holds the standing flywheel against all the drive
            // there is; a powered motor still draws its stall current.
            const Rates k = rates(0.0);
            book({h, k, k, k, k});
            continue;
        }
        const Rates k1 = rates(omega_);
        const Rates k2 = rates(omega_ + h / 2 * k1.acceleration);
        const Rates k3 = rates(omega_ + h / 2 * k2.acceleration);
        const Rates k4 = rates(omega_ + h * k3.acceleration);
        const Blend blend{h, k1, k2, k3, k4};
        const double before = omega_;
        const double shaftBefore = energy_.shaft;
        book(blend);
        omega_ += blend(&Rates::acceleration);
        if (omega_ < 0.0) {
            // The losses stopped the flywheel within this step. Friction
            // holds it there rather than turning it backwards, and whatever
            // energy it still had went into the losses.
            omega_ = 0.0;
            energy_.rigLoss += inertia * before * before / 2.0 + (energy_.shaft - shaftBefore);
        } else {
            energy_.rigLoss += blend(&Rates::rigLoss);
        }
    }
}

void MotorModel::brake(double seconds, double rate)
{
    const double before = omega_;
    omega_ = omega_ - rate * seconds;
    // A brake set to stop the flywheel in n ticks leaves a rounding error's
    // worth of speed after them: that is standstill.
    if (omega_ < 1e-9)
        omega_ = 0.0;
    // The rig's losses take their share while the flywheel still turns. The
    // speed falls linearly, so their power T_loss(w) * w is a cubic in time,
    // which Simpson's rule integrates exactly.
    double rigLoss = 0.0;
    if (before > 0.0) {
        const double turning = rate > 0.0 ? std::min(seconds, before / rate) : seconds;
        const auto lossPower = [this](double omega) { return losses_.polynomial(omega) * omega; };
        rigLoss = turning / 6.0
                * (lossPower(before) + 4.0 * lossPower(before - rate * turning / 2.0)
                   + lossPower(before - rate * turning));
    }
    energy_.rigLoss += rigLoss;
    energy_.brake += flywheel_.inertia() * (before * before - omega_ * omega_) / 2.0 - rigLoss;
}

} // namespace zelvar::dynosim
