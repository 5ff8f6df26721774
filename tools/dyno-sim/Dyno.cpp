#include "tools/dyno-sim/Dyno.h"

#include <algorithm>
#include <charconv>

namespace zelvar::dynosim {

long long RunSchedule::totalTicks() const
{
    return repeat > 0 ? static_cast<long long>(repeat) * cycleTicks() : -1;
}

int RunSchedule::runAt(long long tick) const
{
    const int cycle = cycleTicks();
    if (cycle <= 0)
        return 0;
    const long long run = tick / cycle;
    return static_cast<int>(repeat > 0 ? std::min<long long>(run, repeat - 1) : run);
}

double RunSupplies::of(int run, double otherwise) const
{
    if (volts.empty())
        return otherwise;
    const auto count = static_cast<int>(volts.size());
    return volts[static_cast<std::size_t>(sweep ? run % count : std::min(run, count - 1))];
}

QByteArray truthHeader()
{
    return QByteArrayLiteral(
        "time_s,rpm,torque_mNm,output_power_W,input_power_W,voltage_V,current_A,"
        "motor_torque_mNm,loss_torque_mNm,motor_output_power_W,winding_resistance_ohm,supply_V\r\n");
}

QByteArray truthLine(const TickState& s)
{
    // The shortest text that reads back as the same double, and "." whatever
    // the user's locale: the values read back are the model's own.
    char line[400];
    char* at = line;
    const double values[] = {s.time(),
                             s.rpm,
                             s.torque * 1000.0,
                             s.outputPower,
                             s.inputPower,
                             s.terminalVoltage,
                             s.current,
                             s.motorTorque * 1000.0,
                             s.lossTorque * 1000.0,
                             s.motorOutputPower,
                             s.windingResistance,
                             s.supplyVoltage};
    for (const double value : values) {
        if (at != line)
            *at++ = ',';
        at = std::to_chars(at, line + sizeof line, value).ptr;
    }
    *at++ = '\r';
    *at++ = '\n';
    return QByteArray(line, at - line);
}

Dyno::Dyno(const MotorParameters& motor, const Flywheel& flywheel, const RunSchedule& schedule, const RigLosses& losses,
           const std::optional<HeatingParameters>& heating, const RunSupplies& supplies)
    : model_(motor, flywheel, losses), schedule_(schedule), supplies_(supplies),
      coldResistance_(motor.windingResistance), baseSupply_(motor.supplyVoltage)
{
    if (heating)
        heat_.emplace(*heating);
    model_.setSupplyVoltage(supplies_.of(0, baseSupply_));
}

Phase Dyno::phaseAt(int tick) const
{
    const int cycle = schedule_.cycleTicks();
    if (cycle <= 0)
        return Phase::Idle;
    if (schedule_.repeat > 0 && tick / cycle >= schedule_.repeat)
        return Phase::Idle;
    const int at = tick % cycle;
    if (at < schedule_.idleTicks)
        return Phase::Idle;
    if (at < schedule_.idleTicks + schedule_.spinTicks)
        return Phase::SpinUp;
    if (at < schedule_.idleTicks + schedule_.spinTicks + schedule_.coastTicks)
        return Phase::Coast;
    return Phase::Brake;
}

double Dyno::brakeRate() const
{
    if (brakeRate_ > 0.0)
        return brakeRate_;
    // The brake is set as it comes on, to reach standstill at the end of the
    // brake time; a brake time of 0 stops the flywheel within one tick.
    const int ticks = phase() == Phase::Brake && schedule_.brakeTicks > 0 ? schedule_.brakeTicks : 1;
    const double timely = model_.speed() / (ticks * kTickSeconds);
    // A brake only holds back: where the rig's losses alone slow the flywheel
    // faster, it is set to their deceleration at the start (the largest, as
    // they fall with the speed) and the flywheel stops sooner.
    const double byLosses = model_.lossTorque(false) / model_.flywheel().inertia();
    return std::max(timely, byLosses);
}

TickState Dyno::state() const
{
    TickState s;
    s.tick = tick_;
    s.phase = phase();
    s.rpm = model_.rpm();
    s.windingResistance = model_.motor().windingResistance;
    s.supplyVoltage = model_.motor().supplyVoltage;
    const double omega = model_.speed();
    if (s.phase == Phase::SpinUp) {
        const OperatingPoint p = model_.operatingPoint(true);
        s.terminalVoltage = p.terminalVoltage;
        s.current = p.current;
        s.motorTorque = p.shaftTorque;
        s.motorOutputPower = p.outputPower;
        s.lossTorque = model_.lossTorque(true);
        s.torque = s.motorTorque - s.lossTorque;
        s.inputPower = p.inputPower;
    } else if (s.phase == Phase::Coast) {
        // Disconnected, the motor draws nothing and the supply shows its
        // open-circuit voltage.
        s.terminalVoltage = model_.motor().supplyVoltage;
        s.lossTorque = model_.lossTorque(false);
        s.torque = -s.lossTorque;
    } else if (omega > 0.0) {
        s.lossTorque = model_.lossTorque(false);
        s.torque = -model_.flywheel().inertia() * brakeRate();
    }
    s.outputPower = s.torque * omega;
    return s;
}

void Dyno::advance()
{
    const double windingLossBefore = model_.energy().windingLoss;
    if (phase() == Phase::SpinUp) {
        model_.runPowered(kTickSeconds);
        brakeRate_ = 0.0;
    } else if (phase() == Phase::Coast) {
        model_.coast(kTickSeconds);
        brakeRate_ = 0.0;
    } else if (model_.speed() > 0.0) {
        brakeRate_ = brakeRate();
        model_.brake(kTickSeconds, brakeRate_);
    } else {
        brakeRate_ = 0.0;
    }
    if (heat_) {
        // The resistance follows the heat tick by tick, as the motor's does:
        // most of a run's rise comes early in its spin-up, where the current
        // is highest.
        heat_->step(model_.energy().windingLoss - windingLossBefore, kTickSeconds);
        model_.setWindingResistance(heat_->resistance(coldResistance_));
    }
    ++tick_;
    // A new run may have a supply of its own; the flywheel stands between runs.
    model_.setSupplyVoltage(supplies_.of(schedule_.runAt(tick_), baseSupply_));
}

} // namespace zelvar::dynosim
