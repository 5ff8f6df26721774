#pragma once

#include <cstddef>
#include <vector>

namespace zelvar::sets {

// Values on a regular grid: `values[row * columns + column]` at x[column],
// y[row]. A NaN marks a grid point without a value (outside what was
// measured); no line is drawn through a cell that touches one.
struct Grid {
    std::vector<double> x; // ascending
    std::vector<double> y; // ascending
    std::vector<double> values;

    std::size_t columns() const { return x.size(); }
    std::size_t rows() const { return y.size(); }
    double at(std::size_t column, std::size_t row) const { return values[row * x.size() + column]; }
};

struct ContourPoint {
    double x = 0.0;
    double y = 0.0;
};

// One line of equal value: open, from border to border of the grid or of
// its region with values, or closed (its last point is its first).
struct ContourLine {
    double level = 0.0;
    std::vector<ContourPoint> points;
    bool closed = false;
};

// The lines where the grid's values cross `level`, by marching squares:
// each cell's crossings interpolated linearly along its edges, the cells'
// pieces joined into whole lines through the edges they share. A saddle
// cell (two opposite corners above the level, two below) is resolved by the
// mean of its corners, so that neighbouring cells never join a line twice.
// A value exactly at the level counts as above it. Linear in the cells.
std::vector<ContourLine> contourLines(const Grid& grid, double level);

// Round levels for a map's contours: every `step` from the first multiple
// of it above `lowest` up to `highest`, at most `maxLevels` of them (the
// step taken 2, 5, 10, 20, 50 ... times until they fit).
std::vector<double> contourLevels(double lowest, double highest, double step, std::size_t maxLevels = 10);

} // namespace zelvar::sets
