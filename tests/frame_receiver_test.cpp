#include "link/FrameReceiver.h"
#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "Frames.h"
#include "ManualClock.h"
#include "MemoryMainForm.h"
#include "MemorySerialControl.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <random>

using namespace zelvar;
using namespace zelvar::testing_support;

namespace {

// A clock that gives the listed times in turn, then keeps the last one.
class ScriptedClock final : public Clock {
public:
    explicit ScriptedClock(std::deque<double> times) : times_(std::move(times)) {}
    double secondsSinceMidnight() const override
    {
        const double t = times_.front();
        if (times_.size() > 1)
            times_.pop_front();
        return t;
    }

private:
    mutable std::deque<double> times_;
};

class FrameReceiverTest : public testing::Test {
protected:
    FrameReceiverTest()
    {
        QObject::connect(&comm_, &SerialControl::OnComm, [this] { receiver_.MSComm1_OnComm(); });
        form_.Text1(Box::Interval).setText("20");
        form_.Command1().setCaption("Stop");
        form_.Label2().setCaption("Now Running");
        form_.Combo1().setEnabled(false);
        form_.Combo2().setEnabled(false);
        files_.OpenForOutput(runfiles::kRunFileNumber, runFile());
        comm_.setPortOpen(true);
    }

    QString runFile() const { return dir_.filePath("Temp.dat"); }

    // The run file's lines as written so far.
    QStringList recorded() const
    {
        QFile f(runFile());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromLatin1(f.readAll()).split("\r\n");
        lines.removeLast();
        return lines;
    }

    void expectRecovery()
    {
        EXPECT_EQ(form_.Label2().caption(), "Error!");
        EXPECT_EQ(form_.Command1().caption(), "Start");
        EXPECT_TRUE(form_.Combo1().isEnabled());
        EXPECT_TRUE(form_.Combo2().isEnabled());
        EXPECT_FALSE(comm_.PortOpen());
        EXPECT_FALSE(files_.isBound(runfiles::kRunFileNumber)) << "the run file number stays bound";
    }

    void expectRunning()
    {
        EXPECT_EQ(form_.Label2().caption(), "Now Running") << receiver_.lastError().toStdString();
        EXPECT_TRUE(comm_.PortOpen());
    }

