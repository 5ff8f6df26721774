#pragma once

#include "platform/Clock.h"

namespace zelvar {

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
