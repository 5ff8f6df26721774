#pragma once

#include "curves/MotorFigures.h"
#include "sets/FigureSpread.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace zelvar::sets {

// Runs of a motor compared: each run's figures, as --summary-json writes
// them, from its longest complete spin-up, and over the runs the mean,
// standard deviation and range of each figure, whether it drifts one way
// across the runs in order, and which runs stand out. No widgets: the Runs
// tab, the comparison sheet and zelvar-analyze --compare print the same.

// One run as it enters a comparison.
struct ComparedRun {
    QString folder;    // the run's folder, as named (absolute for the Runs tab)
    QDateTime started; // invalid when not known (a folder without run.json)
    QString motor;     // archive::motorName(): "unnamed" for none
    std::optional<double> nameplateKv;
    // The figures of its longest complete spin-up; included in the
    // statistics only then. `figures` holds the --summary-json object
    // (empty where the run gives none).
    bool included = false;
    QString exclusion; // why not, for the operator: "no complete spin-up", "no report: ..."
    QJsonObject figures;
};

// "+5.00 %", "-0.31 %".
QString deviationText(double pct);

enum class Drift { None, Up, Down };
// JSON's null, "up" or "down"; the table's "-", "up", "down".
QString driftText(Drift drift);

// One figure (a key of --summary-json that has a "<key>_sigma") over the
// included runs that give it.
struct FigureComparison {
    QString key;
    // Per run of the comparison, in its order: the value and its own ±;
    // none where the run is excluded or does not give the figure.
    std::vector<std::optional<double>> values;
    std::vector<std::optional<double>> sigmas;
    std::optional<Spread> spread;
    Drift drift = Drift::None;
    std::vector<bool> outlier; // per run
    QStringList outliers;      // their folders
};

// The measured Kv of a run beside its nameplate.
struct NameplateKv {
    std::optional<double> measured;
    std::optional<double> sigma;
    std::optional<double> nameplate;
    // How far the nameplate is off the measured Kv: (nameplate − measured) /
    // measured, in per cent; none without both. The dyno's measurement is
    // the reference a nameplate is checked against.
    std::optional<double> deviationPct() const;
};

struct RunComparison {
    std::vector<ComparedRun> runs; // in the order they ran
    std::vector<FigureComparison> figures;
    std::size_t included() const;
    NameplateKv nameplate(std::size_t run) const;
};

// The figure keys, in --summary-json's order.
QStringList figureKeys();

// The drift of `values` (in run order) whose own standard uncertainties are
// `sigmas`: the least-squares slope over the run order, times (n − 1), the
// change it makes from the first run to the last, against twice the mean of
// the runs' ±. None for fewer than three values: two runs cannot tell a
// drift from a difference.
Drift driftOf(const std::vector<double>& values, const std::vector<double>& sigmas);
// The runs among `values` that stand more than three times (their own ±
// plus the others' standard deviation) from the median of the others. None
// for fewer than three values, where the others have no spread.
std::vector<bool> outliersOf(const std::vector<double>& values, const std::vector<double>& sigmas);
double medianOf(std::vector<double> values);

// The comparison of `runs`, put in the order they started (as given where a
// start is not known).
RunComparison compareRuns(std::vector<ComparedRun> runs);

// zelvar-analyze --compare-json: {"format": 1, "runs": [{"folder",
// "started", "motor", "included", "figures"}], "figures": {"<key>": {"mean",
// "sd", "min", "max", "n", "drift", "outliers"}}}.
inline constexpr int kComparisonJsonFormat = 1;
QByteArray comparisonJson(const RunComparison& comparison);
// --compare-csv: a line per run, then a line per statistic, a column per
// figure (kComparisonCsvFields first).
inline constexpr const char* kComparisonCsvFields =
    "row,folder,started,motor,included,nameplate_kv_rpm_per_v,nameplate_kv_deviation_pct";
QByteArray comparisonCsv(const RunComparison& comparison);

// The comparison as the table prints it: the runs, a row per figure with
// its statistics, and each run's Kv beside its nameplate.
struct ComparisonCell {
    QString text;
    bool flagged = false; // an outlier, or a drift
};
struct ComparisonTable {
    QStringList header;                            // "Figure", a column per run, then the statistics
    std::vector<std::vector<ComparisonCell>> rows; // a row per figure
    QStringList notes;                             // runs left out and why, the nameplates
};
ComparisonTable comparisonTable(const RunComparison& comparison);
// The table as text for a terminal, columns aligned.
QString comparisonText(const RunComparison& comparison);
// The run's short name: its folder's last part.
QString runLabel(const ComparedRun& run);

} // namespace zelvar::sets
