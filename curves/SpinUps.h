#pragma once

#include "records/ReportReader.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::curves {

// The records of one spin-up: from the last record at the lowest speed
// before it rises, to the last record of the first stretch at its top speed.
// Before it the flywheel stands or turns slowly; after it the brake, a coast
// or the next pull takes over, and a fit across either kink would smear it
// into the curve.
struct SpinUp {
    std::size_t first = 0;
    std::size_t last = 0;
};

// A spin-up as the report view lists it.
struct FoundSpinUp {
    SpinUp rows;
    double startTime = 0.0; // s, run time of its first record
    double duration = 0.0;  // s, to its last record
    double topRpm = 0.0;
    // The speed fell clearly from its top before the run ended: a brake or
    // a coast followed. A run stopped at top speed leaves its last spin-up
    // open, and it may not have reached the speed it would have.
    bool complete = false;
};

// Finds the spin-ups of a run one record at a time, so that a report of any
// length is looked at once and not kept. A rise counts once the speed is
// kMinRiseRpm above the lowest before it, and ends when it falls by a tenth
// of its rise (at least kMinRiseRpm) below its top: the 100 RPM steps of the
// record and the jitter of a standing or steadily running motor start and
// end none. A spin-up reaches its top when no higher speed (nor the first
// stretch at it) follows within as many records as the rise took: a motor
// held at speed for hours makes a spin-up of its rise, not of the hours.
class SpinUpFinder {
public:
    static constexpr double kMinRiseRpm = 200.0;

    void add(double runTime, double rpm);
    // Every spin-up in order, without those of fewer than three records or
    // whose rise is below a tenth of the largest one (a stumble of the
    // throttle on top speed is not a spin-up).
    std::vector<FoundSpinUp> finish();

private:
    void close(bool complete);

    std::vector<FoundSpinUp> found_;
    std::vector<double> rises_;
    std::size_t index_ = 0;
    bool rising_ = false;
    bool holding_ = false; // at top speed after the rise, until it falls
    std::size_t low_ = 0;
    double lowRpm_ = 0.0;
    double lowTime_ = 0.0;
    std::size_t top_ = 0;
    std::size_t topFirst_ = 0; // where the speed first reached topRpm_
    double topRpm_ = 0.0;
    double topTime_ = 0.0;
    double lastRpm_ = 0.0;
};

std::vector<FoundSpinUp> findSpinUps(const std::vector<ReportPoint>& rows);

// The spin-up drawn when none is chosen: the longest complete one, the
// earliest of equals; the longest open one when none is complete. None for
// an empty list.
std::optional<std::size_t> defaultSpinUp(const std::vector<FoundSpinUp>& spinUps);

} // namespace zelvar::curves
