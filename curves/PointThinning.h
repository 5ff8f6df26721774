#pragma once

#include <QPointF>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

namespace zelvar::curves {

// Thins a scatter, met one point at a time, to what a plot can show: the
// plane is cut into cells and each cell keeps the first point that fell into
// it, together with the points at the lowest and highest y and x met (an
// outlier is what the eye looks for, and the axes are set from them).
//
// The cells start fine and are merged two by two along an axis whenever
// that axis' range holds more than `columns` (or `rows`) of them, so that
// they end no wider than 1 / `columns` of the range whatever the values'
// unit: with twice as many cells as the plot has pixels, two points that
// share a cell would share a pixel. Should a scatter fill more than
// `maxCells` cells, the axis with the most cells is merged as well: a noisy
// scatter then keeps a point every pixel or two, which a 5-pixel marker
// covers anyway.
class PointThinning {
public:
    PointThinning(int columns, int rows, std::size_t maxCells);

    void add(QPointF p);

    std::size_t added() const { return added_; }
    // The kept points, in the order they were met.
    std::vector<QPointF> points() const;
    // The range of every point added; empty (lo > hi) before the first.
    double xLo() const { return xLo_; }
    double xHi() const { return xHi_; }
    double yLo() const { return yLo_; }
    double yHi() const { return yHi_; }
    // The cells' size, in the values' units.
    double cellWidth() const { return width_[0]; }
    double cellHeight() const { return width_[1]; }

private:
    std::uint64_t keyOf(QPointF p) const;
    void fitRange(int axis, double range);
    void coarsen(int axis);
    void rebuild();

    int limit_[2];
    std::size_t maxCells_;
    // Finer than any value a report holds; the first ranges widen them.
    double width_[2] = {0x1p-40, 0x1p-40};
    std::size_t added_ = 0;
    double xLo_ = std::numeric_limits<double>::infinity();
    double xHi_ = -std::numeric_limits<double>::infinity();
    double yLo_ = std::numeric_limits<double>::infinity();
    double yHi_ = -std::numeric_limits<double>::infinity();
    // Cells are counted from the first point, so that their numbers stay
    // small whatever the values. Cell -> its point's place in points_.
    QPointF origin_;
    std::unordered_map<std::uint64_t, std::size_t> cells_;
    std::vector<std::pair<std::size_t, QPointF>> points_; // (order met, point)
    // The points at the lowest and highest x and y met, in that order.
    std::pair<std::size_t, QPointF> extremes_[4];
};

// A scatter thinned for drawing, and the range of all its points.
struct ThinnedSeries {
    std::vector<QPointF> points;
    double xLo = 0.0, xHi = 0.0, yLo = 0.0, yHi = 0.0;
    bool empty() const { return points.empty(); }
};

// What a thinning kept, with the range of every point it was given.
ThinnedSeries seriesOf(const PointThinning& thinning);

// The report's own points against RPM, thinned.
struct ThinnedReport {
    ThinnedSeries torque;
    ThinnedSeries outputPower;
    ThinnedSeries efficiency;
};

// Cells per axis of the thinning: twice the pixels of the largest chart the
// program draws (the PNG's, 1000 pixels wide), so that whatever two points
// share a cell would share a pixel. Past kMaxThinnedPoints cells a scatter is
// a blot on any screen.
inline constexpr int kThinningColumns = 2048;
inline constexpr int kThinningRows = 1024;
inline constexpr std::size_t kMaxThinnedPoints = 10000;

// At most `maxPoints` of `points`, in order: the points are cut into runs of
// consecutive points and each run keeps its lowest and its highest point, so
// that a spike survives the thinning. Fewer points than that come back as
// they are.
std::vector<QPointF> downsample(const std::vector<QPointF>& points, std::size_t maxPoints);

} // namespace zelvar::curves
