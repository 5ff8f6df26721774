#include "shell/StartUp.h"

#include "platform/FileSystem.h"

namespace zelvar::startup {

QString missingControlFileMessage(const FileSystem& files, const QString& applicationDirectory)
{
    // The two texts differ ("with" before the product name only in the
    // first); operators and their instructions know them as they are.
    if (!files.FileExists(applicationFile(applicationDirectory, QStringLiteral("RCS.dat"))))
        return QStringLiteral("Error,Please make sure The File ' RCS' is in the same folder with Zelvar QT4 Data");
    if (!files.FileExists(applicationFile(applicationDirectory, QStringLiteral("RTA.dat"))))
        return QStringLiteral("Error,Please make sure The File ' RTA' is in the same folder Zelvar QT4 Data");
    return {};
}

void installComponents(const FileSystem& files, const QString& applicationDirectory)
{
    const QString serial = applicationFile(applicationDirectory, QStringLiteral("RCS.dat"));
    const QString controls = applicationFile(applicationDirectory, QStringLiteral("RTA.dat"));
    for (char letter = 'C'; letter <= 'Y'; ++letter) {
        const QString systemFolder = QLatin1Char(letter) + QStringLiteral(":\\WINDOWS\\system32");
        if (!files.folderExists(systemFolder))
            continue;
        const QString serialTarget = systemFolder + QStringLiteral("\\MSCOMM32.OCX");
        if (!files.FileExists(serialTarget))
            files.CopyFile(serial, serialTarget);
        const QString controlsTarget = systemFolder + QStringLiteral("\\MScomctl.OCX");
        if (!files.FileExists(controlsTarget))
            files.CopyFile(controls, controlsTarget);
    }
}

} // namespace zelvar::startup
