// Where the program keeps its runs when started without --app-dir.

#include "shell/DataDirectory.h"

#include "Files.h"
#include "UserAccountFileSystem.h"

#include "platform/FileSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zelvar;
using testing_support::readAll;
using testing_support::writeAll;

namespace {

class DataDirectoryTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir(root_.path()).mkdir("program"));
        for (const char* name : {"RCS.dat", "RTA.dat"})
            writeAll(program() + "/" + name, name);
    }
    QString program() const { return root_.filePath("program"); }
    QString user() const { return root_.filePath("home/.local/share/zelvar-data"); }

    QTemporaryDir root_;
};

TEST_F(DataDirectoryTest, AWritableProgramDirectoryIsUsedAsItIs)
{
    EXPECT_EQ(dataDirectory(program(), user(), true), program());
    EXPECT_FALSE(QDir(user()).exists()) << "nothing is made in the user's directory";
}

TEST_F(DataDirectoryTest, AnUnwritableOneSendsTheRunsToTheUsersDirectoryWithTheControlFiles)
{
    EXPECT_EQ(dataDirectory(program(), user(), false), user());
    EXPECT_EQ(readAll(user() + "/RCS.dat"), "RCS.dat");
    EXPECT_EQ(readAll(user() + "/RTA.dat"), "RTA.dat");
}

TEST_F(DataDirectoryTest, TheCopiesFollowTheProgramsControlFiles)
{
    ASSERT_EQ(dataDirectory(program(), user(), false), user());
    writeAll(user() + "/Temp.dat", "0.02,12,10,200\r\n");
    writeAll(program() + "/RCS.dat", "new");
    ASSERT_TRUE(QFile::remove(program() + "/RTA.dat"));

    EXPECT_EQ(dataDirectory(program(), user(), false), user());
    EXPECT_EQ(readAll(user() + "/RCS.dat"), "new");
    EXPECT_FALSE(QFile::exists(user() + "/RTA.dat")) << "the load step must still miss it";
    EXPECT_EQ(readAll(user() + "/Temp.dat"), "0.02,12,10,200\r\n") << "the last run is kept";
}

TEST_F(DataDirectoryTest, WithoutAUserDirectoryTheProgramDirectoryStays)
{
    EXPECT_EQ(dataDirectory(program(), QString(), false), program());
    // A user directory that cannot be made (a file is in its way).
    writeAll(root_.filePath("home"), "x");
    EXPECT_EQ(dataDirectory(program(), user(), false), program());
}

TEST_F(DataDirectoryTest, WritableIsDecidedByMakingAFileInTheProgramDirectory)
{
    EXPECT_EQ(dataDirectory(FileSystem(), program(), user()), program());
    EXPECT_EQ(QDir(program()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2)
        << "the file made to find out is gone again";

    // A program folder that the user's account may not write, such as one
    // under Program Files: its access list says so, not its mode bits.
    const testing_support::UserAccountFileSystem user_account({}, {program()});
    EXPECT_EQ(dataDirectory(user_account, program(), user()), user());
    EXPECT_EQ(readAll(user() + "/RCS.dat"), "RCS.dat");

    EXPECT_FALSE(FileSystem().canCreateFileIn(root_.filePath("missing"))) << "a folder that is not there";
}

TEST(UserDataDirectory, IsTheProgramsOwnFolderOfTheUsersDataLocation)
{
#ifdef Q_OS_WIN
    EXPECT_EQ(userDataDirectory(),
              QDir(QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"))).filePath("Zelvar QT4 Data"));
#else
    const QString testName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName("zelvar-data"); // as the program names itself
    EXPECT_TRUE(userDataDirectory().endsWith("/zelvar-data")) << userDataDirectory().toStdString();
    QCoreApplication::setApplicationName(testName);
#endif
}

} // namespace
