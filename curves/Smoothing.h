#pragma once

#include "curves/SpinUps.h"
#include "records/ReportReader.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::curves {

// The value and the first derivative of a local polynomial fit at one point.
struct LocalFit {
    double value = 0.0;
    double slope = 0.0; // per unit of x
};

// For each point i of [first, last], a least-squares polynomial of `degree`
// fitted to 2 * halfWindow + 1 neighbouring points, evaluated at x[i]. The
// window keeps its length at both ends of the range by sliding inward, so
// that no point from outside [first, last] enters a fit. With evenly spaced
// x and a centred window this is the Savitzky-Golay filter; the fit is done
// in x itself, so a missing record or an uneven step does not bend it.
// Returns last - first + 1 fits; none when the range is empty. When the
// range holds fewer points than a window, the window is the whole range and
// the degree falls to what its points can fix.
std::vector<LocalFit> localPolynomialFit(const std::vector<double>& x, const std::vector<double>& y, std::size_t first,
                                         std::size_t last, int halfWindow, int degree);

struct SmoothingSettings {
    // The window's half-width, as a share of the time the spin-up takes to
    // reach 63 % of its rise (the time constant of a motor spinning up a
    // flywheel). The flywheel's inertia sets both how fast the speed bends
    // and how coarse the 100 RPM steps are against the torque, so a window
    // that follows the run's own time scale suits light and heavy flywheels
    // alike.
    double windowShare = 0.2;
    int minHalfWindow = 5;  // records
    int maxHalfWindow = 50; // records
    int degree = 2;
    // The efficiency is drawn where the smoothed torque is at least this
    // share of its peak. Near top speed the torque falls to a few 100 RPM
    // steps over the whole window, and the output power, a small difference
    // of them, is no longer measured: its ratio to the input would be noise.
    double efficiencyTorqueShare = 0.05;
};

struct SmoothedPoint {
    double runTime = 0.0;     // s
    double rpm = 0.0;         // fitted
    double torque = 0.0;      // mN·m, J dω/dt
    double outputPower = 0.0; // W, torque × ω
    double inputPower = 0.0;  // W, as recorded
    double efficiency = 0.0;  // %, output / input, held to 0 to 100; 0 without input
    // The torque is large enough for the efficiency to mean something.
    bool efficiencyResolved = false;
};

struct SmoothedSpinUp {
    std::vector<SmoothedPoint> points;
    SpinUp rows;
    int windowRecords = 0; // 2 × half-width + 1
    double windowSeconds = 0.0;
    int degree = 0;
    double efficiencyTorqueShare = 0.05;

    // What was done, for the charts to say: a line each for the method and
    // the ends, two lines ("\n") for the efficiency.
    QString method() const;
    QString edges() const;
    QString efficiencyNote() const;
};

// Torque, output power and efficiency of the spin-up from a fit of RPM
// against run time, differentiated: torque = J dω/dt with J in kg·m²
// (mN·m out), power = torque × ω with the fitted ω. The report's own
// torque comes from the rise between two records, in 100 RPM steps, and is 0
// for a rise of 100 or less; the fit spreads the rise over its window
// instead. The spin-up is the one drawn when none is chosen (defaultSpinUp());
// none when the report has none.
std::optional<SmoothedSpinUp> smoothSpinUp(const std::vector<ReportPoint>& rows, double inertia,
                                           const SmoothingSettings& settings = {});
// The same for the spin-up `spinUp` of `rows`.
std::optional<SmoothedSpinUp> smoothSpinUp(const std::vector<ReportPoint>& rows, SpinUp spinUp, double inertia,
                                           const SmoothingSettings& settings = {});

} // namespace zelvar::curves
