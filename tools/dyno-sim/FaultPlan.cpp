#include "tools/dyno-sim/FaultPlan.h"

#include <algorithm>
#include <utility>

namespace zelvar::dynosim {

FaultPlan::FaultPlan(const FaultOptions& options) : options_(options), random_(options.seed)
{
    options_.burstTicks = std::max(1, options_.burstTicks);
}

bool FaultPlan::chance(double probability)
{
    if (probability <= 0.0)
        return false; // draws nothing, so that a fault left off does not shift the others
    const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;
    return draw < probability;
}

std::uint8_t FaultPlan::randomByte()
{
    return static_cast<std::uint8_t>(random_() >> 56);
}

Delivery FaultPlan::push(const std::vector<TelemetryFrame>& frames)
{
    for (TelemetryFrame frame : frames) {
        if (chance(options_.badTrailer)) {
            std::uint8_t trailer = randomByte();
            while (trailer == TelemetryFrame::kTrailer)
                trailer = randomByte();
            frame.bytes[12] = trailer;
            ++counts_.badTrailers;
        }
        if (chance(options_.badKind)) {
            std::uint8_t kind = randomByte();
            while (kind == TelemetryFrame::RunSample || kind == TelemetryFrame::LiveSample
                   || kind == TelemetryFrame::DynoSetup)
                kind = randomByte();
            frame.bytes[11] = kind;
            ++counts_.badKinds;
        }
        if (chance(options_.stray)) {
            const int count = 1 + static_cast<int>(random_() % 4);
            for (int i = 0; i < count; ++i) {
                // A stray 0xD9 now and then makes the receiver resynchronise
                // on a false start, which uniform noise would rarely do.
                const std::uint8_t byte = random_() % 4 == 0 ? TelemetryFrame::kSync0 : randomByte();
                held_.bytes.append(static_cast<char>(byte));
            }
            counts_.strayBytes += count;
        }
        const QByteArray bytes(reinterpret_cast<const char*>(frame.bytes.data()), TelemetryFrame::kSize);
        held_.bytes += bytes;
        ++held_.frames;
        if (chance(options_.duplicate)) {
            held_.bytes += bytes;
            ++held_.frames;
            ++counts_.duplicates;
        }
    }
    if (++heldTicks_ < options_.burstTicks)
        return {};
    return flush();
}

Delivery FaultPlan::flush()
{
    heldTicks_ = 0;
    return std::exchange(held_, Delivery{});
}

} // namespace zelvar::dynosim
