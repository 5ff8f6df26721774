#pragma once

#include <QString>

#include <functional>

class QFile;

namespace zelvar {

// The file operations of the start-up step, on paths as the program names
// them: "<application directory>\RCS.dat" and "C:\WINDOWS\system32\...".
//
// A path with a drive letter ("L:\...") is native on Windows. Elsewhere it
// lives under the drives root as "<root>/L/..." (tests give a temporary
// directory), and without a drives root it does not exist. Other paths use
// "\" or "/" as separators alike.
class FileSystem {
public:
    explicit FileSystem(QString drivesRoot = {}) : drivesRoot_(std::move(drivesRoot)) {}

    // The path on this machine; empty for a drive path that cannot exist here.
    QString nativePath(const QString& path) const;

    bool FileExists(const QString& path) const;
    bool folderExists(const QString& path) const;
    // A plain copy; false when the source is missing, the target exists or
    // the system refuses.
    bool CopyFile(const QString& from, const QString& to) const;

private:
    QString drivesRoot_;
};

// A file of the program's own directory, joined with the native separator.
QString applicationFile(const QString& applicationDirectory, const QString& name);

// A file written whole under a temporary name and then renamed over its
// target, so that a failure leaves the target as it was. The temporary file
// is made beside the target (a rename does not cross file systems) with the
// mode the target would have had written in place: that of the file it
// replaces, else what any new file of the user gets (0666 less the umask);
// a temporary file of the usual kind would leave the target readable by its
// owner alone.
//
// Throws RuntimeError when the file cannot be made.
QString createReplacementFile(const QString& target);
// Renames `from` over `to`; throws RuntimeError naming `to` when it fails.
void replaceFile(const QString& from, const QString& to);
// Writes `target` whole through a replacement file: `write` fills it (false
// when a write failed), and it is put on the disk and renamed over the
// target. After any failure, thrown as RuntimeError naming the target or
// passed on from `write`, the target is as it was and the temporary file is
// gone.
void writeThroughReplacement(const QString& target, const std::function<bool(QFile&)>& write);

// Moves a file or a folder to the desktop's trash and returns where it went;
// empty when there is no trash to move it to, and it stays where it was.
QString moveToTrash(const QString& path);

// Makes the system put what was written to the open file on the disk itself
// (its data, not necessarily its times), so that a power cut cannot take it.
// Throws RuntimeError naming the file when the system cannot.
void syncToDisk(QFile& file);

} // namespace zelvar
