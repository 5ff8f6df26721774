#include "MotorModel.h"

#include <algorithm>
#include <cmath>

namespace zelvar::dynosim {

double Flywheel::inertia() const
{
    const double r = radiusMm / 1000.0;
    const double m = weightG / 1000.0;
    return m * r * r / 2.0;
}

MotorModel::MotorModel(const MotorParameters& motor, const Flywheel& flywheel)
    : motor_(motor), flywheel_(flywheel)
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

void MotorModel::runPowered(double seconds)
{
    const double kt = torqueConstant();
    const double r = motor_.windingResistance;
    const double rs = motor_.supplyResistance;
    const double inertia = flywheel_.inertia();
    const auto rates = [&](double omega) {
        const double current = (motor_.supplyVoltage - kt * omega) / (r + rs);
        const double torque = kt * (current - motor_.noLoadCurrent);
        Rates d;
        d.acceleration = torque / inertia;
        d.fromSupply = motor_.supplyVoltage * current;
        d.supplyLoss = current * current * rs;
        d.input = (motor_.supplyVoltage - current * rs) * current;
        d.windingLoss = current * current * r;
        d.motorLoss = kt * motor_.noLoadCurrent * omega;
        d.shaft = torque * omega;
        return d;
    };

    const long steps = std::max(1L, std::lround(seconds / kStep));
    const double h = seconds / static_cast<double>(steps);
    for (long i = 0; i < steps; ++i) {
        const Rates k1 = rates(omega_);
        const Rates k2 = rates(omega_ + h / 2 * k1.acceleration);
        const Rates k3 = rates(omega_ + h / 2 * k2.acceleration);
        const Rates k4 = rates(omega_ + h * k3.acceleration);
        const auto blend = [h](double a, double b, double c, double d) { return h / 6 * (a + 2 * b + 2 * c + d); };
        omega_ += blend(k1.acceleration, k2.acceleration, k3.acceleration, k4.acceleration);
        energy_.fromSupply += blend(k1.fromSupply, k2.fromSupply, k3.fromSupply, k4.fromSupply);
        energy_.supplyLoss += blend(k1.supplyLoss, k2.supplyLoss, k3.supplyLoss, k4.supplyLoss);
        energy_.input += blend(k1.input, k2.input, k3.input, k4.input);
        energy_.windingLoss += blend(k1.windingLoss, k2.windingLoss, k3.windingLoss, k4.windingLoss);
        energy_.motorLoss += blend(k1.motorLoss, k2.motorLoss, k3.motorLoss, k4.motorLoss);
        energy_.shaft += blend(k1.shaft, k2.shaft, k3.shaft, k4.shaft);
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
    energy_.brake += flywheel_.inertia() * (before * before - omega_ * omega_) / 2.0;
}

} // namespace zelvar::dynosim
