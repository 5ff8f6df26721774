#include "platform/RuntimeError.h"
#include "records/RunRecord.h"
#include "records/SequentialFiles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "Files.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace zelvar;
using testing_support::readAll;
using testing_support::writeAll;

namespace {

class SequentialFilesTest : public testing::Test {
protected:
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

    QByteArray contents(const char* name) const { return readAll(path(name)); }
    void writeRaw(const char* name, const QByteArray& bytes) const { writeAll(path(name), bytes); }

    QTemporaryDir dir_;
    SequentialFiles files_;
};

TEST_F(SequentialFilesTest, RecordsAreEncodedAsCommaSeparatedLinesEndingInCrLf)
{
    files_.OpenForOutput(11, path("save.csv"));
    files_.WriteRecord(11, {QString("Run Time (sec)"), QString("RPM")});
    files_.WriteRecord(11, {Decimal::parse("0.02"), Decimal(-5), Decimal::parse("123.37005504583454645")});
    files_.WriteRecord(11, {});
    files_.WriteRecord(11, {Decimal::parse("30.5"), QString("1500"), QString("a,b"), QString("say \"hi\"")});
    files_.Close(11);
    EXPECT_EQ(contents("save.csv"), "\"Run Time (sec)\",\"RPM\"\r\n"
                                    "0.02,-5,123.37005504583454645\r\n"
                                    "\r\n"
                                    "30.5,\"1500\",\"a,b\",\"say \"\"hi\"\"\"\r\n");
}

TEST_F(SequentialFilesTest, EachRecordReachesTheFileBeforeClose)
{
    files_.OpenForOutput(10, path("Temp.dat"));
    files_.WriteRecord(10, {Decimal(1), Decimal(2)});
    EXPECT_EQ(contents("Temp.dat"), "1,2\r\n");
    files_.WriteRecord(10, {Decimal(3)});
    EXPECT_EQ(contents("Temp.dat"), "1,2\r\n3\r\n");
}

TEST_F(SequentialFilesTest, OnlyWhatWasWrittenSinceTheLastSyncGoesToTheDisk)
{
    files_.OpenForOutput(10, path("Temp.dat"));
    EXPECT_FALSE(files_.SyncToDisk(10)) << "nothing written yet";
    files_.WriteRecord(10, {Decimal(1)});
    EXPECT_TRUE(files_.SyncToDisk(10));
    EXPECT_FALSE(files_.SyncToDisk(10)) << "nothing written since";
    {
        SequentialFiles::WriteBatch batch(files_);
        files_.WriteRecord(10, {Decimal(2)});
        EXPECT_TRUE(files_.SyncToDisk(10)) << "lines waiting in a batch go out with the sync";
    }
    EXPECT_EQ(contents("Temp.dat"), "1\r\n2\r\n");
}

TEST_F(SequentialFilesTest, ABatchHandsItsLinesOverTogether)
{
    files_.OpenForOutput(10, path("Temp.dat"));
    {
        SequentialFiles::WriteBatch batch(files_);
        files_.WriteRecord(10, {Decimal(1)});
        files_.WriteRecord(10, {Decimal(2)});
        EXPECT_EQ(contents("Temp.dat"), "");
        batch.commit();
        EXPECT_EQ(contents("Temp.dat"), "1\r\n2\r\n");
    }
    try {
        SequentialFiles::WriteBatch batch(files_);
        files_.WriteRecord(10, {Decimal(3)});
        throw RuntimeError("the handler fails");
    } catch (const RuntimeError&) {
    }
    EXPECT_EQ(contents("Temp.dat"), "1\r\n2\r\n3\r\n") << "a failed handler still keeps what it wrote";
    files_.WriteRecord(10, {Decimal(4)});
    EXPECT_EQ(contents("Temp.dat"), "1\r\n2\r\n3\r\n4\r\n") << "after the batch, each record goes out again";
}

TEST_F(SequentialFilesTest, WhatIsWrittenReadsBackTheSame)
{
    const RunRecord first{Decimal::parse("0.02"), Decimal::parse("11.76"), Decimal::parse("5.2"), Decimal(300)};
    const RunRecord second{Decimal::parse("11100.15"), Decimal::parse("655.35"), Decimal::parse("6553.5"),
                           Decimal(6553500)};
    files_.OpenForOutput(10, path("Temp.dat"));
    first.write(files_, 10);
    second.write(files_, 10);
    files_.WriteRecord(10, {QString("a,b"), QString("say \"hi\""), QString(), QString::fromUtf8("µs")});
    files_.Close(10);

    files_.OpenForInput(12, path("Temp.dat"));
    ASSERT_FALSE(files_.AtEnd(12));
    EXPECT_EQ(RunRecord::read(files_, 12), first);
    EXPECT_EQ(RunRecord::read(files_, 12), second);
    EXPECT_EQ(files_.ReadField(12), Field(QString("a,b")));
    EXPECT_EQ(files_.ReadField(12), Field(QString("say \"hi\"")));
    EXPECT_EQ(files_.ReadField(12), Field(QString()));
    EXPECT_EQ(files_.ReadField(12), Field(QString::fromUtf8("µs")));
    EXPECT_TRUE(files_.AtEnd(12));
}

TEST_F(SequentialFilesTest, AnEmptyFileIsAtItsEndAtOnce)
{
    files_.OpenForOutput(10, path("Temp.dat"));
    files_.Close(10);
    EXPECT_EQ(QFileInfo(path("Temp.dat")).size(), 0);
    files_.OpenForInput(12, path("Temp.dat"));
    EXPECT_TRUE(files_.AtEnd(12));
    EXPECT_THROW(files_.ReadField(12), RuntimeError);
}

TEST_F(SequentialFilesTest, LineEndsSeparateFieldsLikeCommas)
{
    writeRaw("in.dat", "1,2\r\n3\n4\r5");
    files_.OpenForInput(12, path("in.dat"));
    QStringList got;
    while (!files_.AtEnd(12))
        got << QString::fromStdString(files_.ReadNumber(12).toString());
    EXPECT_EQ(got, QStringList({"1", "2", "3", "4", "5"}));
}

TEST_F(SequentialFilesTest, ReadingFailuresNameTheFileAndLine)
{
    struct Case {
        const char* content;
        int numbersBeforeFailure;
        const char* messagePart;
    };
    const Case cases[] = {
        {"0.02,12,10,200\r\n0.04,12,x,300\r\n", 6, "line 2: not a number: \"x\""},
        {"0.02,12,10,200\r\n0.04,12\r\n", 6, "ends inside a record"},
        {"0.02,12,,200\r\n", 2, "line 1: not a number: \"\""},
        {"0.02,\"12\",10,200\r\n", 1, "line 1: not a number: \"12\""},
        {"1e5\r\n", 0, "not a number: \"1e5\""},
        {"0.02,99999999999999999999999999999,10,200\r\n", 1,
         "line 1: number too large: \"99999999999999999999999999999\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        writeRaw("bad.dat", c.content);
        files_.OpenForInput(12, path("bad.dat"));
        for (int i = 0; i < c.numbersBeforeFailure; ++i)
            files_.ReadNumber(12);
        try {
            files_.ReadNumber(12);
            ADD_FAILURE() << "no error";
        } catch (const RuntimeError& e) {
            EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("bad.dat"), std::string::npos) << e.what();
        }
        files_.Close(12);
    }
}

TEST_F(SequentialFilesTest, FileNumbersAreBoundOnceAndFreedByClose)
{
    files_.OpenForOutput(10, path("Temp.dat"));
    EXPECT_THROW(files_.OpenForOutput(10, path("other.dat")), RuntimeError);
    EXPECT_THROW(files_.OpenForInput(10, path("Temp.dat")), RuntimeError);
    files_.Close(10);
    files_.Close(10); // a free number stays free
    EXPECT_FALSE(files_.isBound(10));
    EXPECT_NO_THROW(files_.OpenForOutput(10, path("Temp.dat")));
}

TEST_F(SequentialFilesTest, UsingAFreeNumberOrTheWrongModeIsARunTimeError)
{
    EXPECT_THROW(files_.WriteRecord(10, {Decimal(1)}), RuntimeError);
    EXPECT_THROW(files_.ReadField(12), RuntimeError);
    EXPECT_THROW(files_.AtEnd(12), RuntimeError);
    files_.OpenForOutput(10, path("Temp.dat"));
    EXPECT_THROW(files_.ReadField(10), RuntimeError);
    EXPECT_THROW(files_.AtEnd(10), RuntimeError);
    files_.Close(10);
    files_.OpenForInput(12, path("Temp.dat"));
    EXPECT_THROW(files_.WriteRecord(12, {Decimal(1)}), RuntimeError);
}

TEST_F(SequentialFilesTest, OpeningFailuresKeepTheSystemsReason)
{
    try {
        files_.OpenForInput(12, path("missing.dat"));
        FAIL() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.dat"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(files_.isBound(12));
    EXPECT_THROW(files_.OpenForOutput(10, path("no/such/dir/Temp.dat")), RuntimeError);
    EXPECT_FALSE(files_.isBound(10));
}

TEST_F(SequentialFilesTest, NumbersUseAPointUnderACommaLocale)
{
    // A Qt program takes the user's C locale at start-up; numbers in files
    // must not follow it.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    // The C library's name of it: glibc's, then the Windows runtime's.
    const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr
                     || std::setlocale(LC_ALL, "German_Germany.1252") != nullptr;
    if (!german)
        GTEST_SKIP() << "no German locale is installed";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    files_.OpenForOutput(10, path("Temp.dat"));
    const RunRecord record{Decimal::fromDouble(1234.5), Decimal::parse("12.34"), Decimal::parse("0.5"), Decimal(0)};
    record.write(files_, 10);
    files_.Close(10);
    files_.OpenForInput(12, path("Temp.dat"));
    const RunRecord back = RunRecord::read(files_, 12);

    std::setlocale(LC_ALL, saved.c_str());
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(contents("Temp.dat"), "1234.5,12.34,0.5,0\r\n");
    EXPECT_EQ(back, record);
}

} // namespace