    QTemporaryDir dir_;
    MemorySerialControl comm_;
    MemoryMainForm form_;
    SequentialFiles files_;
    ManualClock clock_{36000.0};
    FrameReceiver receiver_{comm_, form_, files_, clock_, QLocale::c()};
};

TEST_F(FrameReceiverTest, ASampleIsShownAndRecorded)
{
    comm_.feed(frameBytes(0x40, 500, {1230, 0x7B, 0x64}));
    EXPECT_EQ(form_.texts().mid(0, 4), QStringList({"5", "12.3", "12.3", "10000"}));
    EXPECT_EQ(recorded(), QStringList({"5,12.3,12.3,10000"}));
    EXPECT_TRUE(comm_.waiting().isEmpty());
    expectRunning();
}

TEST_F(FrameReceiverTest, BoxesUseTheUsersDecimalSeparatorButTheRecordDoesNot)
{
    FrameReceiver german(comm_, form_, files_, clock_, QLocale(QLocale::German, QLocale::Germany));
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    QObject::connect(&comm_, &SerialControl::OnComm, [&] { german.MSComm1_OnComm(); });
    form_.Text1(Box::Interval).setText("20,0");
    comm_.feed(frameBytes(0x40, 1234, {1230, 5, 10}));
    EXPECT_EQ(form_.texts().mid(0, 3), QStringList({"12,34", "12,3", "0,5"}));
    EXPECT_EQ(recorded(), QStringList({"12.34,12.3,0.5,1000"}));
}

TEST_F(FrameReceiverTest, BackToBackFramesAreAllRecorded)
{
    QByteArray burst;
    QStringList expected;
    for (int i = 1; i <= 9; ++i) {
        burst += runSample(2 * i, i);
        expected << QString::number(i / 50.0) + ",12,10," + QString::number(i * 100);
    }
    comm_.feed(burst);
    EXPECT_EQ(recorded(), expected);
    EXPECT_TRUE(comm_.waiting().isEmpty());
}

TEST_F(FrameReceiverTest, FewerThanAFrameIsLeftWaiting)
{
    const QByteArray frame = runSample(2);
    comm_.feed(frame.left(12));
    comm_.raise(SerialControl::kEventReceive);
    EXPECT_EQ(comm_.waiting().size(), 12);
    EXPECT_TRUE(recorded().isEmpty());
    comm_.feed(frame.mid(12));
    EXPECT_EQ(recorded().size(), 1);
}

TEST_F(FrameReceiverTest, OtherCommEventsReadNothing)
{
    comm_.feed(runSample(2), false);
    comm_.raise(1001);
    EXPECT_EQ(comm_.waiting().size(), 13);
    EXPECT_TRUE(recorded().isEmpty());
    expectRunning();
}

TEST_F(FrameReceiverTest, StrayBytesAreSkippedOneAtATime)
{
    comm_.feed(QByteArray("\x01\xAB\xFA", 3) + runSample(2));
    EXPECT_EQ(recorded().size(), 1);
    EXPECT_TRUE(comm_.waiting().isEmpty());
}

TEST_F(FrameReceiverTest, ASecondSyncByteStartsANewFrame)
{
    comm_.feed(QByteArray("\xD9", 1) + runSample(2));
    EXPECT_EQ(recorded(), QStringList({"0.02,12,10,1000"}));
    comm_.feed(QByteArray("\xD9\xD9\xD9", 3) + runSample(4));
    EXPECT_EQ(recorded().size(), 2);
    // A sync byte followed by anything but 0xAB or 0xD9 drops both bytes.
    comm_.feed(QByteArray("\xD9\x00", 2) + runSample(6));
    EXPECT_EQ(recorded().size(), 3);
}

TEST_F(FrameReceiverTest, ASyncByteTakenIsForgottenWhenTheWaitingBytesAreDiscarded)
{
    // 0xD9 0xD9 and 11 more bytes: the second 0xD9 is taken as the start of
    // a frame whose rest has not come yet.
    const QByteArray lone = QByteArray("\xD9\xD9", 2) + QByteArray(11, '\0');
    // What follows a cut: 0xAB and the 11 bytes of a valid sample body.
    const QByteArray cutFrame = runSample(2).mid(1);
    const std::pair<const char*, std::function<void()>> discards[] = {
        {"input buffer emptied", [this] { comm_.setInBufferCount(0); }},
        {"port closed and opened",
         [this] {
             comm_.setPortOpen(false);
             comm_.setPortOpen(true);
         }},
    };
    for (const auto& [how, discard] : discards) {
        SCOPED_TRACE(how);
        comm_.feed(lone);
        discard();
        comm_.feed(cutFrame);
        comm_.feed(runSample(4));
        EXPECT_EQ(recorded(), QStringList({"0.04,12,10,1000"})) << "a sample was made of bytes from two streams";
        files_.Close(runfiles::kRunFileNumber);
        files_.OpenForOutput(runfiles::kRunFileNumber, runFile());
        comm_.setInBufferCount(0);
    }
}

TEST_F(FrameReceiverTest, InvalidFramesChangeNothing)
{
    const QByteArray invalid[] = {frameBytes(0x41, 2),
                                  frameBytes(0x40, 2, kSampleValues, 0xFB),
                                  frameBytes(0x60, 2, kSampleValues, 0xFB),
                                  frameBytes(0x50, 2, kSampleValues, 0xFB),
                                  frameBytes(0x40, 0),
                                  frameBytes(0x60, 0)};
    for (const QByteArray& frame : invalid) {
        SCOPED_TRACE(frame.toHex(' ').toStdString());
        comm_.feed(frame);
        EXPECT_EQ(form_.texts(), QStringList({"", "", "", "", "", "", "", "", "20"}));
        EXPECT_TRUE(recorded().isEmpty());
        expectRunning();
    }
}

TEST_F(FrameReceiverTest, AnInvalidFrameStillNeedsAUsableInterval)
{
    form_.Text1(Box::Interval).setText("abc");
    comm_.feed(frameBytes(0x40, 2, kSampleValues, 0xFB));
    expectRecovery();
}

struct IntervalCase {
    const char* box;
    int ticks;
    bool shown;
};

class IntervalRuleTest : public FrameReceiverTest, public testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalRuleTest, OnlyTickCountsThatAreMultiplesOfTheDivisorPass)
{
    const IntervalCase& c = GetParam();
    form_.Text1(Box::Interval).setText(c.box);
    comm_.feed(runSample(c.ticks));
    EXPECT_EQ(recorded().size(), c.shown ? 1 : 0) << "interval \"" << c.box << "\", T = " << c.ticks;
    expectRunning();
}

