// The run file's sync timer: what a tick puts on the disk, and when.

#include "records/DiskSync.h"
#include "records/SequentialFiles.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

namespace zelvar {
namespace {

class DiskSyncTest : public testing::Test {
protected:
    void openRunFile() { files_.OpenForOutput(10, dir_.filePath(QStringLiteral("Temp.dat"))); }

    QTemporaryDir dir_;
    SequentialFiles files_;
};

// The run file goes to the disk on every tick of the sync timer while it is
// open, and the timer's interval keeps a power cut's loss under a second.
TEST_F(DiskSyncTest, TicksSyncTheRunFileWhileItIsOpen)
{
    QStringList synced;
    DiskSync sync(files_, 10, [&](int number) { synced << QString::number(number); });
    ASSERT_LE(DiskSync::kInterval, std::chrono::milliseconds(1000));
    sync.tick();
    EXPECT_TRUE(synced.isEmpty()) << "no run file, nothing to sync";
    openRunFile();
    sync.tick();
    files_.Close(10);
    sync.tick();
    EXPECT_EQ(synced, QStringList({"10"}));
}

TEST_F(DiskSyncTest, WithoutASyncOfItsOwnATickSyncsWhatWasWritten)
{
    DiskSync sync(files_, 10);
    openRunFile();
    files_.WriteRecord(10, {Decimal(1)});
    sync.tick();
    EXPECT_FALSE(files_.SyncToDisk(10)) << "the tick left the record written since the last sync unsynced";
}

} // namespace
} // namespace zelvar
