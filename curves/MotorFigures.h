#pragma once

#include "curves/LossFit.h"
#include "curves/ReportLoader.h"
#include "curves/Smoothing.h"

#include <QString>

#include <optional>
#include <vector>

namespace zelvar::curves {

// The motor's constants and the run's figures, drawn from one ordinary run
// and its report: the brushed DC motor V = I·R + RPM/Kv at its terminals,
// shaft torque Kt·(I − I0) with Kt = 60 / (2π·Kv), and the rig's losses from
// the coast-down when the run has one.

// One figure with its standard uncertainty, or the reason the run cannot
// give it.
struct Figure {
    double value = 0.0;
    double sigma = 0.0;
    QString refused; // empty when the figure is known

    bool known() const { return refused.isEmpty(); }
};

// One record of the spin-up, as smoothed and as corrected for the losses.
struct CorrectedPoint {
    double runTime = 0.0;              // s
    double rpm = 0.0;                  // smoothed
    double torque = 0.0;               // mN·m, J·dω/dt
    double correctedTorque = 0.0;      // mN·m, J·dω/dt + T_loss(ω) where the coast covered ω
    double outputPower = 0.0;          // W
    double correctedOutputPower = 0.0; // W
    double inputPower = 0.0;           // W, as recorded
    double current = 0.0;              // A, as recorded
    double efficiency = 0.0;           // %, corrected output over input, held to 0 to 100
    bool corrected = false;            // the loss correction applies here
};

struct MotorFigures {
    int spinUp = 0; // which spin-up of the run; 0, the first
    std::size_t poweredRecords = 0;
    std::optional<LossFit> losses;
    QString noCoastReason; // why there is no coast-down, when there is none

    Figure kv;            // RPM/V
    Figure resistance;    // Ω
    Figure noLoadCurrent; // A
    Figure kt;            // mN·m/A
    Figure peakTorque;    // mN·m
    Figure peakTorqueRpm;
    Figure peakPower; // W
    Figure peakPowerRpm;
    Figure peakEfficiency; // %
    Figure peakEfficiencyRpm;
    Figure supplyVoltage;    // V, open circuit, from the terminal voltage against the current
    Figure supplyResistance; // Ω

    // The powered records of the spin-up, corrected where the coast-down
    // covered their speed.
    std::vector<CorrectedPoint> curve;
};

// Everything above from a report and its smoothed spin-up, in stages: the
// powered records, the motor line (Kv, R, Kt, the supply), the coast-down's
// losses and the corrected curve, I0, the peaks, the model's peak
// efficiency. Linear in the records: a few tens of milliseconds for hours of
// run. FigureFormats.h writes them out.
MotorFigures measureMotor(const Report& report, const std::optional<SmoothedSpinUp>& smoothed);
inline MotorFigures measureMotor(const ReportCurves& curves)
{
    MotorFigures figures = measureMotor(curves.report, curves.smoothed);
    // Which of the run's spin-ups the curves were smoothed on.
    figures.spinUp = static_cast<int>(curves.spinUp.value_or(0));
    return figures;
}

} // namespace zelvar::curves
