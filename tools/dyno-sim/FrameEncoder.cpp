#include "tools/dyno-sim/FrameEncoder.h"

#include <algorithm>
#include <cmath>

namespace zelvar::dynosim {

namespace {

int toWord(double value)
{
    // Clamped before rounding: a value beyond what a long holds has no
    // rounded long to clamp.
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 65535.0)));
}

void putWord(TelemetryFrame& frame, int position, int word)
{
    frame.bytes[static_cast<std::size_t>(position)] = static_cast<std::uint8_t>(word >> 8);
    frame.bytes[static_cast<std::size_t>(position) + 1] = static_cast<std::uint8_t>(word & 0xFF);
}

TelemetryFrame framed(std::uint8_t kind)
{
    TelemetryFrame frame;
    frame.bytes[0] = TelemetryFrame::kSync0;
    frame.bytes[1] = TelemetryFrame::kSync1;
    frame.bytes[11] = kind;
    frame.bytes[12] = TelemetryFrame::kTrailer;
    return frame;
}

} // namespace

SampleCode quantise(double voltage, double current, double rpm)
{
    return {toWord(voltage * 100.0), toWord(current * 10.0), toWord(rpm / 100.0)};
}

void encodeTicks(int tick, std::uint8_t& b2, std::uint8_t& b3, std::uint8_t& b4)
{
    const int t = std::clamp(tick, 0, kMaxTick);
    const int high = std::min(t / 4096, 255);
    const int rest = t - high * 4096;
    b2 = static_cast<std::uint8_t>(high);
    b3 = static_cast<std::uint8_t>(rest / 256);
    b4 = static_cast<std::uint8_t>(rest % 256);
}

TelemetryFrame sampleFrame(TelemetryFrame::Kind kind, int tick, const SampleCode& code)
{
    TelemetryFrame frame = framed(kind);
    encodeTicks(tick, frame.bytes[2], frame.bytes[3], frame.bytes[4]);
    putWord(frame, 5, code.voltage);
    putWord(frame, 7, code.current);
    putWord(frame, 9, code.rpm);
    return frame;
}

TelemetryFrame setupFrame(const SetupCode& code)
{
    TelemetryFrame frame = framed(TelemetryFrame::DynoSetup);
    putWord(frame, 3, code.radiusTenthsMm);
    putWord(frame, 5, code.weightTenthsG);
    frame.bytes[8] = static_cast<std::uint8_t>(code.escNeutral);
    frame.bytes[9] = static_cast<std::uint8_t>(code.interval);
    frame.bytes[10] = static_cast<std::uint8_t>(code.escFull);
    return frame;
}

} // namespace zelvar::dynosim
