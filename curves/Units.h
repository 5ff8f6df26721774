#pragma once

#include <numbers>

namespace zelvar::curves {

// The curves' units: speed in RPM as the dyno sends it, torque in mN·m as the
// report writes it, power in W. The physics is done in rad/s, N·m and W; the
// conversions are written out once here, in the order of operations every
// figure has always been computed in, so that none moves in its last digit.

inline constexpr double kRadPerSecondPerRpm = 2.0 * std::numbers::pi / 60.0;
inline constexpr double kMnmPerNm = 1000.0;

// The torque in mN·m that accelerates a flywheel of `inertia` (kg·m²) by
// `rpmPerSecond`.
constexpr double flywheelTorqueMnm(double inertia, double rpmPerSecond)
{
    return kMnmPerNm * inertia * rpmPerSecond * kRadPerSecondPerRpm;
}

// The power in W of a torque in mN·m at `rpm`.
constexpr double powerW(double torqueMnm, double rpm)
{
    return torqueMnm / kMnmPerNm * rpm * kRadPerSecondPerRpm;
}

// The torque constant Kt in N·m/A of a motor of `kv` RPM/V: 60 / (2π·Kv).
constexpr double ktOfKv(double kv)
{
    return 60.0 / (2.0 * std::numbers::pi * kv);
}

} // namespace zelvar::curves
