#pragma once

#include <QString>

namespace zelvar {

class FileSystem;

// Where the program keeps Temp.dat and save.csv when it was started without
// --app-dir: its own directory, as always, while that is writable. An
// installed program (/usr/lib/zelvar-data, or a folder under Program Files
// that only an administrator may write) cannot write there, so it keeps
// its runs in the user's data directory instead, and the control files the
// load step checks for are mirrored into it from beside the program: a copy
// is refreshed from the program's directory, and removed when the original
// is gone, so that the check still answers for the program's own directory.
// Returns the directory to use; the user's directory is made when needed.
QString dataDirectory(const QString& programDirectory, const QString& userDirectory, bool programDirectoryWritable);

// The same, with the program's directory found writable by making a file
// in it through `files`.
QString dataDirectory(const FileSystem& files, const QString& programDirectory, const QString& userDirectory);

// The user's own data directory: "%LOCALAPPDATA%\Zelvar QT4 Data" on
// Windows (the machine's, not the roaming profile: runs are large and
// belong to the bench), ~/.local/share/zelvar-data elsewhere.
QString userDataDirectory();

} // namespace zelvar
