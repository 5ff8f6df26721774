#pragma once

#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::sets {

// How one quantity spreads over a set of runs.
struct Spread {
    std::size_t count = 0;
    double mean = 0.0;
    // The sample standard deviation (n − 1 in the denominator): the runs are
    // a sample of what the motor does. None for a single value.
    std::optional<double> standardDeviation;
    double lowest = 0.0;
    double highest = 0.0;

    double range() const { return highest - lowest; }
};

// The spread of `values`; none when there are none. Two passes over the
// values, so that a mean far from 0 costs the deviation no digits.
std::optional<Spread> spreadOf(const std::vector<double>& values);

// One row of curves::figureRows() taken over a set of runs: the runs that
// give the figure, and the mean written to the digits its standard
// deviation supports (at most the row's own), as every printout writes a
// figure with its ±.
struct FigureRowSpread {
    QString name;
    QString unit;
    bool atRpm = false;
    std::optional<Spread> spread;
    std::size_t refused = 0; // runs that do not give the figure
    curves::FigureText text; // the mean and "± SD"; empty without a run that gives it
};

// The rows of figureRows() of every run in `runs`, in its order.
std::vector<FigureRowSpread> figureSpreads(const std::vector<curves::MotorFigures>& runs);

} // namespace zelvar::sets
