#include "DynoSim.h"

#include "EventLoop.h"
#include "Files.h"

#include <QFile>

namespace zelvar::testing_support {

QString dynoSimPath()
{
    return QStringLiteral(ZELVAR_DYNO_SIM_PATH);
}

ProgramOutcome runSim(const QStringList& arguments)
{
    QProcess sim;
    sim.start(dynoSimPath(), arguments);
    if (!sim.waitForFinished(30000)) {
        sim.kill();
        sim.waitForFinished();
        return {-1, {}, QStringLiteral("did not finish")};
    }
    return {sim.exitCode(), QString::fromLocal8Bit(sim.readAllStandardOutput()),
            QString::fromLocal8Bit(sim.readAllStandardError())};
}

SimProcess::SimProcess(QStringList arguments, const QString& dir) : linkFile_(dir + "/link.txt")
{
    process_.start(dynoSimPath(), arguments << "--link-file" << linkFile_);
}

SimProcess::~SimProcess()
{
    finish();
}

QByteArray SimProcess::mapping(std::chrono::milliseconds limit)
{
    // The simulator writes the file whole under another name and renames it.
    pumpUntil([&] { return QFile::exists(linkFile_) || process_.state() == QProcess::NotRunning; }, limit);
    return QFile::exists(linkFile_) ? readAll(linkFile_).split('\n').first().trimmed() : QByteArray();
}

QString SimProcess::device(std::chrono::milliseconds limit)
{
    const QByteArray line = mapping(limit);
    const qsizetype equals = line.indexOf('=');
    return equals < 0 ? QString() : QString::fromLocal8Bit(line.mid(equals + 1));
}

bool SimProcess::waitForFinished(std::chrono::milliseconds limit)
{
    return process_.state() == QProcess::NotRunning || process_.waitForFinished(static_cast<int>(limit.count()));
}

ProgramOutcome SimProcess::finish()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    outcome_.exitCode = process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    outcome_.out += QString::fromLocal8Bit(process_.readAllStandardOutput());
    outcome_.err += QString::fromLocal8Bit(process_.readAllStandardError());
    return outcome_;
}

} // namespace zelvar::testing_support
