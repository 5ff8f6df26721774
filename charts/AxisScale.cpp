#include "charts/AxisScale.h"

#include <algorithm>
#include <cmath>

namespace zelvar::charts {

namespace {

constexpr double kRoundFactors[] = {1.0, 2.0, 2.5, 5.0};

// Round steps from below `smallest` upwards, in order.
template <typename Take>
RoundScale firstRoundStep(double smallest, Take take)
{
    const double decade = std::pow(10.0, std::floor(std::log10(smallest)) - 1.0);
    for (double scale = decade;; scale *= 10.0) {
        for (const double factor : kRoundFactors) {
            RoundScale candidate;
            if (take(factor * scale, candidate))
                return candidate;
        }
    }
}

} // namespace

RoundScale roundScale(double lo, double hi, double least, int steps)
{
    if (!(hi >= lo) || !std::isfinite(lo) || !std::isfinite(hi))
        lo = hi = 0.0;
    const double width = std::max(hi - lo, least);
    hi = std::max(hi, lo + least);
    const int fewest = steps > 0 ? steps : 3;
    const int most = steps > 0 ? steps : 7;
    return firstRoundStep(width / most, [&](double step, RoundScale& scale) {
        const double from = std::floor(lo / step + 1e-9) * step;
        const int needed = std::max(fewest, static_cast<int>(std::ceil((hi - from) / step - 1e-9)));
        if (needed > most)
            return false;
        scale = {from, from + needed * step, step, needed};
        return true;
    });
}

} // namespace zelvar::charts
