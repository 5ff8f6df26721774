#pragma once

// An archive of runs made up for the tests and the benchmark of the run
// list: <data directory>/runs/ with a folder per run holding its run.json, as
// the archive writes it, its Temp.dat and, for a run that Stop ended, its
// save.csv. Header only and without gtest, so that the benchmarks use it too.

#include "archive/RunArchive.h"
#include "platform/Decimal.h"
#include "platform/RuntimeError.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"

#include "SyntheticRuns.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTime>

namespace zelvar::testing_support {

// What a run leaves in the data directory: its run file and its report.
struct RunFileBytes {
    QByteArray runFile;
    QByteArray report;
};

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw RuntimeError("cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError("cannot read " + path.toStdString() + ": " + file.errorString().toStdString());
    return file.readAll();
}

// A run of one 1 s spin-up and the report the program's analysis makes of
// it (about 130 records), made in `scratch`.
inline RunFileBytes shortRun(const QString& scratch)
{
    const QString runFile = QDir(scratch).filePath(QStringLiteral("Temp.dat"));
    writeBytes(runFile, runOfSpinUps({1.0}));
    SequentialFiles files;
    RunAnalyzer(files, scratch).analyze({Decimal(30), Decimal(240), QString(), QString()});
    return {readBytes(runFile), readBytes(QDir(scratch).filePath(QStringLiteral("save.csv")))};
}

// Run `index` of a generated archive of `count`, 0 the oldest:
// - started at 2026-01-05 08:00:00 local time plus 3700 s for each index;
// - lasting 30 s plus 7 s for each index, at 50 records a second;
// - the newest one still "recording" (no end, no records), every hundredth
//   from 42 an "error" without a report, every hundredth from 77
//   "unfinished", the others "stopped" with a report;
// - a stopped run's peak output power 50 W plus 0.25 W for each index at
//   20000 RPM plus 10 for each index, but for every fourth from 3;
// - every tenth from 0 noted "motor <index>".
inline QDateTime generatedStart(int index)
{
    return QDateTime(QDate(2026, 1, 5), QTime(8, 0)).addSecs(3700LL * index);
}

inline archive::Ending generatedEnding(int index, int count)
{
    if (index == count - 1)
        return archive::Ending::Recording;
    if (index % 100 == 42)
        return archive::Ending::Error;
    if (index % 100 == 77)
        return archive::Ending::Unfinished;
    return archive::Ending::Stopped;
}

inline QJsonObject generatedRunJson(int index, int count)
{
    const auto iso = [](const QDateTime& t) { return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate); };
    const QDateTime started = generatedStart(index);
    const archive::Ending ending = generatedEnding(index, count);
    QJsonObject json{{QStringLiteral("format"), 1},
                     {QStringLiteral("state"), archive::endingText(ending)},
                     {QStringLiteral("started"), iso(started)},
                     {QStringLiteral("port"), 3},
                     {QStringLiteral("device"), QStringLiteral("/dev/ttyUSB0")},
                     {QStringLiteral("line_settings"), QStringLiteral("115200,n,8,1")},
                     {QStringLiteral("interval"), QStringLiteral("20")},
                     {QStringLiteral("note"), index % 10 == 0 ? QStringLiteral("motor %1").arg(index) : QString()}};
    if (ending == archive::Ending::Recording)
        return json;
    const int seconds = 30 + 7 * index;
    json.insert(QStringLiteral("ended"), iso(started.addSecs(seconds)));
    json.insert(QStringLiteral("records"), 50 * seconds);
    json.insert(QStringLiteral("first_run_time_s"), 0.02);
    json.insert(QStringLiteral("last_run_time_s"), seconds);
    if (ending == archive::Ending::Error)
        json.insert(QStringLiteral("reason"), QStringLiteral("the device /dev/ttyUSB0 is gone"));
    json.insert(QStringLiteral("flywheel_radius_mm"), 30);
    json.insert(QStringLiteral("flywheel_weight_g"), 240);
    json.insert(QStringLiteral("esc_neutral"), QStringLiteral("1500"));
    json.insert(QStringLiteral("esc_full"), QStringLiteral("2000"));
    if (ending == archive::Ending::Stopped && index % 4 != 3) {
        json.insert(QStringLiteral("peak_output_power_w"), 50 + 0.25 * index);
        json.insert(QStringLiteral("peak_output_power_rpm"), 20000 + 10 * index);
    }
    return json;
}

// Writes the `count` runs of a generated archive into
// `dataDirectory`/runs, each with `files` as its Temp.dat and, when
// stopped, its save.csv. Returns their folders, oldest first. Throws
// RuntimeError naming a file that could not be written.
inline QStringList writeArchivedRuns(const QString& dataDirectory, int count, const RunFileBytes& files)
{
    QDir runs(dataDirectory);
    if (!runs.mkpath(QString::fromLatin1(archive::kFolderName)) || !runs.cd(QString::fromLatin1(archive::kFolderName)))
        throw RuntimeError("cannot make the runs folder in " + dataDirectory.toStdString());
    QStringList folders;
    for (int index = 0; index < count; ++index) {
        const QString name = archive::folderName(generatedStart(index));
        if (!runs.mkdir(name))
            throw RuntimeError("cannot make the run folder " + runs.filePath(name).toStdString());
        const QDir folder(runs.filePath(name));
        writeBytes(folder.filePath(QString::fromLatin1(archive::kRunJsonName)),
                   QJsonDocument(generatedRunJson(index, count)).toJson());
        writeBytes(folder.filePath(QStringLiteral("Temp.dat")), files.runFile);
        if (generatedEnding(index, count) == archive::Ending::Stopped)
            writeBytes(folder.filePath(QStringLiteral("save.csv")), files.report);
        folders << folder.path();
    }
    return folders;
}

} // namespace zelvar::testing_support
