#pragma once

#include "EventLoop.h"

#include "charts/ChartWindow.h"

#include <chrono>

namespace zelvar::testing_support {

// Runs the event loop until the chart window has read every report asked
// for, as an operator waits for the curves; false when that took too long.
inline bool waitForReadings(const ChartWindow& window, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    return pumpUntil([&] { return !window.reading(); }, limit);
}

} // namespace zelvar::testing_support
