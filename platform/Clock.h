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

// A clock that shows whatever a test sets.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double seconds = 0.0) : seconds_(seconds) {}
    double secondsSinceMidnight() const override { return seconds_; }
    void set(double seconds) { seconds_ = seconds; }
    void advance(double seconds) { seconds_ += seconds; }

private:
    double seconds_;
};

} // namespace zelvar
