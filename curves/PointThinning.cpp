#include "curves/PointThinning.h"

#include <algorithm>
#include <cmath>

namespace zelvar::curves {

PointThinning::PointThinning(int columns, int rows, std::size_t maxCells)
    : limit_{std::max(1, columns), std::max(1, rows)}, maxCells_(std::max<std::size_t>(1, maxCells))
{
}

std::uint64_t PointThinning::keyOf(QPointF p) const
{
    const auto cell = [](double offset, double width) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(offset / width)));
    };
    return (static_cast<std::uint64_t>(cell(p.x() - origin_.x(), width_[0])) << 32)
         | cell(p.y() - origin_.y(), width_[1]);
}

void PointThinning::fitRange(int axis, double range)
{
    if (range / width_[axis] <= limit_[axis])
        return;
    // Straight to the power of two that holds the range, in one rebuild.
    width_[axis] = std::max(width_[axis], std::exp2(std::ceil(std::log2(range / limit_[axis]))));
    while (range / width_[axis] > limit_[axis])
        width_[axis] *= 2.0;
    rebuild();
}

void PointThinning::coarsen(int axis)
{
    width_[axis] *= 2.0;
    rebuild();
}

void PointThinning::rebuild()
{
    cells_.clear();
    std::vector<std::pair<std::size_t, QPointF>> kept;
    kept.reserve(points_.size());
    for (const auto& entry : points_) {
        if (cells_.emplace(keyOf(entry.second), kept.size()).second)
            kept.push_back(entry);
    }
    points_ = std::move(kept);
}

void PointThinning::add(QPointF p)
{
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
        return;
    const std::size_t order = added_++;
    if (order == 0) {
        origin_ = p;
        for (auto& extreme : extremes_)
            extreme = {order, p};
    }
    if (p.x() < xLo_)
        extremes_[0] = {order, p};
    if (p.x() > xHi_)
        extremes_[1] = {order, p};
    if (p.y() < yLo_)
        extremes_[2] = {order, p};
    if (p.y() > yHi_)
        extremes_[3] = {order, p};
    xLo_ = std::min(xLo_, p.x());
    xHi_ = std::max(xHi_, p.x());
    yLo_ = std::min(yLo_, p.y());
    yHi_ = std::max(yHi_, p.y());
    fitRange(0, xHi_ - xLo_);
    fitRange(1, yHi_ - yLo_);
    if (cells_.emplace(keyOf(p), points_.size()).second)
        points_.emplace_back(order, p);
    while (cells_.size() > maxCells_)
        coarsen((xHi_ - xLo_) / width_[0] >= (yHi_ - yLo_) / width_[1] ? 0 : 1);
}

std::vector<QPointF> PointThinning::points() const
{
    std::vector<std::pair<std::size_t, QPointF>> all = points_;
    if (added_ > 0)
        all.insert(all.end(), std::begin(extremes_), std::end(extremes_));
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<QPointF> kept;
    kept.reserve(all.size());
    for (std::size_t k = 0; k < all.size(); ++k) {
        if (k == 0 || all[k].first != all[k - 1].first)
            kept.push_back(all[k].second);
    }
    return kept;
}

ThinnedSeries seriesOf(const PointThinning& thinning)
{
    ThinnedSeries series;
    series.points = thinning.points();
    if (!series.points.empty()) {
        series.xLo = thinning.xLo();
        series.xHi = thinning.xHi();
        series.yLo = thinning.yLo();
        series.yHi = thinning.yHi();
    }
    return series;
}

std::vector<QPointF> downsample(const std::vector<QPointF>& points, std::size_t maxPoints)
{
    if (points.size() <= maxPoints)
        return points;
    std::vector<QPointF> kept;
    if (maxPoints == 0)
        return kept;
    if (maxPoints == 1) {
        kept.push_back(points.front());
        return kept;
    }
    const std::size_t runs = maxPoints / 2;
    kept.reserve(2 * runs);
    for (std::size_t r = 0; r < runs; ++r) {
        const std::size_t begin = r * points.size() / runs;
        const std::size_t end = (r + 1) * points.size() / runs;
        std::size_t lowest = begin;
        std::size_t highest = begin;
        for (std::size_t i = begin + 1; i < end; ++i) {
            if (points[i].y() < points[lowest].y())
                lowest = i;
            if (points[i].y() > points[highest].y())
                highest = i;
        }
        kept.push_back(points[std::min(lowest, highest)]);
        if (lowest != highest)
            kept.push_back(points[std::max(lowest, highest)]);
    }
    return kept;
}

} // namespace zelvar::curves
