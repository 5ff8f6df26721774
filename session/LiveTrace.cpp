#include "session/LiveTrace.h"

#include "records/RunRecord.h"

#include <algorithm>

namespace zelvar::session {

LiveTrace::LiveTrace(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 2))
{
    points_.reserve(std::min<std::size_t>(capacity_, 4096));
}

void LiveTrace::clear()
{
    points_.clear();
    stride_ = 1;
    appended_ = 0;
    ++version_;
}

void LiveTrace::append(const TracePoint& point)
{
    const std::uint64_t index = appended_++;
    if (index % stride_ != 0)
        return;
    points_.push_back(point);
    ++version_;
    if (points_.size() >= capacity_) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < points_.size(); i += 2)
            points_[kept++] = points_[i];
        points_.resize(kept);
        stride_ *= 2;
    }
}

void LiveTrace::append(const RunRecord& record)
{
    append(TracePoint{record.runTime.toDouble(), record.rpm.toDouble(),
                      record.outputVoltage.toDouble() * record.outputCurrent.toDouble()});
}

bool RedrawLimiter::take(std::chrono::milliseconds now, bool changed)
{
    if (!changed)
        return false;
    if (last_ && now - *last_ < minInterval_)
        return false;
    last_ = now;
    return true;
}

} // namespace zelvar::session
