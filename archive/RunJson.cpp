#include "archive/RunJson.h"

#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "platform/FileSystem.h"
#include "platform/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace zelvar::archive {

namespace {

// The keys of run.json.
namespace key {
constexpr QLatin1String kFormat{"format"};
constexpr QLatin1String kState{"state"};
constexpr QLatin1String kStarted{"started"};
constexpr QLatin1String kEnded{"ended"};
constexpr QLatin1String kReason{"reason"};
constexpr QLatin1String kPort{"port"};
constexpr QLatin1String kDevice{"device"};
constexpr QLatin1String kLineSettings{"line_settings"};
constexpr QLatin1String kInterval{"interval"};
constexpr QLatin1String kProgram{"program"};
constexpr QLatin1String kVersion{"version"};
constexpr QLatin1String kNote{"note"};
constexpr QLatin1String kMotor{"motor"};
constexpr QLatin1String kNameplateKv{"nameplate_kv_rpm_per_v"};
constexpr QLatin1String kSupplyText{"supply_text"};
constexpr QLatin1String kRecords{"records"};
constexpr QLatin1String kFirstRunTime{"first_run_time_s"};
constexpr QLatin1String kLastRunTime{"last_run_time_s"};
constexpr QLatin1String kRadius{"flywheel_radius_mm"};
constexpr QLatin1String kWeight{"flywheel_weight_g"};
constexpr QLatin1String kDynoRadius{"dyno_flywheel_radius_mm"};
constexpr QLatin1String kDynoWeight{"dyno_flywheel_weight_g"};
constexpr QLatin1String kEscNeutral{"esc_neutral"};
constexpr QLatin1String kEscFull{"esc_full"};
constexpr QLatin1String kFigures{"figures"};
constexpr QLatin1String kPeakPower{"peak_output_power_w"};
constexpr QLatin1String kPeakPowerRpm{"peak_output_power_rpm"};
} // namespace key

std::string text(const QString& s)
{
    return s.toStdString();
}

QString isoTime(const QDateTime& time)
{
    // With the offset from UTC, so that a run read in another time zone or
    // after a change of summer time still says when it was.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QDateTime timeOf(const QJsonValue& value)
{
    return value.isString() ? QDateTime::fromString(value.toString(), Qt::ISODate) : QDateTime();
}

QJsonValue orNull(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

std::optional<double> numberOf(const QJsonValue& value)
{
    if (value.isDouble())
        return value.toDouble();
    return std::nullopt;
}

QString runJsonPath(const QString& folder)
{
    return QDir(folder).filePath(QString::fromLatin1(kRunJsonName));
}

} // namespace

QString endingText(Ending ending)
{
    switch (ending) {
    case Ending::Recording:
        return QStringLiteral("recording");
    case Ending::Stopped:
        return QStringLiteral("stopped");
    case Ending::Error:
        return QStringLiteral("error");
    case Ending::Unfinished:
        break;
    }
    return QStringLiteral("unfinished");
}

QString motorName(const RunMotor& motor)
{
    const QString name = motor.name.trimmed();
    return name.isEmpty() ? QString::fromLatin1(kUnnamedMotor) : name;
}

RunJson RunJson::started(const RunStart& start, const QString& program)
{
    RunJson run(QJsonObject{{key::kFormat, kRunJsonFormat},
                            {key::kState, endingText(Ending::Recording)},
                            {key::kStarted, isoTime(start.started)},
                            {key::kPort, start.port},
                            {key::kDevice, start.device},
                            {key::kLineSettings, start.lineSettings},
                            {key::kInterval, start.interval},
                            {key::kProgram, program},
                            {key::kVersion, start.programVersion},
                            {key::kNote, QString()}});
    run.setMotor(start.motor);
    return run;
}

RunJson RunJson::fromJson(QJsonObject json, const QString& source)
{
    const QJsonValue format = json.value(key::kFormat);
    if (format.isDouble() && format.toInt() > kRunJsonFormat)
        throw RuntimeError("\"" + text(source) + "\" is of format " + std::to_string(format.toInt())
                           + ", which a later version of the program wrote; this one reads format "
                           + std::to_string(kRunJsonFormat));
    return RunJson(std::move(json));
}

RunStart RunJson::start() const
{
    return {startedAt(),
            json_.value(key::kPort).toInt(),
            json_.value(key::kDevice).toString(),
            json_.value(key::kLineSettings).toString(),
            json_.value(key::kInterval).toString(),
            json_.value(key::kVersion).toString()};
}

QString RunJson::program() const
{
    return json_.value(key::kProgram).toString();
}

Ending RunJson::state() const
{
    const QString state = json_.value(key::kState).toString();
    for (Ending e : {Ending::Recording, Ending::Stopped, Ending::Error, Ending::Unfinished}) {
        if (endingText(e) == state)
            return e;
    }
    return Ending::Recording;
}

void RunJson::setState(Ending state)
{
    json_.insert(key::kState, endingText(state));
}

QDateTime RunJson::startedAt() const
{
    return timeOf(json_.value(key::kStarted));
}

QDateTime RunJson::endedAt() const
{
    return timeOf(json_.value(key::kEnded));
}

void RunJson::setEndedAt(const QDateTime& ended)
{
    json_.insert(key::kEnded, isoTime(ended));
}

QString RunJson::reason() const
{
    return json_.value(key::kReason).toString();
}

void RunJson::setReason(const QString& reason)
{
    json_.insert(key::kReason, reason);
}

QString RunJson::note() const
{
    return json_.value(key::kNote).toString();
}

void RunJson::setNote(const QString& note)
{
    json_.insert(key::kNote, note);
}

RunMotor RunJson::motor() const
{
    return {json_.value(key::kMotor).toString(), numberOf(json_.value(key::kNameplateKv)),
            json_.value(key::kSupplyText).toString()};
}

void RunJson::setMotor(const RunMotor& motor)
{
    json_.insert(key::kMotor, motor.name.trimmed());
    json_.insert(key::kNameplateKv, orNull(motor.nameplateKv));
    json_.insert(key::kSupplyText, motor.supplyText.trimmed());
}

std::optional<std::int64_t> RunJson::records() const
{
    const QJsonValue records = json_.value(key::kRecords);
    return records.isDouble() ? std::optional<std::int64_t>(records.toInteger()) : std::nullopt;
}

void RunJson::setRunFile(const RunFileScan& scan)
{
    json_.insert(key::kRecords, qint64(scan.records));
    json_.insert(key::kFirstRunTime, orNull(scan.firstRunTime));
    json_.insert(key::kLastRunTime, orNull(scan.lastRunTime));
}

RunValues RunJson::values() const
{
    return {numberOf(json_.value(key::kRadius)),      numberOf(json_.value(key::kWeight)),
            json_.value(key::kEscNeutral).toString(), json_.value(key::kEscFull).toString(),
            numberOf(json_.value(key::kDynoRadius)),  numberOf(json_.value(key::kDynoWeight))};
}

void RunJson::setValues(const RunValues& values)
{
    json_.insert(key::kRadius, orNull(values.radiusMm));
    json_.insert(key::kWeight, orNull(values.weightG));
    json_.insert(key::kEscNeutral, values.escNeutral);
    json_.insert(key::kEscFull, values.escFull);
    // Only once the run is known to have had a set-up frame: a run.json of
    // an earlier version, or of a run that had none, keeps its keys.
    if (values.dynoRadiusMm || values.dynoWeightG) {
        json_.insert(key::kDynoRadius, orNull(values.dynoRadiusMm));
        json_.insert(key::kDynoWeight, orNull(values.dynoWeightG));
    }
}

QString RunValues::typedMark() const
{
    QStringList parts;
    const auto mark = [&parts](const char* what, const std::optional<double>& used, const std::optional<double>& sent,
                               const char* unit) {
        if (used && sent && std::abs(*used - *sent) > 1e-9 * std::max(1.0, std::abs(*sent)))
            parts << QStringLiteral("%1 typed: %2 %3; dyno sent %4 %3")
                         .arg(QLatin1String(what), QString::number(*used), QLatin1String(unit), QString::number(*sent));
    };
    mark("radius", radiusMm, dynoRadiusMm, "mm");
    mark("weight", weightG, dynoWeightG, "g");
    return parts.join(QStringLiteral("; "));
}

std::optional<double> RunJson::peakPowerW() const
{
    return numberOf(json_.value(key::kPeakPower));
}

std::optional<double> RunJson::peakPowerRpm() const
{
    return numberOf(json_.value(key::kPeakPowerRpm));
}

void RunJson::setFigures(const curves::MotorFigures& figures)
{
    json_.insert(key::kFigures, QJsonDocument::fromJson(curves::summaryJson(figures)).object());
    json_.insert(key::kFormat, kRunJsonFormat);
    const auto known = [](const curves::Figure& f) { return f.known() ? QJsonValue(f.value) : QJsonValue(); };
    json_.insert(key::kPeakPower, known(figures.peakPower));
    json_.insert(key::kPeakPowerRpm, known(figures.peakPowerRpm));
}

bool isRunFolder(const QString& folder)
{
    return QFileInfo(runJsonPath(folder)).isFile();
}

RunJson readRunJson(const QString& folder)
{
    const QString path = runJsonPath(folder);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError("cannot read \"" + text(path) + "\": " + text(file.errorString()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        throw RuntimeError("\"" + text(path) + "\" is not JSON: " + text(error.errorString()));
    if (!document.isObject())
        throw RuntimeError("\"" + text(path) + "\" holds no JSON object");
    return RunJson::fromJson(document.object(), path);
}

void writeRunJson(const QString& folder, const RunJson& run)
{
    const QByteArray data = QJsonDocument(run.json()).toJson(QJsonDocument::Indented);
    writeThroughReplacement(runJsonPath(folder), [&](QFile& file) { return file.write(data) == data.size(); });
}

} // namespace zelvar::archive
