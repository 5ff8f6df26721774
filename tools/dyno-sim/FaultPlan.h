#pragma once

#include "link/TelemetryFrame.h"

#include <QByteArray>

#include <cstdint>
#include <random>
#include <vector>

namespace zelvar::dynosim {

// Line faults, chosen per frame at random from one seed, so that a seed
// replays the same faults on the same stream.
struct FaultOptions {
    double stray = 0.0;      // chance that 1 to 4 stray bytes come before a frame
    double badTrailer = 0.0; // chance that a frame's trailer is not 0xFA
    double badKind = 0.0;    // chance that a frame's kind byte is no kind
    double duplicate = 0.0;  // chance that a frame goes out twice in a row
    int burstTicks = 1;      // the frames of this many ticks go out together
    std::uint64_t seed = 0;
};

struct FaultCounts {
    long long strayBytes = 0;
    long long badTrailers = 0;
    long long badKinds = 0;
    long long duplicates = 0;
};

// Bytes that go out on the line in one write, and how many frames they hold.
struct Delivery {
    QByteArray bytes;
    int frames = 0;
};

class FaultPlan {
public:
    explicit FaultPlan(const FaultOptions& options);

    // Takes the frames of one tick. Returns what goes out now: nothing while
    // a burst is being held back.
    Delivery push(const std::vector<TelemetryFrame>& frames);
    // What is still held back, at the end of the stream.
    Delivery flush();

    const FaultCounts& counts() const { return counts_; }

private:
    bool chance(double probability);
    std::uint8_t randomByte();

    FaultOptions options_;
    // mt19937_64 is defined to the bit by the standard, and the draws below
    // use none of the library's distributions, whose results may differ
    // between standard libraries: a seed gives the same faults everywhere.
    std::mt19937_64 random_;
    Delivery held_;
    int heldTicks_ = 0;
    FaultCounts counts_;
};

} // namespace zelvar::dynosim
