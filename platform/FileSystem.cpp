#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zelvar {

namespace {

bool isDrivePath(const QString& path)
{
    return path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter()
        && (path.size() == 2 || path[2] == QLatin1Char('\\') || path[2] == QLatin1Char('/'));
}

} // namespace

QString FileSystem::nativePath(const QString& path) const
{
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
#ifndef Q_OS_WIN
    if (isDrivePath(path)) {
        if (drivesRoot_.isEmpty())
            return {};
        return QDir(drivesRoot_).filePath(p.left(1) + p.mid(2));
    }
#endif
    return QDir::toNativeSeparators(QDir::cleanPath(p));
}

bool FileSystem::FileExists(const QString& path) const
{
    const QString native = nativePath(path);
    return !native.isEmpty() && QFileInfo(native).isFile();
}

bool FileSystem::folderExists(const QString& path) const
{
    const QString native = nativePath(path);
    return !native.isEmpty() && QFileInfo(native).isDir();
}

bool FileSystem::CopyFile(const QString& from, const QString& to) const
{
    const QString source = nativePath(from);
    const QString target = nativePath(to);
    return !source.isEmpty() && !target.isEmpty() && QFile::copy(source, target);
}

QString applicationFile(const QString& applicationDirectory, const QString& name)
{
    return QDir::toNativeSeparators(QDir(applicationDirectory).filePath(name));
}

} // namespace zelvar