INSTANTIATE_TEST_SUITE_P(Boxes, IntervalRuleTest,
                         testing::Values(IntervalCase{"20", 101, false}, IntervalCase{"20", 102, true},
                                         IntervalCase{"15", 103, false}, IntervalCase{"15", 102, true},
                                         IntervalCase{"25", 103, false}, IntervalCase{"25", 102, true},
                                         IntervalCase{"30", 102, true}, IntervalCase{"30", 100, false},
                                         IntervalCase{" 40 ", 104, true}, IntervalCase{"10", 7, true},
                                         IntervalCase{"-20", 102, true}, IntervalCase{"1000000000", 102, false}));

class BadIntervalTest : public FrameReceiverTest, public testing::WithParamInterface<const char*> {};

TEST_P(BadIntervalTest, AnyFrameEndsInTheRecovery)
{
    form_.Text1(Box::Interval).setText(GetParam());
    comm_.feed(runSample(2));
    comm_.feed(runSample(4)); // the port is closed now: dropped
    expectRecovery();
    EXPECT_TRUE(recorded().isEmpty());
    EXPECT_FALSE(receiver_.lastError().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Boxes, BadIntervalTest, testing::Values("5", "0", "", " ", "abc", "2O"));

TEST_F(FrameReceiverTest, ASetupFrameFillsTheSetupBoxesAndIsNotRecorded)
{
    comm_.feed(runSample(2));
    comm_.feed(setupFrame({.radiusTenthsMm = 305, .interval = 4}));
    EXPECT_EQ(form_.texts(), QStringList({"0.02", "12", "10", "1000", "30.5", "240", "1500", "2000", "40"}));
    EXPECT_EQ(recorded().size(), 1);
    // The new interval governs the very next frame.
    comm_.feed(runSample(6));
    EXPECT_EQ(recorded().size(), 1);
    comm_.feed(runSample(8));
    EXPECT_EQ(recorded().size(), 2);
}

TEST_F(FrameReceiverTest, AZeroIntervalFromTheDynoStopsTheNextFrame)
{
    comm_.feed(setupFrame({.interval = 0}) + setupFrame());
    EXPECT_EQ(form_.Text1(Box::Interval).text(), "0");
    expectRecovery();
}

TEST_F(FrameReceiverTest, ARunTimeIsRecordedOncePerEvent)
{
    comm_.feed(runSample(2) + runSample(2) + runSample(4) + runSample(2));
    EXPECT_EQ(recorded(), QStringList({"0.02,12,10,1000", "0.04,12,10,1000", "0.02,12,10,1000"}));
    comm_.feed(runSample(2));
    EXPECT_EQ(recorded().size(), 4);
}

TEST_F(FrameReceiverTest, LiveSamplesAreShownAtMostOnceASecondWithinAnEvent)
{
    ScriptedClock clock({100.0, 100.0, 100.5, 101.0, 101.0});
    FrameReceiver receiver(comm_, form_, files_, clock, QLocale::c());
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    QObject::connect(&comm_, &SerialControl::OnComm, [&] { receiver.MSComm1_OnComm(); });

    // Clock reads: test of the first (100), its display time (100), test of
    // the second (100.5: too soon), test of the third (101: a second later).
    comm_.feed(liveSample(2) + liveSample(4) + liveSample(6));
    EXPECT_EQ(recorded(), QStringList({"0.02,12,10,1000", "0.06,12,10,1000"}));
    // The first live sample of every event passes, whatever the clock says.
    comm_.feed(liveSample(8));
    EXPECT_EQ(recorded().size(), 3);
}

TEST_F(FrameReceiverTest, AClockThatGoesBackCountsAsLessThanASecond)
{
    ScriptedClock clock({86399.5, 86399.5, 0.2});
    FrameReceiver receiver(comm_, form_, files_, clock, QLocale::c());
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    QObject::connect(&comm_, &SerialControl::OnComm, [&] { receiver.MSComm1_OnComm(); });
    comm_.feed(liveSample(2) + liveSample(4));
    EXPECT_EQ(recorded().size(), 1);
}

TEST_F(FrameReceiverTest, ASampleWhileTheRunFileIsClosedShowsThenRecovers)
{
    files_.Close(runfiles::kRunFileNumber);
    comm_.feed(runSample(2));
    EXPECT_EQ(form_.texts().mid(0, 4), QStringList({"0.02", "12", "10", "1000"}));
    expectRecovery();
    EXPECT_NE(receiver_.lastError().indexOf("not open"), -1) << receiver_.lastError().toStdString();
}

TEST_F(FrameReceiverTest, ALostDeviceEndsTheRunWithEveryRecordKept)
{
    comm_.feed(runSample(2) + runSample(4));
    form_.Text1(Box::FlywheelRadius).setText("30.5");
    comm_.loseDevice("No such device");
    expectRecovery();
    EXPECT_EQ(recorded().size(), 2);
    EXPECT_EQ(form_.Text1(Box::FlywheelRadius).text(), "30.5") << "the recovery leaves the boxes as they are";
    EXPECT_NE(receiver_.lastError().indexOf("No such device"), -1);
    // The run file number is free for the next Start.
    EXPECT_NO_THROW(files_.OpenForOutput(runfiles::kRunFileNumber, runFile()));
}

// Frames with distinct tick counts, stray bytes, doubled sync bytes and
// invalid frames, cut at every byte offset: the records must not depend on how
// the bytes arrive.
TEST_F(FrameReceiverTest, SplittingTheStreamAnywhereGivesTheSameRecords)
{
    QByteArray stream;
    int ticks = 2;
    const QByteArray noise[] = {QByteArray("\xD9", 1),
                                QByteArray("\x00\xAB", 2),
                                QByteArray("\xD9\xD9", 2),
                                frameBytes(0x41, 3),
                                frameBytes(0x40, 5, {1, 1, 1}, 0xFB),
                                QByteArray()};
    for (const QByteArray& n : noise) {
        stream += n;
        stream += runSample(ticks, ticks);
        ticks += 2;
    }
    comm_.feed(stream);
    const QStringList reference = recorded();
    ASSERT_EQ(reference.size(), 6);

    for (int cut = 1; cut < stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        files_.Close(runfiles::kRunFileNumber);
        files_.OpenForOutput(runfiles::kRunFileNumber, runFile());
        comm_.feed(stream.left(cut));
        comm_.feed(stream.mid(cut));
        EXPECT_EQ(recorded(), reference);
        EXPECT_TRUE(comm_.waiting().isEmpty());
    }

    files_.Close(runfiles::kRunFileNumber);
    files_.OpenForOutput(runfiles::kRunFileNumber, runFile());
    for (char byte : stream)
        comm_.feed(QByteArray(1, byte));
    EXPECT_EQ(recorded(), reference) << "fed byte by byte";
    expectRunning();
}

// Random bytes in random chunks: the receiver never leaves a whole frame's
// worth waiting, records only well-formed lines, fails only where the bytes
// it was given call for it, and a valid frame after the noise is recorded.
TEST_F(FrameReceiverTest, NoByteSequenceBreaksTheReceiver)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> chunk(1, 40);
    const QRegularExpression wellFormed("^[0-9.]+,[0-9.]+,[0-9.]+,[0-9]+$");
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE(round);
        QByteArray bytes;
        for (int n = chunk(random); n > 0; --n) {
            // Mostly frame-like bytes, so that frames do form.
            const int pick = byte(random);
            bytes += char(pick < 40 ? 0xD9 : pick < 80 ? 0xAB : pick < 100 ? 0xFA : pick < 110 ? 0x40 : byte(random));
        }
        comm_.feed(bytes);
        if (!comm_.PortOpen()) {
            // Only a set-up frame with a short interval may stop the receiver.
            ASSERT_TRUE(receiver_.lastError().contains("divisor of 0")
                        || receiver_.lastError().contains("not a number"))
                << receiver_.lastError().toStdString();
            comm_.setPortOpen(true);
            files_.OpenForOutput(runfiles::kRunFileNumber, runFile());
        }
        ASSERT_LT(comm_.waiting().size(), 13);
        if (round % 7 == 0) {
            // Two frames' worth of zeros flush whatever frame the noise began.
            comm_.feed(QByteArray(26, 0));
            form_.Text1(Box::Interval).setText("20");
            comm_.feed(runSample(2 * (round + 1), 7));
            ASSERT_EQ(recorded().value(recorded().size() - 1), QString::number((round + 1) / 50.0) + ",12,10,700");
        }
    }
    for (const QString& l : recorded())
        EXPECT_TRUE(wellFormed.match(l).hasMatch()) << l.toStdString();
}

TEST(ReceiveRules, IntervalDivisorRoundsHalfToEven)
{
    const struct {
        const char* box;
        std::int64_t divisor;
    } cases[] = {{"20", 2}, {"15", 2},     {"25", 2},   {"35", 4},   {"10", 1},
                 {"6", 1},  {"2000", 200}, {"-20", -2}, {" 20 ", 2}, {"20.0", 2}};
    for (const auto& c : cases)
        EXPECT_EQ(receive::intervalDivisor(c.box, QLocale::c()), c.divisor) << "box \"" << c.box << "\"";
    for (const char* bad : {"5", "0", "4.9", "", " ", "x", "1,5"})
        EXPECT_THROW(receive::intervalDivisor(bad, QLocale::c()), RuntimeError) << "box \"" << bad << "\"";
}

} // namespace
