#include "shell/InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace zelvar {

InstanceLock::InstanceLock(const QString& dataDirectory)
    : directory_(dataDirectory), lock_(std::make_unique<QLockFile>(lockFilePath(dataDirectory)))
{
    // Never stale by age: a program may run for days. A lock whose process
    // is gone is stale all the same.
    lock_->setStaleLockTime(0);
}

QString InstanceLock::lockFilePath(const QString& dataDirectory)
{
    const QFileInfo info(dataDirectory);
    const QString canonical = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray digest = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(QDir::tempPath()).filePath(QStringLiteral("zelvar-data-%1.lock").arg(QString::fromLatin1(digest)));
}

bool InstanceLock::tryLock()
{
    return lock_->tryLock(0);
}

qint64 InstanceLock::holder() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    return lock_->getLockInfo(&pid, &host, &application) ? pid : 0;
}

QString InstanceLock::alreadyRunningMessage() const
{
    const qint64 pid = holder();
    const QString folder = QDir::toNativeSeparators(directory_);
    return pid > 0 ? QStringLiteral("Zelvar QT4 Data is already running with the folder %1 (process %2).")
                         .arg(folder)
                         .arg(pid)
                   : QStringLiteral("Zelvar QT4 Data is already running with the folder %1.").arg(folder);
}

} // namespace zelvar
