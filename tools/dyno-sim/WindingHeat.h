#pragma once

namespace zelvar::dynosim {

// The winding's warmth as one lump: the I²R loss heats it, and it cools
// toward the ambient with one time constant. Copper's resistance grows by
// 0.39 % per kelvin, so a motor run hard several times in a row measures a
// rising R, as a real one does.
struct HeatingParameters {
    // J/K: the armature's copper and the iron next to it, which the loss
    // reaches within a spin-up, for a motor of the default's size.
    double heatCapacity = 60.0;
    // s: from the armature to the ambient, a few minutes in still air.
    double coolingSeconds = 300.0;
};

inline constexpr double kCopperPerKelvin = 0.0039;

class WindingHeat {
public:
    explicit WindingHeat(const HeatingParameters& parameters) : parameters_(parameters) {}

    // `joules` dissipated evenly over `seconds`, the winding cooling all the
    // while: the exact step of C dT/dt = P - C T / tau for a constant P.
    void step(double joules, double seconds);

    double rise() const { return rise_; } // K above the ambient
    // The resistance of a winding that measures `ambient` ohm when cold.
    double resistance(double ambient) const { return ambient * (1.0 + kCopperPerKelvin * rise_); }

private:
    HeatingParameters parameters_;
    double rise_ = 0.0;
};

} // namespace zelvar::dynosim
