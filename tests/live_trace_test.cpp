// The live trace of a run and its redraw limit.

#include "records/RunRecord.h"
#include "session/LiveTrace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

using namespace zelvar;
using namespace zelvar::session;
using namespace std::chrono_literals;

namespace {

// ---------------------------------------------------------------------------
// The live trace.

TEST(LiveTrace, StoresEachSampleAndCountsItsChanges)
{
    LiveTrace trace;
    const std::uint64_t start = trace.version();
    trace.append(RunRecord{Decimal::scaled(2, 2), Decimal::scaled(1150, 2), Decimal::scaled(1084, 1), Decimal(900)});
    ASSERT_EQ(trace.points().size(), 1u);
    EXPECT_EQ(trace.points()[0].runTime, 0.02);
    EXPECT_EQ(trace.points()[0].rpm, 900.0);
    EXPECT_NEAR(trace.points()[0].inputPower, 11.5 * 108.4, 1e-9);
    EXPECT_GT(trace.version(), start);

    const std::uint64_t beforeClear = trace.version();
    trace.clear();
    EXPECT_TRUE(trace.points().empty());
    EXPECT_EQ(trace.appended(), 0u);
    EXPECT_GT(trace.version(), beforeClear) << "a new run is a change to draw";
}

TEST(LiveTrace, ALongRunIsThinnedEvenlyWithinItsCapacity)
{
    LiveTrace trace(64);
    for (int i = 0; i < 1000; ++i)
        trace.append(TracePoint{0.02 * i, 100.0 * i, 1.0});
    EXPECT_EQ(trace.appended(), 1000u);
    ASSERT_LT(trace.points().size(), 64u);
    EXPECT_GE(trace.points().size(), 32u - 1);
    EXPECT_EQ(trace.points().front().rpm, 0.0) << "the start of the run stays";
    const double step = trace.points()[1].rpm - trace.points()[0].rpm;
    for (std::size_t i = 1; i < trace.points().size(); ++i)
        EXPECT_EQ(trace.points()[i].rpm - trace.points()[i - 1].rpm, step) << "point " << i;
    EXPECT_GT(trace.points().back().rpm, 100.0 * 1000 - 2 * step) << "and its end";
}

// ---------------------------------------------------------------------------
// The redraw limit.

TEST(RedrawLimiter, AFullRateStreamIsDrawnAtMostTwentyTimesASecond)
{
    // 886 samples a second (115200 baud, one frame each), the limit asked
    // every millisecond, over ten seconds of a scripted clock.
    RedrawLimiter limiter;
    LiveTrace trace;
    std::uint64_t drawn = trace.version();
    int redraws = 0;
    for (int ms = 0; ms <= 10000; ++ms) {
        if (ms * 886 / 1000 != (ms - 1) * 886 / 1000)
            trace.append(TracePoint{ms / 1000.0, 1000, 10});
        if (limiter.take(std::chrono::milliseconds(ms), trace.version() != drawn)) {
            drawn = trace.version();
            ++redraws;
        }
    }
    EXPECT_LE(redraws, 201) << "10 s at 20 a second, the first at once";
    EXPECT_GE(redraws, 195) << "and the trace is kept up to date";
}

TEST(RedrawLimiter, DrawsOnlyWhatChangedAndAtOnceAfterAReset)
{
    RedrawLimiter limiter(50ms);
    EXPECT_FALSE(limiter.take(0ms, false)) << "nothing new";
    EXPECT_TRUE(limiter.take(0ms, true));
    EXPECT_FALSE(limiter.take(49ms, true));
    EXPECT_TRUE(limiter.take(50ms, true));
    EXPECT_FALSE(limiter.take(60ms, true));
    limiter.reset();
    EXPECT_TRUE(limiter.take(61ms, true)) << "a new run is drawn at once";
    EXPECT_FALSE(limiter.take(1000ms, false));
}

} // namespace
