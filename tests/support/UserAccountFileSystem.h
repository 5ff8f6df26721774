#pragma once

// The file system as an ordinary user's account sees it: writing into the
// folders named is refused, as Windows refuses C:\WINDOWS\system32 or a
// folder under Program Files to a user without administrator rights. As
// root, and under Wine, such a refusal cannot be set up for real.

#include "platform/FileSystem.h"

#include <QDir>
#include <QStringList>

namespace zelvar::testing_support {

class UserAccountFileSystem : public FileSystem {
public:
    UserAccountFileSystem(QString drivesRoot, QStringList refusedFolders)
        : FileSystem(std::move(drivesRoot)), refused_(std::move(refusedFolders))
    {
    }

    bool CopyFile(const QString& from, const QString& to) const override
    {
        copiesTried.append(to);
        return !isRefused(to) && FileSystem::CopyFile(from, to);
    }
    bool canCreateFileIn(const QString& folder) const override
    {
        return !isRefused(folder + QStringLiteral("/x")) && FileSystem::canCreateFileIn(folder);
    }

    // Every copy asked for, refused or not, by its target.
    mutable QStringList copiesTried;

private:
    bool isRefused(const QString& path) const
    {
        const QString target = slashed(path);
        for (const QString& folder : refused_) {
            if (target.startsWith(slashed(folder) + QLatin1Char('/'), Qt::CaseInsensitive))
                return true;
        }
        return false;
    }

    // Drive paths name folders with "\\" on every system.
    static QString slashed(QString path) { return QDir::cleanPath(path.replace(QLatin1Char('\\'), QLatin1Char('/'))); }

    QStringList refused_;
};

} // namespace zelvar::testing_support
