#pragma once

#include "records/ReportReader.h"

#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::curves {

// The rig's losses from a coast-down: after the spin-up the motor is cut,
// the flywheel coasts, and its deceleration J·dω/dt measures the torque that
// bearings and air take at every speed it passes through. The coasting
// motor is counted with the rig: it adds no torque of its own in the model,
// and on a real rig its friction is measured here as the rig's.

// The records of a coast-down, [first, last].
struct CoastDown {
    std::size_t first = 0;
    std::size_t last = 0;
    double startTime = 0.0; // s
    double endTime = 0.0;   // s
    // What ended it: standstill, the brake (a jump of the deceleration), the
    // current coming back, or the end of the records.
    QString end;
};

struct CoastDownSettings {
    // A coast-down lasts at least this long, in s.
    double minSeconds = 2.0;
    // The brake is taken to start where the speed falls, over the next
    // `brakeLookAhead` s, by more than `brakeJump` times what the coast lost
    // over the second before, plus two steps of the speed's 100 RPM.
    double brakeLookAhead = 0.2;
    double brakeJump = 3.0;
    double rpmStep = 100.0;
};

// Where the search stopped, for the charts and the summary to say.
struct CoastDownSearch {
    std::optional<CoastDown> coast;
    QString reason; // why there is none; empty when there is one
};

// The coast-down after `spinUpLast`, the spin-up's last powered record: the
// records that follow it with the current at 0 and the speed never rising,
// up to standstill, the brake or the current coming back. `maxLossAtTopMnm`,
// when given, is the most torque the rig's losses can take at top speed (the
// motor's torque Kt·I at the end of the spin-up, less what still accelerated
// the flywheel): a stretch that decelerates much harder than that from its
// start is a brake, never a coast-down.
CoastDownSearch findCoastDown(const std::vector<ReportPoint>& rows, std::size_t spinUpLast, double inertia,
                              std::optional<double> maxLossAtTopMnm = std::nullopt,
                              const CoastDownSettings& settings = {});

// T_loss(ω) = c0 + c1·ω + c2·ω², ω in rad/s, torque in mN·m.
struct LossFit {
    CoastDown coast;
    std::array<double, 3> c{};                         // mN·m, mN·m·s, mN·m·s²
    std::array<std::array<double, 3>, 3> covariance{}; // of c
    int terms = 3;                                     // 1 when the coast held one speed
    double minRpm = 0.0;                               // the speeds the coast-down covered
    double maxRpm = 0.0;
    // The smoothing's window on the coast, on average: it follows the speed.
    int windowRecords = 0;
    double windowSeconds = 0.0;

    double torqueMnm(double rpm) const;
    double sigmaMnm(double rpm) const;
    // The correction applies within the speeds the coast-down covered.
    bool covers(double rpm) const;
    // The fit and its coefficients in a line, for the charts.
    QString describe() const;
};

// Fits the losses to J·dω/dt of the coast-down's speed, smoothed by a local
// quadratic fit over a window just long enough for the speed to fall by
// fifteen of its 100 RPM steps (0.2 s to 6 s). With the
// speed held throughout (a rig without losses) only c0 is fitted. Cost:
// linear in the coast's records, a few milliseconds for hours of coast.
LossFit fitLosses(const std::vector<ReportPoint>& rows, const CoastDown& coast, double inertia);

} // namespace zelvar::curves
