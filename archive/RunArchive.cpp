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
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace zelvar::archive {

namespace {

constexpr const char* kEnabledKey = "archive/enabled";
constexpr const char* kMotorKey = "archive/motor";
constexpr const char* kNameplateKvKey = "archive/nameplate_kv";
constexpr const char* kSupplyTextKey = "archive/supply_text";
constexpr qint64 kCopyChunk = 1 << 20;

QString str(const char* key)
{
    return QString::fromLatin1(key);
}

std::string text(const QString& s)
{
    return s.toStdString();
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

// "2026-12-07_14-03-21", with or without a "_2" after it.
bool startedName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(_\\d+)?$"));
    return pattern.match(name).hasMatch();
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

} // namespace

QString folderName(const QDateTime& started)
{
    return started.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

QString RunSummary::startedText() const
{
    return started.isValid() ? started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString RunSummary::durationText() const
{
    const std::optional<double> seconds = durationSeconds();
    if (!seconds || *seconds < 0)
        return QString();
    const auto whole = static_cast<long long>(std::llround(*seconds));
    const long long hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    const auto twoDigits = [](long long n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(twoDigits(minutes), twoDigits(rest));
    return QStringLiteral("%1:%2").arg(minutes).arg(twoDigits(rest));
}

std::optional<double> RunSummary::durationSeconds() const
{
    if (!started.isValid() || !ended.isValid())
        return std::nullopt;
    return started.msecsTo(ended) / 1000.0;
}

RunSummary summaryOf(const QString& folder, const RunJson& run)
{
    RunSummary s;
    s.folder = QDir(folder).absolutePath();
    s.name = QFileInfo(s.folder).fileName();
    s.started = run.startedAt();
    s.ended = run.endedAt();
    s.ending = run.state();
    s.reason = run.reason();
    s.records = run.records();
    s.peakPowerW = run.peakPowerW();
    s.peakPowerRpm = run.peakPowerRpm();
    s.note = run.note();
    s.values = run.values();
    s.motor = run.motor();
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
        if (!isRunFolder(folder)) {
            // A folder named as ours but without run.json was made by a Start
            // that the power cut off before it wrote it; anything else is not
            // a run of ours.
            if (startedName(name))
                listing.problems << QStringLiteral("%1: no run.json, the run was cut off as it started")
                                        .arg(QDir::toNativeSeparators(folder));
            continue;
        }
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
    RunJson run = readRunJson(folder);
    run.setNote(note);
    writeRunJson(folder, run);
}

void setMotor(const QString& folder, const RunMotor& motor)
{
    RunJson run = readRunJson(folder);
    run.setMotor(motor);
    writeRunJson(folder, run);
}

void recordFigures(const QString& folder, const curves::MotorFigures& figures)
{
    RunJson run = readRunJson(folder);
    run.setFigures(figures);
    writeRunJson(folder, run);
}

void copyInto(const QString& from, const QString& to, RunFileScan* scan)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw RuntimeError("cannot read \"" + text(from) + "\": " + text(source.errorString()));
    QByteArray pending; // a line cut by the chunk's end; left over at the end, a record the run did not finish
    writeThroughReplacement(to, [&](QFile& target) {
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
    settings::save(settings);
}

RunMotor motorForRunsToCome()
{
    const QSettings settings = settings::open();
    RunMotor motor;
    motor.name = settings.value(str(kMotorKey)).toString();
    bool read = false;
    const double kv = settings.value(str(kNameplateKvKey)).toDouble(&read);
    if (read && kv > 0.0)
        motor.nameplateKv = kv;
    motor.supplyText = settings.value(str(kSupplyTextKey)).toString();
    return motor;
}

void setMotorForRunsToCome(const RunMotor& motor)
{
    QSettings settings = settings::open();
    settings.setValue(str(kMotorKey), motor.name.trimmed());
    if (motor.nameplateKv)
        settings.setValue(str(kNameplateKvKey), *motor.nameplateKv);
    else
        settings.remove(str(kNameplateKvKey));
    settings.setValue(str(kSupplyTextKey), motor.supplyText.trimmed());
    settings::save(settings);
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
        RunJson run = readRunJson(folder);
        if (run.state() != Ending::Recording)
            return;
        RunFileScan scan;
        const QFileInfo runInfo(runFile);
        if (runInfo.exists()) {
            copyInto(runFile, QDir(folder).filePath(str(runfiles::kRunFileName)), &scan);
            // The last write is as near as anything tells when the run died.
            run.setEndedAt(runInfo.lastModified());
        }
        run.setState(Ending::Unfinished);
        run.setRunFile(scan);
        writeRunJson(folder, run);
    } catch (const std::exception& e) {
        report(QStringLiteral("The unfinished run in %1 was not recovered: %2")
                   .arg(QDir::toNativeSeparators(folder), QString::fromStdString(e.what())));
    }
}

QString RunArchive::newFolder(const QDateTime& started)
{
    const QString runsPath = QDir(directory_).filePath(str(kFolderName));
    if (!QFileInfo(runsPath).isDir() && !createFolderDurably(runsPath) && !QFileInfo(runsPath).isDir())
        throw RuntimeError("cannot make the folder \"" + text(QDir::toNativeSeparators(runsPath))
                           + "\": a file of that name is in the way");
    const QDir runs(runsPath);
    const QString base = folderName(started);
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? base : QStringLiteral("%1_%2").arg(base).arg(n);
        // Making a folder fails for a name that exists, so two programs
        // never share one.
        if (createFolderDurably(runs.filePath(name)))
            return runs.filePath(name);
    }
    throw RuntimeError("cannot make a run folder in \"" + text(QDir::toNativeSeparators(runsPath)) + "\"");
}

void RunArchive::runStarted(const RunStart& start)
{
    current_.clear();
    try {
        const QString folder = newFolder(start.started);
        try {
            writeRunJson(folder, RunJson::started(start, str(settings::kApplication)));
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

QString RunArchive::runEnded(const RunEnd& end)
{
    if (current_.isEmpty())
        return QString();
    const QString folder = current_;
    current_.clear();
    const QString directory = directory_;
    const QString failure =
        QStringLiteral("The run in %1 was not archived whole: ").arg(QDir::toNativeSeparators(folder));
    queue(failure, [folder, directory, end] {
        RunJson run = readRunJson(folder);
        RunFileScan scan;
        const QString runFile = applicationFile(directory, str(runfiles::kRunFileName));
        if (QFileInfo::exists(runFile))
            copyInto(runFile, QDir(folder).filePath(str(runfiles::kRunFileName)), &scan);
        if (end.reportWritten) {
            copyInto(applicationFile(directory, str(runfiles::kReportFileName)),
                     QDir(folder).filePath(str(runfiles::kReportFileName)));
        }
        run.setState(end.ending);
        run.setEndedAt(end.ended);
        if (end.ending == Ending::Error)
            run.setReason(end.reason);
        run.setRunFile(scan);
        run.setValues(end.values);
        writeRunJson(folder, run);
    });
    return folder;
}

void RunArchive::recordFigures(const QString& folder, const curves::MotorFigures& figures)
{
    queue(QStringLiteral("The figures of the run in %1 were not archived: ").arg(QDir::toNativeSeparators(folder)),
          [folder, figures] { archive::recordFigures(folder, figures); });
}

void RunArchive::setNote(const QString& folder, const QString& note)
{
    queue(QStringLiteral("The note of the run in %1 was not saved: ").arg(QDir::toNativeSeparators(folder)),
          [folder, note] { archive::setNote(folder, note); });
}

void RunArchive::setMotor(const QString& folder, const RunMotor& motor)
{
    queue(QStringLiteral("The motor of the run in %1 was not saved: ").arg(QDir::toNativeSeparators(folder)),
          [folder, motor] { archive::setMotor(folder, motor); });
}

} // namespace zelvar::archive
