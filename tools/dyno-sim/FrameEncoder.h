#pragma once

#include "link/TelemetryFrame.h"

#include <cstdint>

namespace zelvar::dynosim {

// The largest tick count the three tick bytes carry: 255 * 4096 + 255 * 256
// + 255. The controller's clock stops there.
inline constexpr int kMaxTick = 1110015;

// The raw numbers a sample frame carries, rounded to the nearest step and
// held within what two bytes hold (0 to 65535).
struct SampleCode {
    int voltage = 0; // 0.01 V
    int current = 0; // 0.1 A
    int rpm = 0;     // 100 RPM

    friend bool operator==(const SampleCode&, const SampleCode&) = default;
};

SampleCode quantise(double voltage, double current, double rpm);

// The set-up values as the frame carries them: radius and weight in tenths,
// ESC timings in 50 us steps, the interval in 10 ms steps.
struct SetupCode {
    int radiusTenthsMm = 300;
    int weightTenthsG = 2400;
    int escNeutral = 30; // * 50 us
    int escFull = 40;    // * 50 us
    int interval = 2;    // * 10 ms

    friend bool operator==(const SetupCode&, const SetupCode&) = default;
};

// Tick count bytes b2, b3, b4 with b2 * 4096 + b3 * 256 + b4 == tick. Byte 2
// takes as many 4096s as it can (at most 255), byte 3 the 256s of the rest,
// so counts above 1048575 still encode. `tick` is 0 to kMaxTick.
void encodeTicks(int tick, std::uint8_t& b2, std::uint8_t& b3, std::uint8_t& b4);

TelemetryFrame sampleFrame(TelemetryFrame::Kind kind, int tick, const SampleCode& code);
TelemetryFrame setupFrame(const SetupCode& code);

} // namespace zelvar::dynosim
