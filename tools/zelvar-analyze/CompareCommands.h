#pragma once

// What zelvar-analyze does with runs as a set: what a run folder is of
// (--motor, --nameplate-kv, --supply-text), and the comparison of several
// runs (--compare, --compare-json, --compare-csv).

#include "archive/RunJson.h"
#include "sets/RunComparison.h"

#include <QString>

#include <optional>

namespace zelvar::analyze {

// What the command line says a run is of; only what was given changes.
struct MotorLabel {
    std::optional<QString> name;
    std::optional<std::optional<double>> nameplateKv; // an empty --nameplate-kv "" clears it
    std::optional<QString> supplyText;

    bool given() const { return name || nameplateKv || supplyText; }
};

// The label from the options' texts (none where an option was not given).
// Throws RuntimeError with the message for the operator when the nameplate
// Kv is no positive number.
MotorLabel motorLabel(const std::optional<QString>& name, const std::optional<QString>& nameplateKv,
                      const std::optional<QString>& supplyText);
// `stored` with what `label` gives in its place.
archive::RunMotor relabelled(const archive::RunMotor& stored, const MotorLabel& label);
// Writes the label into the run.json of the run folder `folder`, through
// the same replacement as every write of run.json. An empty string, or why
// it was not written.
QString labelRunFolder(const QString& folder, const MotorLabel& label);

// The comparison printed as a table (when `table`) and written to the files
// given. An empty string, or what could not be written.
QString writeComparison(const sets::RunComparison& comparison, bool table, const QString& jsonPath,
                        const QString& csvPath);

} // namespace zelvar::analyze
