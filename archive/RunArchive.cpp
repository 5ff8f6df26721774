#include "archive/RunArchive.h"

#include "curves/FigureFormats.h"
#include "curves/MotorFigures.h"
#include "platform/FileSystem.h"
#include "platform/RuntimeError.h"
#include "platform/Settings.h"
#include "records/RunFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace zelvar::archive {

namespace {

// Written into every run.json, so that a later program can tell the layout.
constexpr int kFormat = 1;
constexpr const char* kEnabledKey = "archive/enabled";
constexpr qint64 kCopyChunk = 1 << 20;

QString str(const char* key)
{
    return QString::fromLatin1(key);
}

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
    return QDir(folder).filePath(str(kRunJsonName));
}

// Folder names sort as the runs started; a suffix counts as a number, so
// that _10 comes after _9.
bool newerName(const QString& a, const QString& b)
{
    const auto split = [](const QString& name) {
        const int cut = name.indexOf(QLatin1Char('_'), 11); // after the date's own "_"
        return std::pair{cut < 0 ? name : name.left(cut), cut < 0 ? 1 : name.mid(cut + 1).toInt()};
    };
    return split(a) > split(b);
}

// The first item of a run file's line, the run time.
std::optional<double> runTimeOf(const QByteArray& line)
{
    const int comma = line.indexOf(',');
    bool ok = false;
    const double value = line.left(comma < 0 ? line.size() : comma).trimmed().toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

void scanChunk(const QByteArray& chunk, QByteArray& pending, RunFileScan& scan)
{
    qsizetype start = 0;
    for (qsizetype end = chunk.indexOf('\n'); end >= 0; end = chunk.indexOf('\n', start)) {
        QByteArray line = pending + chunk.mid(start, end - start);
        pending.clear();
        start = end + 1;
        if (line.trimmed().isEmpty())
            continue;
        ++scan.records;
        // Only the first and the last line are read as numbers.
        if (!scan.firstRunTime)
            scan.firstRunTime = runTimeOf(line);
        scan.lastRunTime = runTimeOf(line);
    }
    pending += chunk.mid(start);
}

// Writes `target` whole through a temporary file beside it: `write` fills
// the file (false when a write failed), which is put on the disk and renamed
// over the target. After any failure the target is as it was and the
// temporary file is gone.
void writeReplacement(const QString& target, const std::function<bool(QFile&)>& write)
{
    const QString temporary = createReplacementFile(target);
    QFile file(temporary);
    try {
        if (!file.open(QIODevice::WriteOnly) || !write(file) || !file.flush())
            throw RuntimeError("cannot write \"" + text(target) + "\": " + text(file.errorString()));
        syncToDisk(file);
        file.close();
        replaceFile(temporary, target);
    } catch (...) {
        file.close();
        QFile::remove(temporary);
        throw;
    }
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

namespace {

std::optional<Ending> endingFromText(const QString& text)
{
    for (Ending e : {Ending::Recording, Ending::Stopped, Ending::Error, Ending::Unfinished}) {
        if (endingText(e) == text)
            return e;
    }
    return std::nullopt;
}

} // namespace

QString folderName(const QDateTime& started)
{
    return started.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

QString RunSummary::startedText() const
{
    return started.isValid() ? started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

std::optional<double> RunSummary::durationSeconds() const
{
    if (!started.isValid() || !ended.isValid())
        return std::nullopt;
    return started.msecsTo(ended) / 1000.0;
}

bool isRunFolder(const QString& folder)
{
    return QFileInfo(runJsonPath(folder)).isFile();
}

QJsonObject readRunJson(const QString& folder)
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
    return document.object();
}

void writeRunJson(const QString& folder, const QJsonObject& json)
{
    const QByteArray data = QJsonDocument(json).toJson(QJsonDocument::Indented);
    writeReplacement(runJsonPath(folder), [&](QFile& file) { return file.write(data) == data.size(); });
}

RunSummary summaryOf(const QString& folder, const QJsonObject& json)
{
    RunSummary s;
    s.folder = QDir(folder).absolutePath();
    s.name = QFileInfo(s.folder).fileName();
    s.started = timeOf(json.value(QStringLiteral("started")));
    s.ended = timeOf(json.value(QStringLiteral("ended")));
    s.ending = endingFromText(json.value(QStringLiteral("state")).toString()).value_or(Ending::Recording);
    s.reason = json.value(QStringLiteral("reason")).toString();
    if (const QJsonValue records = json.value(QStringLiteral("records")); records.isDouble())
        s.records = records.toInteger();
    s.peakPowerW = numberOf(json.value(QStringLiteral("peak_output_power_w")));
    s.peakPowerRpm = numberOf(json.value(QStringLiteral("peak_output_power_rpm")));
    s.note = json.value(QStringLiteral("note")).toString();
    s.values.radiusMm = numberOf(json.value(QStringLiteral("flywheel_radius_mm")));
    s.values.weightG = numberOf(json.value(QStringLiteral("flywheel_weight_g")));
    s.values.escNeutral = json.value(QStringLiteral("esc_neutral")).toString();
    s.values.escFull = json.value(QStringLiteral("esc_full")).toString();
    return s;
}

Listing listRuns(const QString& dataDirectory)
{
    Listing listing;
    const QDir runs(QDir(dataDirectory).filePath(str(kFolderName)));
    QStringList names = runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), newerName);
    listing.runs.reserve(names.size());
    for (const QString& name : names) {
        const QString folder = runs.filePath(name);
        if (!isRunFolder(folder))
            continue; // not a run of ours
        try {
            listing.runs.push_back(summaryOf(folder, readRunJson(folder)));
        } catch (const RuntimeError& e) {
            listing.problems << QString::fromStdString(e.what());
        }
    }
    // By the time the runs started; the names already say so unless the
    // clock was set back between two runs.
    std::stable_sort(listing.runs.begin(), listing.runs.end(), [](const RunSummary& a, const RunSummary& b) {
        return a.started.isValid() && b.started.isValid() && a.started > b.started;
    });
    return listing;
}

void setNote(const QString& folder, const QString& note)
{
    QJsonObject json = readRunJson(folder);
    json.insert(QStringLiteral("note"), note);
    writeRunJson(folder, json);
}

void recordFigures(const QString& folder, const curves::MotorFigures& figures)
{
    QJsonObject json = readRunJson(folder);
    json.insert(QStringLiteral("figures"), QJsonDocument::fromJson(curves::summaryJson(figures)).object());
    const auto known = [](const curves::Figure& f) { return f.known() ? QJsonValue(f.value) : QJsonValue(); };
    json.insert(QStringLiteral("peak_output_power_w"), known(figures.peakPower));
    json.insert(QStringLiteral("peak_output_power_rpm"), known(figures.peakPowerRpm));
    writeRunJson(folder, json);
}

void copyInto(const QString& from, const QString& to, RunFileScan* scan)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw RuntimeError("cannot read \"" + text(from) + "\": " + text(source.errorString()));
    QByteArray pending; // a line cut by the chunk's end; left over at the end, a record the run did not finish
    writeReplacement(to, [&](QFile& target) {
        while (!source.atEnd()) {
            const QByteArray chunk = source.read(kCopyChunk);
            if (chunk.isEmpty() && source.error() != QFileDevice::NoError)
                throw RuntimeError("cannot read \"" + text(from) + "\": " + text(source.errorString()));
            if (target.write(chunk) != chunk.size())
                return false;
            if (scan)
                scanChunk(chunk, pending, *scan);
        }
        return true;
    });
}

