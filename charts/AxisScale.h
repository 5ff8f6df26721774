#pragma once

namespace zelvar::charts {

// An axis from one round number to another in round steps (1, 2, 2.5 or 5
// times a power of ten): the operator reads a trace against round numbers,
// and they move only when the values outgrow them.
struct RoundScale {
    double lo = 0.0;
    double hi = 1.0;
    double step = 1.0;
    int steps = 1;
};

// The scale from a round number at or below `lo` to one at or above `hi`, at
// least `least` wide so that nothing to show still has a scale, in 3 to 7
// steps. With `steps` set, in exactly that many, so that a second value
// axis draws its ticks on the first one's grid lines.
RoundScale roundScale(double lo, double hi, double least, int steps = 0);

} // namespace zelvar::charts
