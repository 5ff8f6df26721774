#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace zelvar {

// One program per data directory: a second one would empty the first one's
// Temp.dat at its Start and mark its live run unfinished. The lock lives in
// the system's temporary folder, named after the directory's canonical
// path, so the data directory holds only the program's own files. A lock
// left by a program that was killed is taken over, as its process is gone.
class InstanceLock {
public:
    explicit InstanceLock(const QString& dataDirectory);

    // True when this program now holds the directory.
    bool tryLock();
    // The process that holds it when tryLock() failed; 0 when not known.
    qint64 holder() const;
    // "Zelvar QT4 Data is already running with the folder ... (process N)."
    QString alreadyRunningMessage() const;

    static QString lockFilePath(const QString& dataDirectory);

private:
    QString directory_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace zelvar
