#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace zelvar::curves {
struct MotorFigures;
}

namespace zelvar::archive {

inline constexpr const char* kRunJsonName = "run.json";
// The layout this program writes. A run.json of a later layout is refused
// with a message rather than read by guesswork.
// Format 2 holds figures whose spin-ups count from 1; format 1 is read as
// it stands.
inline constexpr int kRunJsonFormat = 2;

// How a run ended, as run.json says it.
enum class Ending {
    Recording,  // the run is on, or it never ended (until the next Start)
    Stopped,    // Stop wrote the report
    Error,      // the run ended in "Error!", or its report failed
    Unfinished, // the program died while recording; found at the next Start
};
// "recording", "stopped", "error", "unfinished".
QString endingText(Ending ending);

// What the run is of: the motor under test, its nameplate Kv when the
// operator gave one, and what supplied it ("3S LiPo"), as they were set for
// the runs to come at Start or written on the run afterwards.
struct RunMotor {
    QString name;                      // empty: the runs of no name count as one motor, "unnamed"
    std::optional<double> nameplateKv; // RPM/V
    QString supplyText;

    bool operator==(const RunMotor&) const = default;
};

// What the runs of no motor name are listed and compared as.
inline constexpr const char* kUnnamedMotor = "unnamed";
// The motor's name, or "unnamed".
QString motorName(const RunMotor& motor);

// What run.json says at Start.
struct RunStart {
    QDateTime started; // local time
    int port = 0;      // the COM number
    QString device;    // what it opened
    QString lineSettings;
    QString interval; // the interval box
    QString programVersion;
    RunMotor motor = {};
};

// The flywheel and ESC values at the end of a run, as the boxes showed them:
// radius and weight already read as numbers (none when a box held no
// number), the ESC timings as text.
struct RunValues {
    std::optional<double> radiusMm;
    std::optional<double> weightG;
    QString escNeutral;
    QString escFull;
    // What the dyno's last set-up frame sent; none when none came.
    std::optional<double> dynoRadiusMm;
    std::optional<double> dynoWeightG;

    // "radius typed: 50 mm; dyno sent 30 mm", a part for each value that
    // differs from the dyno's; empty when none does.
    QString typedMark() const;
};

// What a copied run file held: its complete lines, and the run times of the
// first and last of them.
struct RunFileScan {
    std::int64_t records = 0;
    std::optional<double> firstRunTime;
    std::optional<double> lastRunTime;
};

// One run's run.json. Every key is spelled here and nowhere else. A key
// that this program does not know is kept as it was, so that a run.json
// written by a later version loses nothing when an earlier one adds a note.
// A key not yet written stays absent (the end of a run still recording);
// a value not known is null.
class RunJson {
public:
    // The run.json of a run that just started: "recording".
    static RunJson started(const RunStart& start, const QString& program);
    // Throws RuntimeError naming `source` when `json` is of a later format.
    static RunJson fromJson(QJsonObject json, const QString& source);

    const QJsonObject& json() const { return json_; }

    // What Start wrote: port, device, line settings, interval and the
    // program's version (the start as startedAt()); empty where not said.
    RunStart start() const;
    // The program that recorded the run.
    QString program() const;
    Ending state() const;
    void setState(Ending state);
    QDateTime startedAt() const;
    QDateTime endedAt() const; // invalid while not ended
    void setEndedAt(const QDateTime& ended);
    QString reason() const;
    void setReason(const QString& reason);
    QString note() const;
    void setNote(const QString& note);
    // What the run is of; all empty in a run.json written before runs said so.
    RunMotor motor() const;
    void setMotor(const RunMotor& motor);

    std::optional<std::int64_t> records() const;
    void setRunFile(const RunFileScan& scan);
    RunValues values() const;
    void setValues(const RunValues& values);

    std::optional<double> peakPowerW() const;
    std::optional<double> peakPowerRpm() const;
    // The motor's figures, as --summary-json writes them, with the peak
    // output power and its RPM beside them for the list.
    void setFigures(const curves::MotorFigures& figures);

private:
    explicit RunJson(QJsonObject json) : json_(std::move(json)) {}

    QJsonObject json_;
};

// The run.json in `folder`; throws RuntimeError naming the file when it
// cannot be read, is no JSON object or is of a later format.
RunJson readRunJson(const QString& folder);
// Replaces run.json through a temporary name and a rename.
void writeRunJson(const QString& folder, const RunJson& run);
// Whether `folder` is an archived run (it holds a run.json).
bool isRunFolder(const QString& folder);

} // namespace zelvar::archive
