// The QSerialPort back end on a real pseudo-terminal: the contract suite with
// a pseudo-terminal as the far end, and what only a real terminal does.

#include "platform/SerialControl.h"

#ifdef Q_OS_UNIX
#include "CaseNames.h"
#include "PtyFarEnd.h"
#endif

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#ifdef Q_OS_UNIX

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <termios.h>

namespace zelvar {
namespace {

using namespace testing_support;

INSTANTIATE_TEST_SUITE_P(PseudoTerminal, SerialContract,
                         testing::Values(SerialBackEnd{"PseudoTerminal", [] { return std::make_unique<PtyFarEnd>(); }}),
                         CaseName());

class SerialPtyTest : public SerialControlTest {
protected:
    SerialPtyTest() : SerialControlTest(std::make_unique<PtyFarEnd>()) {}

    PseudoTerminal& pty() { return static_cast<PtyFarEnd&>(*far_).pty(); }
    static void pointPortAt(const QString& device) { PtyFarEnd::pointPortAt(device); }
};

TEST_F(SerialPtyTest, AStreamOfSingleFramesIsHandledInGroups)
{
    // At the line rate a frame comes every 1.1 ms; each event takes what
    // arrived during the pause before it, in order.
    receiveFrames();
    open();
    constexpr int kFrames = 120;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
        pty().send(kTrickyFrame);
        pumpFor(1ms);
    }
    ASSERT_TRUE(far_->waitFor([&] { return received_.size() == kFrames * 13; })) << received_.size();
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                             - started);
    EXPECT_EQ(received_, kTrickyFrame.repeated(kFrames));
    const auto groups = spent.count() / QtSerialControl::kReceiveGroupingMs + 2;
    EXPECT_LE(events_, groups) << kFrames << " frames over " << spent.count() << " ms";
    EXPECT_GE(smallestWaitingAtReceive_, 13) << "OnComm fired with less than a frame waiting";
}

TEST_F(SerialPtyTest, EmptyingTheInputBufferDiscardsWhatTheDeviceSentBeforeOpening)
{
    // The dyno streamed while nobody listened: the system kept it for us.
    pty().send(QByteArray(300, '\x55'));
    open();
    comm_.setInBufferCount(0);
    pty().send(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return comm_.InBufferCount() >= 13; }));
    EXPECT_EQ(comm_.Input().toHex().toStdString(), kTrickyFrame.toHex().toStdString());
}

TEST_F(SerialPtyTest, EmptyingTheInputBufferReachesBothQueues)
{
    open();
    pty().send(QByteArray(20, '\x55'));
    ASSERT_TRUE(far_->waitFor([&] { return comm_.InBufferCount() == 20; }));
    // These stay in the system's queue: nothing runs the event loop now.
    pty().send(QByteArray(7, '\x66'));
    comm_.setInBufferCount(0);
    EXPECT_EQ(comm_.InBufferCount(), 0);

    pty().send(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return comm_.InBufferCount() >= 13; }));
    pumpFor(50ms); // anything the flush missed would now show as well
    EXPECT_EQ(comm_.Input().toHex().toStdString(), kTrickyFrame.toHex().toStdString());
}

// A hung-up pseudo-terminal reports "Inappropriate ioctl for device" again and
// again, in a tight loop, until the port is closed.
TEST_F(SerialPtyTest, AHungUpTerminalIsReportedOnceAndLeavesTheLoopIdle)
{
    open();
    pty().close();
    ASSERT_TRUE(far_->waitFor([&] { return events_ > 0; })) << "the loss was not reported";
    pumpFor(200ms);
    EXPECT_EQ(events_, 1) << "the loss was reported more than once";
    EXPECT_EQ(losses_.size(), 1u);

    // Nothing is left to wake the loop: it goes idle instead of spinning.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    int busy = 0;
    while (busy < 1000 && dispatcher->processEvents(QEventLoop::AllEvents))
        ++busy;
    EXPECT_LT(busy, 1000) << "the event loop never went idle after the loss";
}

TEST_F(SerialPtyTest, ALossFoundWhileEmptyingTheBufferIsThrownThereNotRaised)
{
    open();
    pty().close();
    // The event loop has not run: only emptying the buffer meets the hang-up.
    const auto message = runtimeErrorOf([&] { comm_.setInBufferCount(0); });
    ASSERT_TRUE(message) << "emptying a hung-up port succeeded";
    EXPECT_TRUE(isLossOfTheDevice(*message));
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0) << "OnComm ran inside the caller's own call";

    pumpFor(100ms);
    EXPECT_EQ(events_, 0) << "the loss was reported twice: thrown, then raised";
    EXPECT_NO_THROW(comm_.CommEvent());
}

