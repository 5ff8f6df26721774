#include "curves/SpinUps.h"

#include <algorithm>

namespace zelvar::curves {

void SpinUpFinder::add(double runTime, double rpm)
{
    const std::size_t i = index_++;
    if (i == 0) {
        low_ = 0;
        lowRpm_ = rpm;
        lowTime_ = runTime;
        lastRpm_ = rpm;
        return;
    }
    if (!rising_) {
        if (rpm <= lowRpm_) {
            low_ = i;
            lowRpm_ = rpm;
            lowTime_ = runTime;
        } else if (rpm >= lowRpm_ + kMinRiseRpm) {
            rising_ = true;
            top_ = i;
            topFirst_ = i;
            topRpm_ = rpm;
            topTime_ = runTime;
        }
    } else if (rpm <= topRpm_ - std::max(kMinRiseRpm, 0.1 * (topRpm_ - lowRpm_))) {
        close(true);
        rising_ = false;
        holding_ = false;
        low_ = i;
        lowRpm_ = rpm;
        lowTime_ = runTime;
    } else if (!holding_) {
        // No new top for longer than the rise took: the motor holds its
        // speed, as in an endurance run, and its jitter there must not
        // stretch the spin-up over hours of running.
        const bool newTop = rpm > topRpm_;
        const bool stretch = rpm == topRpm_ && top_ + 1 == i && lastRpm_ == rpm;
        const std::size_t since = stretch ? topFirst_ : top_;
        if (i - since > topFirst_ - low_) {
            holding_ = true;
        } else if (newTop) {
            top_ = i;
            topFirst_ = i;
            topRpm_ = rpm;
            topTime_ = runTime;
        } else if (stretch) {
            // Still the first stretch at top speed.
            top_ = i;
            topTime_ = runTime;
        }
    }
    lastRpm_ = rpm;
}

void SpinUpFinder::close(bool complete)
{
    FoundSpinUp s;
    s.rows = {low_, top_};
    s.startTime = lowTime_;
    s.duration = topTime_ - lowTime_;
    s.topRpm = topRpm_;
    s.complete = complete;
    found_.push_back(s);
    rises_.push_back(topRpm_ - lowRpm_);
}

std::vector<FoundSpinUp> SpinUpFinder::finish()
{
    if (rising_) {
        close(false);
        rising_ = false;
        holding_ = false;
    }
    double largest = 0.0;
    for (const double rise : rises_)
        largest = std::max(largest, rise);
    std::vector<FoundSpinUp> kept;
    for (std::size_t k = 0; k < found_.size(); ++k) {
        const FoundSpinUp& s = found_[k];
        if (s.rows.last - s.rows.first + 1 >= 3 && rises_[k] >= 0.1 * largest)
            kept.push_back(s);
    }
    found_.clear();
    rises_.clear();
    return kept;
}

std::vector<FoundSpinUp> findSpinUps(const std::vector<ReportPoint>& rows)
{
    SpinUpFinder finder;
    for (const ReportPoint& row : rows)
        finder.add(row.runTime, row.rpm);
    return finder.finish();
}

std::optional<std::size_t> defaultSpinUp(const std::vector<FoundSpinUp>& spinUps)
{
    std::optional<std::size_t> best;
    for (std::size_t k = 0; k < spinUps.size(); ++k) {
        if (!best) {
            best = k;
            continue;
        }
        const FoundSpinUp& a = spinUps[k];
        const FoundSpinUp& b = spinUps[*best];
        if (a.complete != b.complete ? a.complete : a.duration > b.duration)
            best = k;
    }
    return best;
}

} // namespace zelvar::curves
