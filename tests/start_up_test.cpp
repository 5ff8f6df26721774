#include "platform/FileSystem.h"
#include "shell/StartUp.h"

#include "Files.h"
#include "QtPrinters.h"
#include "UserAccountFileSystem.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zelvar;
using testing_support::readAll;
using testing_support::writeAll;

namespace {

// An application directory and a drives root, both temporary.
class StartUpTest : public testing::Test {
protected:
    StartUpTest() : files_(drives_.path()) {}

    QString app(const char* name) const { return applicationFile(appDir_.path(), name); }
    QString systemFolder(char letter) const { return drives_.filePath(QString(QChar(letter)) + "/WINDOWS/system32"); }
    void makeSystemFolder(char letter) const { ASSERT_TRUE(QDir().mkpath(systemFolder(letter))); }

    QTemporaryDir appDir_;
    QTemporaryDir drives_;
    FileSystem files_;
};

TEST_F(StartUpTest, MissingControlFilesAreReportedRcsFirst)
{
    EXPECT_EQ(startup::missingControlFileMessage(files_, appDir_.path()),
              "Error,Please make sure The File ' RCS' is in the same folder with Zelvar QT4 Data");
    writeAll(app("RCS.dat"), "serial");
    EXPECT_EQ(startup::missingControlFileMessage(files_, appDir_.path()),
              "Error,Please make sure The File ' RTA' is in the same folder Zelvar QT4 Data");
    writeAll(app("RTA.dat"), "controls");
    EXPECT_EQ(startup::missingControlFileMessage(files_, appDir_.path()), "");
}

TEST_F(StartUpTest, EveryDriveFromCToYWithASystemFolderGetsTheMissingComponents)
{
#ifdef Q_OS_WIN
    // There the drive paths are the machine's own: the copy would go into
    // the real C:\WINDOWS\system32.
    GTEST_SKIP() << "drive paths lie under a drives root off Windows only";
#endif
    writeAll(app("RCS.dat"), "serial");
    writeAll(app("RTA.dat"), "controls");
    for (char letter : {'B', 'C', 'D', 'Y', 'Z'})
        makeSystemFolder(letter);
    writeAll(systemFolder('D') + "/MSCOMM32.OCX", "already there");

    startup::installComponents(files_, appDir_.path());

    for (char letter : {'C', 'Y'}) {
        EXPECT_EQ(readAll(systemFolder(letter) + "/MSCOMM32.OCX"), "serial") << letter;
        EXPECT_EQ(readAll(systemFolder(letter) + "/MScomctl.OCX"), "controls") << letter;
    }
    EXPECT_EQ(readAll(systemFolder('D') + "/MSCOMM32.OCX"), "already there") << "an existing target is left alone";
    EXPECT_EQ(readAll(systemFolder('D') + "/MScomctl.OCX"), "controls");
    for (char letter : {'B', 'Z'})
        EXPECT_TRUE(QDir(systemFolder(letter)).isEmpty()) << letter << " is never examined";
    EXPECT_FALSE(QDir(drives_.filePath("E")).exists()) << "drives without a system folder get none";
}

TEST_F(StartUpTest, ARefusedCopyIsSkipped)
{
#ifdef Q_OS_WIN
    // There the drive paths are the machine's own: the copy would go into
    // the real C:\WINDOWS\system32.
    GTEST_SKIP() << "drive paths lie under a drives root off Windows only";
#endif
    writeAll(app("RCS.dat"), "serial");
    writeAll(app("RTA.dat"), "controls");
    makeSystemFolder('C');
    makeSystemFolder('D');
    // A directory in the way: the copy fails, the others go on.
    ASSERT_TRUE(QDir().mkpath(systemFolder('C') + "/MScomctl.OCX/x"));
    ASSERT_FALSE(files_.FileExists("C:\\WINDOWS\\system32\\MScomctl.OCX"));
    startup::installComponents(files_, appDir_.path());
    EXPECT_EQ(readAll(systemFolder('C') + "/MSCOMM32.OCX"), "serial");
    EXPECT_EQ(readAll(systemFolder('D') + "/MScomctl.OCX"), "controls");
}

TEST_F(StartUpTest, ACopyTheUsersAccountIsRefusedIsSkippedAndTheOthersAreTried)
{
    // Runs on Windows too: the refusal is the injected file system's, so
    // nothing reaches the real system folder there.
    writeAll(app("RCS.dat"), "serial");
    writeAll(app("RTA.dat"), "controls");
#ifndef Q_OS_WIN
    makeSystemFolder('C');
    makeSystemFolder('D');
#endif
    testing_support::UserAccountFileSystem user(drives_.path(), {"C:\\WINDOWS\\system32"});
    ASSERT_TRUE(user.folderExists("C:\\WINDOWS\\system32"));
#ifdef Q_OS_WIN
    if (user.FileExists("C:\\WINDOWS\\system32\\MSCOMM32.OCX")
        && user.FileExists("C:\\WINDOWS\\system32\\MScomctl.OCX"))
        GTEST_SKIP() << "this system has both components already (Wine brings its own): nothing is copied";
#endif

    startup::installComponents(user, appDir_.path());

    EXPECT_TRUE(user.copiesTried.contains("C:\\WINDOWS\\system32\\MSCOMM32.OCX"))
        << user.copiesTried.join(", ").toStdString();
    EXPECT_TRUE(user.copiesTried.contains("C:\\WINDOWS\\system32\\MScomctl.OCX"))
        << "a refused copy does not stop the next one: " << user.copiesTried.join(", ").toStdString();
    EXPECT_FALSE(user.FileExists("C:\\WINDOWS\\system32\\MSCOMM32.OCX"));
#ifndef Q_OS_WIN
    EXPECT_EQ(readAll(systemFolder('D') + "/MScomctl.OCX"), "controls") << "the next drive is still served";
#endif
}

TEST(FileSystem, DrivePathsLiveUnderTheDrivesRootOffWindows)
{
#ifndef Q_OS_WIN
    EXPECT_EQ(FileSystem("/tmp/drives").nativePath("C:\\WINDOWS\\system32\\MSCOMM32.OCX"),
              "/tmp/drives/C/WINDOWS/system32/MSCOMM32.OCX");
    EXPECT_EQ(FileSystem().nativePath("C:\\WINDOWS\\system32"), "") << "without a root there are no drives";
    EXPECT_FALSE(FileSystem().folderExists("C:\\WINDOWS\\system32"));
    EXPECT_EQ(FileSystem().nativePath("/opt/zelvar\\RCS.dat"), "/opt/zelvar/RCS.dat");
#endif
    EXPECT_EQ(applicationFile("dir", "Temp.dat"), QDir::toNativeSeparators("dir/Temp.dat"));
}

} // namespace
