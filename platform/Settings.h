#pragma once

#include <QSettings>
#include <QString>

namespace zelvar::settings {

// The program's settings file, named once: ~/.config/zelvar/zelvar-data.conf
// on Linux. Tests point QSettings' user scope at a scratch directory.
inline constexpr const char* kOrganization = "zelvar";
inline constexpr const char* kApplication = "zelvar-data";

inline QSettings open()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kOrganization),
                     QString::fromLatin1(kApplication));
}

} // namespace zelvar::settings
