#include "tools/dyno-sim/WindingHeat.h"

#include <cmath>

namespace zelvar::dynosim {

void WindingHeat::step(double joules, double seconds)
{
    const double tau = parameters_.coolingSeconds;
    // The share of the rise that cools away in the step, and of P tau / C
    // that the step's heat reaches; expm1 keeps it exact for a step far
    // shorter than the time constant. A step of no time simply adds its heat.
    const double share = -std::expm1(-seconds / tau);
    const double gained = seconds > 0.0 ? joules / parameters_.heatCapacity * tau / seconds * share
                                        : joules / parameters_.heatCapacity;
    rise_ = rise_ * (1.0 - share) + gained;
}

} // namespace zelvar::dynosim
