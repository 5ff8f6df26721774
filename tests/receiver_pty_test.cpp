// The receive path end to end on a real pseudo-terminal: the QSerialPort back
// end raises the receive event, the frame receiver decodes and records into a
// real run file.

#include "link/FrameReceiver.h"
#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX

#include "Frames.h"
#include "MemoryMainForm.h"
#include "PseudoTerminal.h"

#include <QFile>
#include <QTemporaryDir>

namespace zelvar {
namespace {

using namespace testing_support;

class ReceiverPtyTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty_.ready()) << std::strerror(errno);
        qputenv("ZELVAR_COM42", pty_.slavePath().toLocal8Bit());
        QObject::connect(&comm_, &SerialControl::OnComm, [this] { receiver_.MSComm1_OnComm(); });
        form_.Text1(Box::Interval).setText("20");
        form_.Command1().setCaption("Stop");
        form_.Label2().setCaption("Now Running");
        files_.OpenForOutput(runfiles::kRunFileNumber, dir_.filePath("Temp.dat"));
        comm_.setCommPort(42);
        comm_.setPortOpen(true);
        comm_.setInBufferCount(0);
    }

    void TearDown() override { qunsetenv("ZELVAR_COM42"); }

    QStringList recorded() const
    {
        QFile f(dir_.filePath("Temp.dat"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLatin1(f.readAll()).split("\r\n");
        lines.removeLast();
        return lines;
    }

    QTemporaryDir dir_;
    PseudoTerminal pty_;
    QtSerialControl comm_;
    MemoryMainForm form_;
    SequentialFiles files_;
    SystemClock clock_;
    FrameReceiver receiver_{comm_, form_, files_, clock_, QLocale::c()};
};

TEST_F(ReceiverPtyTest, FramesWrittenOnTheLineAreRecorded)
{
    QStringList expected;
    QByteArray stream("\x00\xD9", 2); // noise before the first frame
    for (int i = 1; i <= 200; ++i) {
        stream += runSample(2 * i, i);
        expected << QString::number(i / 50.0) + ",12,10," + QString::number(i * 100);
    }
    // In uneven pieces, as a USB adapter delivers them.
    for (qsizetype at = 0; at < stream.size(); at += 97)
        pty_.send(stream.mid(at, 97));

    ASSERT_TRUE(pumpUntil([&] { return recorded().size() >= expected.size(); })) << recorded().size();
    EXPECT_EQ(recorded(), expected);
    EXPECT_EQ(form_.texts().mid(0, 4), QStringList({"4", "12", "10", "20000"}));
    EXPECT_EQ(form_.Label2().caption(), "Now Running") << receiver_.lastError().toStdString();
}

// The serial control raises its receive event at most once per 20 ms, and the
// once-a-second rule for live samples applies within one event: of two live
// samples that arrive together only the first is kept.
TEST_F(ReceiverPtyTest, LiveSamplesArrivingTogetherAreOneEventAndOneRecord)
{
    const QByteArray first = liveSample(2, 1);
    const QByteArray second = liveSample(4, 2);
    pty_.send(first + second);
    ASSERT_TRUE(pumpUntil([&] { return !recorded().isEmpty(); }));
    // Long past the grouping pause: the second frame had its chance.
    pumpFor(200ms);
    EXPECT_EQ(recorded(), QStringList({"0.02,12,10,100"}));

    pty_.send(first);
    pumpFor(500ms);
    pty_.send(second);
    ASSERT_TRUE(pumpUntil([&] { return recorded().size() >= 3; })) << recorded().join(' ').toStdString();
    EXPECT_EQ(recorded().mid(1), QStringList({"0.02,12,10,100", "0.04,12,10,200"}));
}

TEST_F(ReceiverPtyTest, APulledCableEndsTheRunWithItsRecordsKept)
{
    pty_.send(runSample(2, 1) + runSample(4, 2));
    ASSERT_TRUE(pumpUntil([&] { return recorded().size() == 2; }));
    pty_.close();
    ASSERT_TRUE(pumpUntil([&] { return form_.Label2().caption() == "Error!"; }));
    EXPECT_EQ(form_.Command1().caption(), "Start");
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_FALSE(files_.isBound(runfiles::kRunFileNumber));
    EXPECT_EQ(recorded().size(), 2);
    EXPECT_TRUE(receiver_.lastError().contains("lost")) << receiver_.lastError().toStdString();
}

} // namespace
} // namespace zelvar

#endif // Q_OS_UNIX
