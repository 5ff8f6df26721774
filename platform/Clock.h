#pragma once

#include <functional>

namespace zelvar {

// Time of day in seconds since midnight, with fractions.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double secondsSinceMidnight() const = 0;
};

// The machine's local time of day.
class SystemClock final : public Clock {
public:
    double secondsSinceMidnight() const override;
};

} // namespace zelvar
