#pragma once

// Run files (Temp.dat) made up for the tests of the curves: spin-ups of a
// flywheel to 30000 RPM, each braked to a standstill, recorded every 20 ms in
// the dyno's steps (0.01 s, 0.01 V, 0.1 A, 100 RPM). Header only.

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace zelvar::testing_support {

// One spin-up of each length in `spins` (s), each followed by a brake of
// 0.5 s and a second at standstill.
inline QByteArray runOfSpinUps(std::initializer_list<double> spins)
{
    QByteArray run;
    int tick = 0;
    for (const double spin : spins) {
        for (double t = 0; t < spin + 1.5; t += 0.02) {
            tick += 2;
            const bool powered = t < spin;
            const double phase = std::min(t / spin, 1.0);
            const double top = 30000 * (1 - std::exp(-3.0));
            const double rpm = powered ? 30000 * (1 - std::exp(-3 * phase))
                                       : std::max(0.0, top * (1 - (t - spin) / 0.5));
            const double amps = powered ? 20 * std::exp(-3 * phase) + 1 : 0;
            run += QByteArray::number(tick / 100.0, 'f', 2) + "," + (powered ? "12.00" : "0.00") + ","
                 + QByteArray::number(amps, 'f', 1) + "," + QByteArray::number(static_cast<int>(rpm) / 100 * 100)
                 + "\r\n";
        }
    }
    return run;
}

} // namespace zelvar::testing_support