bool enabledInSettings()
{
    return settings::open().value(str(kEnabledKey), true).toBool();
}

void setEnabledInSettings(bool enabled)
{
    QSettings settings = settings::open();
    settings.setValue(str(kEnabledKey), enabled);
    settings.sync();
}

RunArchive::RunArchive(QString dataDirectory, std::function<void(const QString&)> notice,
                       std::function<void()> archived)
    : directory_(std::move(dataDirectory)), notice_(std::move(notice)), archived_(std::move(archived))
{
    worker_.setMaxThreadCount(1); // one copy after the other, in order
    worker_.setExpiryTimeout(-1);
}

RunArchive::~RunArchive()
{
    waitForCopies();
}

void RunArchive::report(const QString& problem)
{
    if (notice_)
        notice_(problem);
}

void RunArchive::queue(QString failure, std::function<void()> job)
{
    worker_.start([this, failure = std::move(failure), job = std::move(job)] {
        try {
            job();
        } catch (const std::exception& e) {
            report(failure + QString::fromStdString(e.what()));
            return;
        }
        if (archived_)
            archived_();
    });
}

void RunArchive::waitForCopies()
{
    worker_.waitForDone();
}

void RunArchive::beforeStart()
{
    waitForCopies();
    lastEnded_.clear(); // Start is about to empty the run file it copied
    const QString runFile = applicationFile(directory_, str(runfiles::kRunFileName));
    const QDir runs(QDir(directory_).filePath(str(kFolderName)));
    QStringList names = runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (names.isEmpty())
        return;
    // Temp.dat can only hold the run started last.
    const QString folder = runs.filePath(*std::min_element(names.begin(), names.end(), newerName));
    try {
        if (!isRunFolder(folder))
            return;
        QJsonObject json = readRunJson(folder);
        if (json.value(QStringLiteral("state")).toString() != endingText(Ending::Recording))
            return;
        RunFileScan scan;
        const QFileInfo runInfo(runFile);
        if (runInfo.exists()) {
            copyInto(runFile, QDir(folder).filePath(str(runfiles::kRunFileName)), &scan);
            // The last write is as near as anything tells when the run died.
            json.insert(QStringLiteral("ended"), isoTime(runInfo.lastModified()));
        }
        json.insert(QStringLiteral("state"), endingText(Ending::Unfinished));
        json.insert(QStringLiteral("records"), qint64(scan.records));
        json.insert(QStringLiteral("first_run_time_s"), orNull(scan.firstRunTime));
        json.insert(QStringLiteral("last_run_time_s"), orNull(scan.lastRunTime));
        writeRunJson(folder, json);
    } catch (const std::exception& e) {
        report(QStringLiteral("The unfinished run in %1 was not recovered: %2")
                   .arg(QDir::toNativeSeparators(folder), QString::fromStdString(e.what())));
    }
}

