#pragma once

#include "platform/FileSystem.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>

#include <exception>

namespace zelvar::settings {

// The program's settings file, named once: ~/.config/zelvar/zelvar-data.conf
// on Linux, %APPDATA%\zelvar\zelvar-data.ini on Windows. A file there too,
// not the registry: one file a user can see, copy and delete, and one that
// tests point at a scratch directory (QSettings::setPath with kFormat), as
// they do on Linux.
inline constexpr const char* kOrganization = "zelvar";
inline constexpr const char* kApplication = "zelvar-data";
#ifdef Q_OS_WIN
inline constexpr QSettings::Format kFormat = QSettings::IniFormat;
#else
inline constexpr QSettings::Format kFormat = QSettings::NativeFormat;
#endif

inline QSettings open()
{
    return QSettings(kFormat, QSettings::UserScope, QString::fromLatin1(kOrganization),
                     QString::fromLatin1(kApplication));
}

// Writes what was set to the settings file and puts it on the disk: Qt
// writes it under a temporary name, synced, and renames it, but leaves the
// rename to the folder, which is synced here. False when it could not be
// written.
inline bool save(QSettings& settings)
{
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return false;
    const QFileInfo file(settings.fileName());
    if (!file.exists())
        return true; // nothing was ever written, so nothing was renamed
    try {
        syncFolder(file.absolutePath());
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

} // namespace zelvar::settings