TEST_F(SerialPtyTest, ClosingLeavesNoEventsBehind)
{
    open();
    pty().send(QByteArray(26, '\x01'));
    comm_.setPortOpen(false);
    pumpFor(50ms);
    EXPECT_EQ(events_, 0) << "bytes that came just before the close raised OnComm";
}

TEST_F(SerialPtyTest, OpeningAMissingDeviceThrowsTheSystemsReason)
{
    // One name per process: QSerialPort takes a lock file named after the
    // device before it tries to open it.
    const QString missing = QStringLiteral("/nonexistent-zelvar-dir/ttyUSB%1").arg(QCoreApplication::applicationPid());
    pointPortAt(missing);
    const auto message = runtimeErrorOf([&] { open(); });
    ASSERT_TRUE(message) << "a missing device opened";
    EXPECT_TRUE(contains(*message, QStringLiteral("No such file or directory"))) << *message;
    EXPECT_TRUE(contains(*message, missing)) << *message;
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0) << "a failed open is not a lost device";

    pointPortAt(pty().slavePath());
    EXPECT_NO_THROW(comm_.setPortOpen(true)) << "the control is usable after a failed open";
}

TEST_F(SerialPtyTest, ADeviceThatIsNoSerialPortFailsToOpenAndStaysClosed)
{
    // Opening /dev/null succeeds; setting its line up does not.
    pointPortAt(QStringLiteral("/dev/null"));
    const auto message = runtimeErrorOf([&] { open(); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("/dev/null"))) << *message;
    const std::string prefix = "cannot open serial port /dev/null: ";
    EXPECT_TRUE(message->rfind(prefix, 0) == 0 && message->size() > prefix.size()) << "no reason given: " << *message;
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0);
}

TEST_F(SerialPtyTest, AnotherControlCannotOpenAPortInUse)
{
    receiveFrames();
    open();
    QtSerialControl second;
    second.setCommPort(kPort);
    const auto message = runtimeErrorOf([&] { second.setPortOpen(true); });
    ASSERT_TRUE(message) << "two controls opened one device";
    EXPECT_TRUE(contains(*message, pty().slavePath())) << *message;
    EXPECT_FALSE(second.PortOpen());

    pty().send(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return received_ == kTrickyFrame; })) << "the first control stopped receiving";
}

#ifdef Q_OS_LINUX
// A Linux pseudo-terminal master reads the slave's line settings, so we can see
// what QSerialPort made of ours. (A pseudo-terminal forces 8 data bits and no
// parity itself, so only speed, stop bits and raw mode can be checked.)
struct LineCase {
    const char* settings;
    speed_t speed;
    bool twoStopBits;
};

class SerialPtyLineTest : public SerialPtyTest, public testing::WithParamInterface<LineCase> {};

TEST_P(SerialPtyLineTest, OpeningAppliesTheSettingsInRawMode)
{
    const LineCase& line = GetParam();
    comm_.setSettings(QString::fromLatin1(line.settings));
    ASSERT_NO_THROW(open()) << line.settings;
    termios applied{};
    ASSERT_EQ(::tcgetattr(pty().master(), &applied), 0) << std::strerror(errno);
    EXPECT_EQ(::cfgetispeed(&applied), line.speed) << line.settings;
    EXPECT_EQ((applied.c_cflag & CSTOPB) != 0, line.twoStopBits) << line.settings;
    EXPECT_EQ(applied.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << "not raw: " << line.settings;
    EXPECT_EQ(applied.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u)
        << "input is translated: " << line.settings;
    EXPECT_EQ(applied.c_cflag & (CRTSCTS), 0u) << "hardware flow control: " << line.settings;
}

INSTANTIATE_TEST_SUITE_P(Settings, SerialPtyLineTest,
                         testing::Values(LineCase{"115200,N,8,1", B115200, false}, LineCase{"9600,E,7,2", B9600, true},
                                         // Termios has no 1.5: the receiver reads such a sender with one.
                                         LineCase{"19200,O,5,1.5", B19200, false},
                                         LineCase{"57600,m,6,2", B57600, true}));

TEST_F(SerialPtyTest, ACustomBaudRateOpens)
{
    comm_.setSettings(QStringLiteral("250000,N,8,1"));
    receiveFrames();
    ASSERT_NO_THROW(open());
    pty().send(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return received_ == kTrickyFrame; }));
}
#endif

} // namespace
} // namespace zelvar

#endif // Q_OS_UNIX
