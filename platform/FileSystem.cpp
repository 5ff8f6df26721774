#include "platform/FileSystem.h"

#include "platform/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>

#include <shellapi.h>
// <windows.h> makes CopyFile a macro for CopyFileW, which would rename our
// own member in its definition below.
#undef CopyFile
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zelvar {

#ifndef Q_OS_WIN
namespace {

// Windows drive paths are mapped under the drives root elsewhere; on
// Windows they are the machine's own.
bool isDrivePath(const QString& path)
{
    return path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter()
        && (path.size() == 2 || path[2] == QLatin1Char('\\') || path[2] == QLatin1Char('/'));
}

} // namespace
#endif

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

bool FileSystem::canCreateFileIn(const QString& folder) const
{
    const QString native = nativePath(folder);
    if (native.isEmpty() || !QFileInfo(native).isDir())
        return false;
    QTemporaryFile probe(QDir(native).filePath(QStringLiteral(".zelvar-write-test-XXXXXX")));
    return probe.open(); // removed again as the probe goes
}

QString applicationFile(const QString& applicationDirectory, const QString& name)
{
    return QDir::toNativeSeparators(QDir(applicationDirectory).filePath(name));
}

QString createReplacementFile(const QString& target)
{
    const QFileInfo info(target);
    QString lastError;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = info.absoluteDir().filePath(
            info.fileName()
            + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate() & 0xFFFFFF, 6, 16, QLatin1Char('0')));
        // NewOnly creates the file the way any new file is created, so the
        // system applies the user's umask, and never takes over a file of
        // someone else's.
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            file.close();
            if (info.exists() && !QFile::setPermissions(path, QFile::permissions(target))) {
                QFile::remove(path);
                throw RuntimeError("cannot give \"" + path.toStdString() + "\" the mode of \"" + target.toStdString()
                                   + "\"");
            }
            return QDir::toNativeSeparators(path);
        }
        lastError = file.errorString();
        if (!QFile::exists(path))
            break; // not a clash of names: trying again would fail the same way
    }
    throw RuntimeError("cannot create a file beside \"" + target.toStdString() + "\": " + lastError.toStdString());
}

QString moveToTrash(const QString& path)
{
#ifdef Q_OS_WIN
    // Qt 6.4 goes through IFileOperation, which not every system has (Wine
    // has none); the shell's older call reaches the same Recycle Bin. It
    // asks before it deletes for good what the bin cannot take.
    std::wstring from = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
    from.push_back(L'\0'); // a list of names, ended by an empty one
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_WANTNUKEWARNING | FOF_SILENT | FOF_NOERRORUI;
    if (SHFileOperationW(&operation) != 0 || operation.fAnyOperationsAborted || QFileInfo::exists(path))
        return QString();
    return QStringLiteral("the Recycle Bin");
#else
    QString pathInTrash;
    if (!QFile::moveToTrash(path, &pathInTrash))
        return QString();
    if (QDir::isAbsolutePath(pathInTrash))
        return pathInTrash;
    // Where it finds no trash, Qt 6.4 moves the file into files/ of the
    // working directory, with its record in info/, says it trashed it and
    // gives that place as a relative path. It is put back, and the folders
    // made for it go when empty.
    const QFileInfo moved(QDir::current().absoluteFilePath(pathInTrash));
    if (!QDir().rename(moved.absoluteFilePath(), path))
        return moved.absoluteFilePath();
    QDir base = moved.absoluteDir();
    base.cdUp();
    QFile::remove(base.filePath(QStringLiteral("info/%1.trashinfo").arg(moved.fileName())));
    base.rmdir(QStringLiteral("files"));
    base.rmdir(QStringLiteral("info"));
    return QString();
#endif
}

namespace {

std::string errorText(int error = errno)
{
    return std::strerror(error);
}

std::string quotedPath(const QString& path)
{
    return "\"" + QDir::toNativeSeparators(path).toStdString() + "\"";
}

} // namespace

void syncToDisk(QFile& file)
{
#if defined(Q_OS_WIN)
    const bool synced = FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()))) != 0;
#elif defined(Q_OS_MACOS)
    const bool synced = ::fsync(file.handle()) == 0;
#else
    const bool synced = ::fdatasync(file.handle()) == 0;
#endif
    // A device file (a pipe, /dev/null) has no disk to put anything on.
    if (!synced && errno != EINVAL)
        throw RuntimeError("cannot put \"" + file.fileName().toStdString() + "\" on the disk: " + errorText());
}

void syncFolder(const QString& folder)
{
#ifdef Q_OS_WIN
    // Windows cannot open a folder to flush it (FlushFileBuffers wants a
    // file); its names are as durable as the write-through rename and NTFS's
    // journal make them.
    Q_UNUSED(folder);
#else
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw RuntimeError("cannot open the folder " + quotedPath(folder) + " to put it on the disk: " + errorText());
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems (a few network ones) cannot sync a folder at all.
    if (error != 0 && error != EINVAL)
        throw RuntimeError("cannot put the folder " + quotedPath(folder) + " on the disk: " + errorText(error));
#endif
}

bool createFolderDurably(const QString& path)
{
    const QFileInfo info(path);
    if (!QDir().mkdir(path)) {
        if (info.exists())
            return false;
        throw RuntimeError("cannot make the folder " + quotedPath(path));
    }
    syncFolder(info.absolutePath());
    return true;
}

void createdDurably(QFile& file)
{
    syncToDisk(file);
    syncFolder(QFileInfo(file.fileName()).absolutePath());
}

void replaceDurably(const QString& from, const QString& to)
{
    {
        QFile file(from);
        if (!file.open(QIODevice::ReadWrite))
            throw RuntimeError("cannot replace " + quotedPath(to) + ": " + file.errorString().toStdString());
        syncToDisk(file);
    }
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                     reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw RuntimeError("cannot replace " + quotedPath(to) + ": "
                           + std::system_category().message(static_cast<int>(GetLastError())));
#else
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), std::filesystem::path(to.toStdU16String()),
                            error);
    if (error)
        throw RuntimeError("cannot replace \"" + to.toStdString() + "\": " + error.message());
#endif
    syncFolder(QFileInfo(to).absolutePath());
}

void writeThroughReplacement(const QString& target, const std::function<bool(QFile&)>& write)
{
    const QString temporary = createReplacementFile(target);
    QFile file(temporary);
    try {
        if (!file.open(QIODevice::WriteOnly) || !write(file) || !file.flush())
            throw RuntimeError("cannot write \"" + target.toStdString() + "\": " + file.errorString().toStdString());
        file.close();
        replaceDurably(temporary, target);
    } catch (...) {
        file.close();
        QFile::remove(temporary);
        throw;
    }
}

} // namespace zelvar
