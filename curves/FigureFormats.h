#pragma once

#include "curves/MotorFigures.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace zelvar::curves {

// The motor's figures written out: for the charts, for zelvar-analyze's
// --summary, --summary-json and --curves-csv, and for run.json.

// The loss correction in a line or two, for the charts.
QString correctionNote(const MotorFigures& m);
// One figure written out: the value to the digits its σ supports, at most
// `decimals` (what the frames resolve); the ± empty where σ does not reach
// the last digit shown.
struct FigureText {
    QString value;
    QString sigma; // "± 0.3", or empty
    QString refused;
};
FigureText figureText(const Figure& figure, int decimals);

// The table of the motor's figures: the summary, the chart window's table
// and the run sheet print these rows, so they print the same digits.
struct FigureRow {
    QString name;
    QString unit;
    FigureText text;
    bool atRpm = false; // the speed of the figure above
    Figure figure;      // as measured, for statistics over runs
    int decimals = 0;   // the most the frames resolve
};
std::vector<FigureRow> figureRows(const MotorFigures& m);

// The figures as a short table, one line each, in the program's units
// (DisplayUnits.h writes it in others).
QString summaryTable(const MotorFigures& m);
// The layout of summaryJson(): 2 since spin-ups count from 1 there.
inline constexpr int kFiguresJsonFormat = 2;
// The figures as JSON, with the keys of `zelvar-analyze --summary-json`.
QByteArray summaryJson(const MotorFigures& m);

inline constexpr const char* kCurvesCsvHeader =
    "run_time_s,rpm,torque_mNm,corrected_torque_mNm,output_power_w,corrected_output_power_w,efficiency_pct";
// The spin-up's curves as CSV, the header of `zelvar-analyze --curves-csv`
// and a line per record.
QByteArray curvesCsv(const MotorFigures& m);

} // namespace zelvar::curves
