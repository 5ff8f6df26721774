#pragma once

// The program's settings (the saved port map) in a scratch directory of the
// test's own, for the test's process and for the programs it starts: no test
// reads or writes the user's real settings.

#include "platform/Settings.h"

#include <gtest/gtest.h>

#include <QProcessEnvironment>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace zelvar::testing_support {

class ScratchSettings {
public:
    ScratchSettings()
    {
        EXPECT_TRUE(dir_.isValid()) << "cannot make a scratch settings directory";
        QSettings::setPath(settings::kFormat, QSettings::UserScope, dir_.path());
    }
    ~ScratchSettings()
    {
        // Back to the location the test run started with (ctest points
        // XDG_CONFIG_HOME at a scratch directory of the build too).
        QSettings::setPath(settings::kFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    }
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;

    QString path() const { return dir_.path(); }

    // For a program started by the test: the same settings.
    void applyTo(QProcessEnvironment& environment) const { environment.insert("XDG_CONFIG_HOME", dir_.path()); }

private:
    QTemporaryDir dir_;
};

} // namespace zelvar::testing_support