QString RunArchive::newFolder(const QDateTime& started)
{
    QDir data(directory_);
    const QString runsPath = data.filePath(str(kFolderName));
    if (!QFileInfo(runsPath).isDir() && !data.mkdir(str(kFolderName)))
        throw RuntimeError("cannot make the folder \"" + text(QDir::toNativeSeparators(runsPath))
                           + (QFileInfo::exists(runsPath) ? "\": a file of that name is in the way" : "\""));
    const QDir runs(runsPath);
    const QString base = folderName(started);
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? base : QStringLiteral("%1_%2").arg(base).arg(n);
        // mkdir fails for a name that exists, so two programs never share
        // a folder.
        if (runs.mkdir(name))
            return runs.filePath(name);
        if (!runs.exists(name))
            break;
    }
    throw RuntimeError("cannot make a run folder in \"" + text(QDir::toNativeSeparators(runsPath)) + "\"");
}

void RunArchive::runStarted(const RunStart& start)
{
    current_.clear();
    try {
        const QString folder = newFolder(start.started);
        QJsonObject json{{QStringLiteral("format"), kFormat},
                         {QStringLiteral("state"), endingText(Ending::Recording)},
                         {QStringLiteral("started"), isoTime(start.started)},
                         {QStringLiteral("port"), start.port},
                         {QStringLiteral("device"), start.device},
                         {QStringLiteral("line_settings"), start.lineSettings},
                         {QStringLiteral("interval"), start.interval},
                         {QStringLiteral("program"), str(settings::kApplication)},
                         {QStringLiteral("version"), start.programVersion},
                         {QStringLiteral("note"), QString()}};
        try {
            writeRunJson(folder, json);
        } catch (...) {
            QDir(folder).removeRecursively();
            throw;
        }
        current_ = folder;
        report(QString());
    } catch (const std::exception& e) {
        report(QStringLiteral("This run is not archived: %1").arg(QString::fromStdString(e.what())));
    }
}

void RunArchive::runEnded(const RunEnd& end)
{
    if (current_.isEmpty())
        return;
    const QString folder = current_;
    current_.clear();
    lastEnded_ = end.reportWritten ? folder : QString();
    const QString directory = directory_;
    const QString failure =
        QStringLiteral("The run in %1 was not archived whole: ").arg(QDir::toNativeSeparators(folder));
    queue(failure, [folder, directory, end] {
        QJsonObject json = readRunJson(folder);
        RunFileScan scan;
        const QString runFile = applicationFile(directory, str(runfiles::kRunFileName));
        if (QFileInfo::exists(runFile))
            copyInto(runFile, QDir(folder).filePath(str(runfiles::kRunFileName)), &scan);
        if (end.reportWritten) {
            copyInto(applicationFile(directory, str(runfiles::kReportFileName)),
                     QDir(folder).filePath(str(runfiles::kReportFileName)));
        }
        json.insert(QStringLiteral("state"), endingText(end.ending));
        json.insert(QStringLiteral("ended"), isoTime(end.ended));
        if (end.ending == Ending::Error)
            json.insert(QStringLiteral("reason"), end.reason);
        json.insert(QStringLiteral("records"), qint64(scan.records));
        json.insert(QStringLiteral("first_run_time_s"), orNull(scan.firstRunTime));
        json.insert(QStringLiteral("last_run_time_s"), orNull(scan.lastRunTime));
        json.insert(QStringLiteral("flywheel_radius_mm"), orNull(end.values.radiusMm));
        json.insert(QStringLiteral("flywheel_weight_g"), orNull(end.values.weightG));
        json.insert(QStringLiteral("esc_neutral"), end.values.escNeutral);
        json.insert(QStringLiteral("esc_full"), end.values.escFull);
        writeRunJson(folder, json);
    });
}

void RunArchive::recordFigures(const curves::MotorFigures& figures)
{
    if (lastEnded_.isEmpty())
        return;
    const QString folder = lastEnded_;
    queue(QStringLiteral("The figures of the run in %1 were not archived: ").arg(QDir::toNativeSeparators(folder)),
          [folder, figures] { archive::recordFigures(folder, figures); });
}

void RunArchive::setNote(const QString& folder, const QString& note)
{
    queue(QStringLiteral("The note of the run in %1 was not saved: ").arg(QDir::toNativeSeparators(folder)),
          [folder, note] { archive::setNote(folder, note); });
}

} // namespace zelvar::archive
