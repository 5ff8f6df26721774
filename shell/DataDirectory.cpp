#include "shell/DataDirectory.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace zelvar {

QString dataDirectory(const QString& programDirectory, const QString& userDirectory, bool programDirectoryWritable)
{
    if (programDirectoryWritable || userDirectory.isEmpty())
        return programDirectory;
    if (!QDir().mkpath(userDirectory))
        return programDirectory; // the run then fails at Start and says why
    const QDir from(programDirectory);
    const QDir to(userDirectory);
    for (const char* name : {"RCS.dat", "RTA.dat"}) {
        const QString target = to.filePath(QLatin1String(name));
        QFile::remove(target);
        if (from.exists(QLatin1String(name)))
            QFile::copy(from.filePath(QLatin1String(name)), target);
    }
    return userDirectory;
}

QString dataDirectory(const FileSystem& files, const QString& programDirectory, const QString& userDirectory)
{
    return dataDirectory(programDirectory, userDirectory, files.canCreateFileIn(programDirectory));
}

QString userDataDirectory()
{
#ifdef Q_OS_WIN
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (!local.isEmpty())
        return QDir(QDir::fromNativeSeparators(local)).filePath(QStringLiteral("Zelvar QT4 Data"));
#endif
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

} // namespace zelvar
