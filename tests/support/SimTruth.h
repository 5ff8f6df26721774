#pragma once

// dyno-sim's --truth file read back: the model's values, one row per 10 ms
// tick from tick 0. Header only, for the end-to-end tests.

#include "Files.h"

#include <QByteArrayList>
#include <QString>

#include <cmath>
#include <vector>

namespace zelvar::testing_support {

struct TruthRow {
    double time = 0; // s
    double rpm = 0;
    double torqueMnm = 0;         // the net torque, J·dω/dt
    double outputPower = 0;       // W, net torque × ω
    double inputPower = 0;        // W, at the motor's terminals
    double voltage = 0;           // V
    double current = 0;           // A
    double motorTorqueMnm = 0;    // the shaft's (0 in files of a simulator without losses)
    double lossTorqueMnm = 0;     // the rig's friction and windage
    double motorOutputPower = 0;  // W, shaft torque × ω
    double windingResistance = 0; // Ω, the winding's at this tick (0 in files of a simulator before --heating)
    double supplyVoltage = 0;     // V, the open supply of the tick's run
};

inline std::vector<TruthRow> readTruth(const QString& path)
{
    std::vector<TruthRow> rows;
    const QByteArrayList lines = readAll(path).split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QByteArrayList f = line.trimmed().split(',');
        if (f.size() < 7)
            continue;
        TruthRow r{f[0].toDouble(), f[1].toDouble(), f[2].toDouble(), f[3].toDouble(),
                   f[4].toDouble(), f[5].toDouble(), f[6].toDouble()};
        if (f.size() >= 10) {
            r.motorTorqueMnm = f[7].toDouble();
            r.lossTorqueMnm = f[8].toDouble();
            r.motorOutputPower = f[9].toDouble();
        }
        if (f.size() >= 12) {
            r.windingResistance = f[10].toDouble();
            r.supplyVoltage = f[11].toDouble();
        }
        rows.push_back(r);
    }
    return rows;
}

// The tick of a run time in s.
inline int tickOf(double runTime)
{
    return static_cast<int>(std::lround(runTime * 100));
}

} // namespace zelvar::testing_support
