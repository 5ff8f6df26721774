#pragma once

#include "platform/Decimal.h"

#include <array>
#include <cstdint>

namespace zelvar {

// One 13-byte frame from the dyno controller: sync bytes 0xD9 0xAB, a tick
// count, the payload, a kind byte and the trailer 0xFA. There is no length
// field and no checksum.
struct TelemetryFrame {
    static constexpr int kSize = 13;
    static constexpr std::uint8_t kSync0 = 0xD9;
    static constexpr std::uint8_t kSync1 = 0xAB;
    static constexpr std::uint8_t kTrailer = 0xFA;

    enum Kind : std::uint8_t {
        RunSample = 0x40,
        LiveSample = 0x60,
        DynoSetup = 0x50,
    };

    std::array<std::uint8_t, kSize> bytes{};

    std::uint8_t operator[](int position) const { return bytes[static_cast<std::size_t>(position)]; }

    std::uint8_t kind() const { return bytes[11]; }
    bool hasTrailer() const { return bytes[12] == kTrailer; }
    bool is(Kind k) const { return kind() == k && hasTrailer(); }

    // T = b2 * 4096 + b3 * 256 + b4. Byte 2 weighs 4096, not 65536, so
    // different byte patterns can give the same count; the controller counts
    // this way and the run times follow it. One tick is 10 ms.
    int tickCount() const { return bytes[2] * 4096 + bytes[3] * 256 + bytes[4]; }

    // Sample values (RunSample and LiveSample).
    double runTime() const { return tickCount() / 100.0; } // s
    Decimal outputVoltage() const;                         // V, 0.01 steps
    Decimal outputCurrent() const;                         // A, 0.1 steps
    Decimal rpm() const;                                   // 1/min, 100 steps

    // Set-up values (DynoSetup). The controller puts the neutral timing at
    // position 8, the interval at 9 and the full-throttle timing at 10.
    double flywheelRadius() const { return word(3) / 10.0; } // mm
    double flywheelWeight() const { return word(5) / 10.0; } // g
    double escNeutral() const { return bytes[8] * 50.0; }    // us
    double escFull() const { return bytes[10] * 50.0; }      // us
    double interval() const { return bytes[9] * 10.0; }      // ms

    // Big-endian two-byte number at `position`.
    int word(int position) const
    {
        return bytes[static_cast<std::size_t>(position)] * 256 + bytes[static_cast<std::size_t>(position) + 1];
    }
};

} // namespace zelvar
