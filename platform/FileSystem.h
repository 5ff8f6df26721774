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
    // Tests put a file system in its place that refuses what an ordinary
    // user's account is refused (the system folder, a program folder under
    // Program Files): as root, or under Wine, nothing is refused for real.
    virtual ~FileSystem() = default;

    // The path on this machine; empty for a drive path that cannot exist here.
    QString nativePath(const QString& path) const;

    virtual bool FileExists(const QString& path) const;
    virtual bool folderExists(const QString& path) const;
    // A plain copy; false when the source is missing, the target exists or
    // the system refuses. Never asks for more rights than the user has.
    virtual bool CopyFile(const QString& from, const QString& to) const;
    // Whether a file can be made in the folder, found by making one and
    // removing it: permission bits say nothing of NTFS access lists, and
    // QFileInfo::isWritable reads only those.
    virtual bool canCreateFileIn(const QString& folder) const;

private:
    QString drivesRoot_;
};

// A file of the program's own directory, joined with the native separator.
QString applicationFile(const QString& applicationDirectory, const QString& name);

// The durability protocol. What the program reports as written survives a
// power cut: a file's data is only on the disk once it was synced, and a
// name (a new file, a new folder, a rename) only once its folder was synced.
// Every file the program writes whole goes through a temporary name beside
// it and replaceDurably(); every folder and run file it makes in the data
// directory is made durably. Folders Qt makes for its own use (settings,
// runtime folders) are left to Qt.
//
// Windows cannot open a folder to flush it: there the rename is made write
// through, which NTFS journals before it returns, and a new name is as
// durable as the system makes it.

// Puts the folder's entries (names made, renamed or removed in it) on the
// disk. Throws RuntimeError naming the folder when the system cannot.
void syncFolder(const QString& folder);

// Makes the folder and puts its name on the disk (its parent synced).
// False when something of that name is there already; throws RuntimeError
// naming the folder for any other failure.
bool createFolderDurably(const QString& path);

// A file just created or emptied through `file`: puts it, as it now is, and
// its name on the disk, so that a power cut cannot leave the file's old
// content or take its name once records follow.
void createdDurably(QFile& file);

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
// Puts `from` on the disk, renames it over `to`, and puts the rename on the
// disk: after a power cut `to` is either what it was or the whole of `from`,
// and once this returns it is `from`. Throws RuntimeError naming `to` when
// any step fails.
void replaceDurably(const QString& from, const QString& to);
// Writes `target` whole through a replacement file: `write` fills it (false
// when a write failed), and it is replaced durably. After any failure,
// thrown as RuntimeError naming the target or passed on from `write`, the
// target is as it was and the temporary file is gone.
void writeThroughReplacement(const QString& target, const std::function<bool(QFile&)>& write);

// Moves a file or a folder to the desktop's trash (on Windows the Recycle
// Bin) and returns where it went; empty when there is no trash to move it
// to, and it stays where it was.
QString moveToTrash(const QString& path);

// Makes the system put what was written to the open file on the disk itself
// (its data, not necessarily its times), so that a power cut cannot take it.
// Throws RuntimeError naming the file when the system cannot.
void syncToDisk(QFile& file);

} // namespace zelvar
