#include "Dyno.h"

#include <charconv>

namespace zelvar::dynosim {

long long RunSchedule::totalTicks() const
{
    return repeat > 0 ? static_cast<long long>(repeat) * cycleTicks() : -1;
}

QByteArray truthHeader()
{
    return QByteArrayLiteral("time_s,rpm,torque_mNm,output_power_W,input_power_W,voltage_V,current_A\r\n");
}

QByteArray truthLine(const TickState& s)
{
    // The shortest text that reads back as the same double, and "." whatever
    // the user's locale: the values read back are the model's own.
    char line[256];
    char* at = line;
    const double values[] = {s.time(),      s.rpm,           s.torque * 1000.0, s.outputPower,
                             s.inputPower, s.terminalVoltage, s.current};
    for (const double value : values) {
        if (at != line)
            *at++ = ',';
        at = std::to_chars(at, line + sizeof line, value).ptr;
    }
    *at++ = '\r';
    *at++ = '\n';
    return QByteArray(line, at - line);
}

Dyno::Dyno(const MotorParameters& motor, const Flywheel& flywheel, const RunSchedule& schedule)
    : model_(motor, flywheel), schedule_(schedule)
{
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
    return Phase::Brake;
}

double Dyno::brakeRate() const
{
    if (brakeRate_ > 0.0)
        return brakeRate_;
    // The brake is set as it comes on, to reach standstill at the end of the
    // brake time; a brake time of 0 stops the flywheel within one tick.
    const int ticks = phase() == Phase::Brake && schedule_.brakeTicks > 0 ? schedule_.brakeTicks : 1;
    return model_.speed() / (ticks * kTickSeconds);
}

TickState Dyno::state() const
{
    TickState s;
    s.tick = tick_;
    s.phase = phase();
    s.rpm = model_.rpm();
    if (s.phase == Phase::SpinUp) {
        const OperatingPoint p = model_.operatingPoint(true);
        s.terminalVoltage = p.terminalVoltage;
        s.current = p.current;
        s.torque = p.shaftTorque;
        s.outputPower = p.outputPower;
        s.inputPower = p.inputPower;
    } else if (model_.speed() > 0.0) {
        s.torque = -model_.flywheel().inertia() * brakeRate();
        s.outputPower = s.torque * model_.speed();
    }
    return s;
}

void Dyno::advance()
{
    if (phase() == Phase::SpinUp) {
        model_.runPowered(kTickSeconds);
        brakeRate_ = 0.0;
    } else if (model_.speed() > 0.0) {
        brakeRate_ = brakeRate();
        model_.brake(kTickSeconds, brakeRate_);
    } else {
        brakeRate_ = 0.0;
    }
    ++tick_;
}

} // namespace zelvar::dynosim
