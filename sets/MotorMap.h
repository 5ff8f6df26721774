#pragma once

#include "curves/MotorFigures.h"
#include "records/ReportReader.h"
#include "sets/Contours.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <vector>

namespace zelvar::sets {

// The motor's map: its own efficiency over the torque-RPM plane, from runs
// at several supply voltages. Each spin-up is a point of the sweep: its
// supply, its measured torque-speed line and the motor's figures drawn from
// it. The map itself comes from the motor's model fitted over all of them
// (Kv, R, and I0 measured on torque corrected for the rig's losses), not
// from the measured points, which cover only a line each: between the lines
// the model interpolates, and beyond the lowest and highest supply, or
// below the torque and speed the spin-ups reached, the map has no values.

// One spin-up of a run as a point of the sweep.
struct SweepSpinUp {
    QString run;             // the run's name, for legends and messages
    std::size_t spinUp = 0;  // of its run, from 0
    std::size_t spinUps = 0; // in its run
    // V: the open supply at the start of the spin-up, or none when the
    // records do not show it (supplyNote says why).
    std::optional<double> supply;
    QString supplyNote;
    curves::MotorFigures figures;
};

// The supply a spin-up ran on, from its records (`rows` from the spin-up's
// first record, as loadReport() keeps them) and the figures measured on
// them: the voltage the record at its start shows with no current drawn,
// which is the open supply's; where the dyno shows none there (0 V at
// standstill), the voltage the spin-up's own records give at no current,
// the open supply of their voltage against current. None when neither is
// known; `note` says which was taken or why there is none.
std::optional<double> startSupply(const std::vector<curves::ReportPoint>& rows, const curves::MotorFigures& figures,
                                  QString& note);

// Every spin-up of the report at `path`, measured, named `run`. Reads the
// report once per spin-up. Throws RuntimeError as loadReport() does.
std::vector<SweepSpinUp> sweepOfReport(const QString& path, const QString& run);

// The brushed DC motor of the figures: V = I·R + RPM/Kv at its terminals,
// shaft torque Kt·(I − I0), fed from a supply with an internal resistance.
struct MotorModel {
    double kv = 0.0;               // RPM/V
    double resistance = 0.0;       // Ω
    double noLoadCurrent = 0.0;    // A
    double supplyResistance = 0.0; // Ω

    // The current that gives `torqueMnm` at the shaft.
    double current(double torqueMnm) const;
    // Shaft power over the power into the terminals, in %, at a speed and
    // shaft torque; 0 where the motor gives no torque.
    double efficiency(double rpm, double torqueMnm) const;
    // The open supply's voltage that runs the motor at that speed and
    // torque.
    double supplyFor(double rpm, double torqueMnm) const;
    // The shaft torque on the line of `supply` at `rpm`.
    double torqueOnLine(double supply, double rpm) const;
};

// The best efficiency along a supply's line.
struct BestPoint {
    double supply = 0.0;     // V
    double rpm = 0.0;        //
    double torqueMnm = 0.0;  // mN·m
    double efficiency = 0.0; // %
};

// The model's best efficiency on the line of `supply` between `lowRpm` and
// `topRpm`, searched to a thousandth of the span.
BestPoint bestOnLine(const MotorModel& model, double supply, double lowRpm, double topRpm);

// A measured line: the corrected shaft torque of one spin-up against its
// speed.
struct MeasuredLine {
    QString name; // "<run>, spin-up k" where its run has several
    double supply = 0.0;
    std::vector<ContourPoint> points; // x RPM, y mN·m
};

// The spin-ups at one supply (within kSupplyTolerance of one another).
struct SupplyLevel {
    double supply = 0.0; // V, their mean
    std::size_t spinUps = 0;
    double lowRpm = 0.0;   // the lowest speed their lines start at
    double topRpm = 0.0;   // the highest they reach
    double floorMnm = 0.0; // the least corrected torque they reach, at top speed
    // The model's, over [lowRpm, topRpm]. Not the highest measured point:
    // towards top speed the measured torque is a small difference of
    // large speeds, and its efficiency scatters above the truth.
    BestPoint best;
};

struct MapSettings {
    std::size_t columns = 121; // grid points in RPM
    std::size_t rows = 101;    // grid points in torque
    double levelStep = 5.0;    // % between contours, widened to at most maxLevels
    std::size_t maxLevels = 12;
};

// Supplies closer than this (V), or than 2 % of the higher, are one.
inline constexpr double kSupplyTolerance = 0.2;

struct MotorMap {
    // Why there is no map (fewer than two supplies, no spin-up with the
    // motor's figures); empty when there is one.
    QString refused;
    MotorModel model;
    std::vector<MeasuredLine> lines;
    std::vector<SupplyLevel> supplies; // ascending
    QStringList leftOut;               // spin-ups left out, and why
    // Efficiency in % at x RPM, y mN·m; NaN outside the measured region.
    Grid grid;
    std::vector<ContourLine> contours;

    bool drawn() const { return refused.isEmpty(); }
    // Whether a point lies within the region the sweep spans.
    bool covers(double rpm, double torqueMnm) const;
};

// The map of the sweep's spin-ups.
MotorMap motorMap(const std::vector<SweepSpinUp>& sweep, const MapSettings& settings = {});

// The map as CSV: "rpm,torque_mNm,efficiency_pct", one row per grid point
// (RPM outer, torque inner), the efficiency empty outside the measured
// region; "." as the decimal point; lines end in "\r\n" as the report's do.
QByteArray mapCsv(const MotorMap& map);

// The best points, a line per supply, for the tools and the sheet:
// "12.00 V: 84.3 % at 21 500 RPM, 31.2 mN·m (2 spin-ups)".
QStringList bestPointLines(const MotorMap& map);

} // namespace zelvar::sets
