#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zelvar {

struct RunRecord;

namespace session {

// One sample of the live trace.
struct TracePoint {
    double runTime = 0.0;    // s
    double rpm = 0.0;        // 1/min
    double inputPower = 0.0; // W
};

// The samples of the run being recorded, as the receiver hands them over. The
// receiver must never wait on drawing, so appending only stores the sample;
// whoever draws looks at it later, at its own pace. The memory it takes is
// bounded: at capacity every second sample is dropped and from then on only
// every second sample is kept, and so on, so a run of any length fits.
class LiveTrace {
public:
    static constexpr std::size_t kDefaultCapacity = 1 << 17;

    explicit LiveTrace(std::size_t capacity = kDefaultCapacity);

    // A new run: the trace starts empty.
    void clear();
    void append(const TracePoint& point);
    void append(const RunRecord& record);

    const std::vector<TracePoint>& points() const { return points_; }
    // Goes up with every change, so a reader can tell whether there is
    // anything new since it last looked.
    std::uint64_t version() const { return version_; }
    // Samples handed over since the last clear(), kept or not.
    std::uint64_t appended() const { return appended_; }

private:
    std::size_t capacity_;
    std::vector<TracePoint> points_;
    std::size_t stride_ = 1;
    std::uint64_t appended_ = 0;
    std::uint64_t version_ = 0;
};

// Decides when a live chart may redraw: only when something changed, and
// never sooner than the minimum interval after the last redraw, however
// often it is asked and however fast samples arrive.
class RedrawLimiter {
public:
    static constexpr std::chrono::milliseconds kMinInterval{50}; // 20 redraws a second

    explicit RedrawLimiter(std::chrono::milliseconds minInterval = kMinInterval) : minInterval_(minInterval) {}

    // True when a redraw may run at `now`; a true answer counts as that
    // redraw.
    bool take(std::chrono::milliseconds now, bool changed);
    // The next redraw may run at once (a new run, a window shown again).
    void reset() { last_.reset(); }

private:
    std::chrono::milliseconds minInterval_;
    std::optional<std::chrono::milliseconds> last_;
};

} // namespace session
} // namespace zelvar
