#pragma once

#include "curves/MotorFigures.h"

#include <QByteArray>
#include <QString>

namespace zelvar::curves {

// The motor's figures written out: for the charts, for zelvar-analyze's
// --summary, --summary-json and --curves-csv, and for run.json.

// The loss correction in a line or two, for the charts.
QString correctionNote(const MotorFigures& m);
// The figures as a short table, one line each.
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
