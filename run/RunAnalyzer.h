#pragma once

#include "platform/Decimal.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace zelvar {

class SequentialFiles;

// One data line of the report.
struct ReportRow {
    Decimal runTime;       // s, as recorded
    Decimal outputVoltage; // V, as recorded
    Decimal outputCurrent; // A, as recorded
    Decimal rpm;           // 1/min, as recorded
    Decimal torque;        // mN·m
    Decimal outputPower;   // W
    Decimal inputPower;    // W
    Decimal efficiency;    // %

    friend bool operator==(const ReportRow&, const ReportRow&) = default;
};

// The derivation of one row from a record and the record before it (the
// first record follows a standstill at run time 0). Every value is an exact
// decimal, computed left to right as written below.
class RowCalculator {
public:
    // inertia = radius/1000 * (radius/1000) * (weight/1000) / 2, in kg·m²,
    // from millimetres and grams.
    static Decimal inertiaOf(const Decimal& radiusMm, const Decimal& weightG);

    explicit RowCalculator(const Decimal& inertia) : inertia_(inertia) {}

    ReportRow next(const Decimal& runTime, const Decimal& voltage, const Decimal& current, const Decimal& rpm);

private:
    Decimal inertia_;
    Decimal lastRpm_;
    Decimal lastTime_;
};

// What the report is computed with besides the run: the flywheel, and the
// ESC timings that only go into its trailer, as the operator typed them.
struct FlywheelAndEsc {
    Decimal radiusMm;
    Decimal weightG;
    QString escNeutral;
    QString escFull;
};

// Turns the run file Temp.dat into the report save.csv, both in the
// application directory: a header, one row per record, an empty line, and a
// trailer with the flywheel and ESC values.
//
// The report is written under a temporary name beside save.csv and renamed
// over it only when complete: after any failure the previous report is as it
// was and no temporary file remains. The report's and the run's input file
// numbers are free again when analyze() returns or throws.
class RunAnalyzer {
public:
    RunAnalyzer(SequentialFiles& files, QString applicationDirectory);

    // Called every `kProgressStep` records with the count so far.
    static constexpr std::int64_t kProgressStep = 1 << 16;
    void setProgress(std::function<void(std::int64_t)> progress) { progress_ = std::move(progress); }

    // Throws RuntimeError naming the file, the record and the value at fault.
    // Returns the number of records analysed.
    std::int64_t analyze(const FlywheelAndEsc& values);

private:
    std::int64_t writeReport(const QString& reportPath, const QString& runPath, const FlywheelAndEsc& values);

    SequentialFiles& files_;
    QString directory_;
    std::function<void(std::int64_t)> progress_;
};

} // namespace zelvar
