#pragma once

// Frame bytes for the tests that play the dyno controller, made by dyno-sim's
// encoder: the tests and the simulator then agree on the layout, and a test
// says what a frame holds rather than spelling out its bytes.

#include "link/TelemetryFrame.h"
#include "tools/dyno-sim/FrameEncoder.h"

#include <QByteArray>

namespace zelvar::testing_support {

// 12 V, 10 A, 1000 RPM: a sample for tests that care about its ticks alone.
inline constexpr dynosim::SampleCode kSampleValues{1200, 100, 10};

QByteArray bytesOf(const TelemetryFrame& frame);

// A sample frame with any kind byte and trailer, so that tests can also send
// the kinds and trailers the program must reject.
QByteArray frameBytes(int kind, int ticks, const dynosim::SampleCode& code = kSampleValues,
                      int trailer = TelemetryFrame::kTrailer);

// Run and live samples at 12 V and 10 A.
QByteArray runSample(int ticks, int rpmHundreds = 10);
QByteArray liveSample(int ticks, int rpmHundreds = 10);

// By default 30 mm, 240 g, ESC 1500 and 2000 us, an interval of 20 ms.
QByteArray setupFrame(const dynosim::SetupCode& code = {});

} // namespace zelvar::testing_support
