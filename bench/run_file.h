#pragma once

// A synthetic run file for the benchmarks: repeated spin-ups of a small motor
// sampled every 20 ms, quantised as the dyno records them (0.01 s, 0.01 V,
// 0.1 A, 100 RPM), so that every branch of the analysis is taken.

#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>

namespace zelvar::bench {

inline bool writeRunFile(const QString& path, std::int64_t records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block;
    char line[96];
    for (std::int64_t i = 0; i < records; ++i) {
        const std::int64_t tick = 2 * (i % 500000 + 1);            // run time in 10 ms ticks
        const double phase = static_cast<double>(i % 250) / 250.0; // position in one spin-up
        const int rpm = static_cast<int>(30000.0 * (1.0 - (1.0 - phase) * (1.0 - phase))) / 100 * 100;
        const int centivolts = 1200 - static_cast<int>(60.0 * (1.0 - phase));
        const int deciamps = static_cast<int>(250.0 * (1.0 - phase)) + 5;
        const int n = std::snprintf(line, sizeof line, "%lld.%02lld,%d.%02d,%d.%d,%d\r\n",
                                    static_cast<long long>(tick / 100), static_cast<long long>(tick % 100),
                                    centivolts / 100, centivolts % 100, deciamps / 10, deciamps % 10, rpm);
        block.append(line, n);
        if (block.size() > (1 << 20)) {
            if (file.write(block) != block.size())
                return false;
            block.clear();
        }
    }
    return file.write(block) == block.size();
}

} // namespace zelvar::bench
