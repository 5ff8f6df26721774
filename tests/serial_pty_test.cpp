// The QSerialPort back end on a real pseudo-terminal: the test holds the
// master side and plays the dyno controller; the control opens the slave
// through ZELVAR_COM<n>, as a user points the program at a USB adapter.

#include "platform/SerialControl.h"

#ifdef Q_OS_UNIX
#include "Errors.h"
#include "PseudoTerminal.h"
#endif

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#ifdef Q_OS_UNIX

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace zelvar {
namespace {

using namespace testing_support;

using namespace std::chrono_literals;

// A whole frame made of the bytes a terminal likes to interpret: CR, LF,
// XON, XOFF, 0xFF, NUL, DEL, Ctrl-C, Ctrl-D, Ctrl-Z.
const QByteArray kTrickyFrame("\xD9\xAB\x0D\x0A\x11\x13\xFF\x00\x7F\x03\x04\x1A\xFA", 13);

class SerialPtyTest : public testing::Test {
protected:
    static constexpr int kPort = 41;

    void SetUp() override
    {
        ASSERT_TRUE(pty_.ready()) << "no pseudo-terminal: " << std::strerror(errno);
        pointPortAt(pty_.slavePath());
        comm_.setCommPort(kPort);
        QObject::connect(&comm_, &SerialControl::OnComm, [this] {
            ++events_;
            portOpenAtEvent_ = comm_.PortOpen();
            try {
                const int code = comm_.CommEvent();
                lastCode_ = code;
                if (code == SerialControl::kEventReceive)
                    smallestWaitingAtReceive_ = std::min(smallestWaitingAtReceive_, comm_.InBufferCount());
            } catch (const RuntimeError& error) {
                ++lossesThrown_;
                loss_ = error.what();
            }
            if (onReceive_ && comm_.PortOpen())
                onReceive_();
        });
    }

    void TearDown() override { qunsetenv(variable()); }

    static const char* variable() { return "ZELVAR_COM41"; }
    static void pointPortAt(const QString& device) { qputenv(variable(), device.toLocal8Bit()); }

    // Reads whole frames while a whole frame waits, as the receive handler does.
    void receiveFrames()
    {
        onReceive_ = [this] {
            comm_.setInputLen(13);
            while (comm_.InBufferCount() >= 13)
                received_ += comm_.Input();
        };
    }

    // Both outlive the control (declared before it), which must have closed
    // them before they go: see PseudoTerminal.
    PseudoTerminal pty_;
    std::optional<PseudoTerminal> replugged_;
    QtSerialControl comm_;
    int events_ = 0;
    int lossesThrown_ = 0;
    int lastCode_ = -1;
    int smallestWaitingAtReceive_ = 1 << 30;
    bool portOpenAtEvent_ = false;
    std::string loss_;
    QByteArray received_;
    std::function<void()> onReceive_;
};

TEST_F(SerialPtyTest, FramesArriveUnalteredWithTheReceiveEvent)
{
    receiveFrames();
    comm_.setPortOpen(true);

    // Every byte value, 13 times over, in sends that cut frames anywhere.
    QByteArray stream = kTrickyFrame;
    for (int round = 0; round < 13; ++round) {
        for (int value = 0; value < 256; ++value)
            stream += char(value ^ round);
    }
    stream += kTrickyFrame;
    for (qsizetype at = 0, size = 1; at < stream.size(); at += size, size = size % 37 + 5)
        pty_.send(stream.mid(at, size));

    ASSERT_TRUE(pumpUntil([&] { return received_.size() >= stream.size(); }))
        << "received " << received_.size() << " of " << stream.size() << " bytes";
    EXPECT_EQ(received_.toHex().toStdString(), stream.toHex().toStdString());
    EXPECT_GE(events_, 1);
    EXPECT_EQ(lastCode_, SerialControl::kEventReceive);
    EXPECT_GE(smallestWaitingAtReceive_, 13) << "OnComm fired with less than a frame waiting";
    EXPECT_EQ(lossesThrown_, 0) << loss_;
}

TEST_F(SerialPtyTest, TheReceiveEventWaitsForTheThirteenthByte)
{
    comm_.setPortOpen(true);
    pty_.send(kTrickyFrame.left(12));
    ASSERT_TRUE(pumpUntil([&] { return comm_.InBufferCount() == 12; })) << "waiting: " << comm_.InBufferCount();
    EXPECT_EQ(events_, 0) << "OnComm fired for 12 bytes";

    pty_.send(kTrickyFrame.right(1));
    ASSERT_TRUE(pumpUntil([&] { return events_ > 0; }));
    EXPECT_EQ(lastCode_, SerialControl::kEventReceive);
    EXPECT_EQ(comm_.Input(), kTrickyFrame);
}

TEST_F(SerialPtyTest, AStreamOfSingleFramesIsHandledInGroups)
{
    // At the line rate a frame comes every 1.1 ms; each event takes what
    // arrived during the pause before it, in order.
    receiveFrames();
    comm_.setPortOpen(true);
    constexpr int kFrames = 120;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
        pty_.send(kTrickyFrame);
        pumpFor(1ms);
    }
    ASSERT_TRUE(pumpUntil([&] { return received_.size() == kFrames * 13; })) << received_.size();
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                             - started);
    EXPECT_EQ(received_, kTrickyFrame.repeated(kFrames));
    const auto groups = spent.count() / QtSerialControl::kReceiveGroupingMs + 2;
    EXPECT_LE(events_, groups) << kFrames << " frames over " << spent.count() << " ms";
    EXPECT_GE(smallestWaitingAtReceive_, 13) << "OnComm fired with less than a frame waiting";
}

TEST_F(SerialPtyTest, BytesLeftWaitingComeWithTheNextArrival)
{
    // A handler that takes one frame only: the other waits for more bytes.
    onReceive_ = [this] {
        comm_.setInputLen(13);
        received_ += comm_.Input();
    };
    comm_.setPortOpen(true);
    pty_.send(kTrickyFrame + kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return received_.size() == 13 && comm_.InBufferCount() == 13; }));
    const int eventsSoFar = events_;
    pty_.send(QByteArray(1, '\x42'));
    ASSERT_TRUE(pumpUntil([&] { return events_ > eventsSoFar; }));
    EXPECT_EQ(received_, kTrickyFrame + kTrickyFrame);
    EXPECT_EQ(comm_.InBufferCount(), 1);
}

TEST_F(SerialPtyTest, EmptyingTheInputBufferDiscardsWhatTheDeviceSentBeforeOpening)
{
    // The dyno streamed while nobody listened: the system kept it for us.
    pty_.send(QByteArray(300, '\x55'));
    comm_.setPortOpen(true);
    comm_.setInBufferCount(0);
    pty_.send(kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return comm_.InBufferCount() >= 13; }));
    EXPECT_EQ(comm_.Input().toHex().toStdString(), kTrickyFrame.toHex().toStdString());
}

TEST_F(SerialPtyTest, EmptyingTheInputBufferReachesBothQueues)
{
    comm_.setPortOpen(true);
    pty_.send(QByteArray(20, '\x55'));
    ASSERT_TRUE(pumpUntil([&] { return comm_.InBufferCount() == 20; }));
    // These stay in the system's queue: nothing runs the event loop now.
    pty_.send(QByteArray(7, '\x66'));
    comm_.setInBufferCount(0);
    EXPECT_EQ(comm_.InBufferCount(), 0);

    pty_.send(kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return comm_.InBufferCount() >= 13; }));
    pumpFor(50ms); // anything the flush missed would now show as well
    EXPECT_EQ(comm_.Input().toHex().toStdString(), kTrickyFrame.toHex().toStdString());
}

TEST_F(SerialPtyTest, PulledDeviceIsReportedOnceAndClosesThePort)
{
    receiveFrames();
    comm_.setPortOpen(true);
    pty_.send(kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return received_ == kTrickyFrame; }));
    const int eventsBefore = events_;

    pty_.close();
    ASSERT_TRUE(pumpUntil([&] { return events_ > eventsBefore; })) << "the loss was not reported";
    EXPECT_FALSE(portOpenAtEvent_) << "the port must be closed before OnComm runs";
    EXPECT_EQ(lossesThrown_, 1);
    EXPECT_TRUE(loss_.rfind("serial device lost: " + pty_.slavePath().toStdString() + ": ", 0) == 0) << loss_;
    EXPECT_GT(loss_.size(), ("serial device lost: " + pty_.slavePath().toStdString() + ": ").size())
        << "no reason given: " << loss_;

    // A hung-up pseudo-terminal keeps reporting the same error until closed.
    pumpFor(200ms);
    EXPECT_EQ(events_, eventsBefore + 1) << "the loss was reported more than once";
    EXPECT_EQ(lossesThrown_, 1);
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_NO_THROW(comm_.CommEvent()) << "the loss is thrown once";
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.InBufferCount(); })) << "the port should be closed";

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
    comm_.setPortOpen(true);
    pty_.close();
    // The event loop has not run: only emptying the buffer meets the hang-up.
    const auto message = runtimeErrorOf([&] { comm_.setInBufferCount(0); });
    ASSERT_TRUE(message) << "emptying a hung-up port succeeded";
    const std::string lost = "serial device lost: " + pty_.slavePath().toStdString() + ": ";
    EXPECT_TRUE(message->rfind(lost, 0) == 0) << *message;
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0) << "OnComm ran inside the caller's own call";

    pumpFor(100ms);
    EXPECT_EQ(events_, 0) << "the loss was reported twice: thrown, then raised";
    EXPECT_NO_THROW(comm_.CommEvent());
}

TEST_F(SerialPtyTest, ThePortOpensAgainOnANewDeviceAfterALoss)
{
    comm_.setPortOpen(true);
    pty_.close();
    ASSERT_TRUE(pumpUntil([&] { return events_ > 0; }));
    ASSERT_FALSE(comm_.PortOpen());

    replugged_.emplace();
    ASSERT_TRUE(replugged_->ready());
    pointPortAt(replugged_->slavePath());
    comm_.setPortOpen(true);
    replugged_->send(kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return events_ > 1; }));
    EXPECT_EQ(lastCode_, SerialControl::kEventReceive);
    EXPECT_EQ(comm_.Input(), kTrickyFrame);
}

TEST_F(SerialPtyTest, ClosingLeavesNoEventsBehind)
{
    comm_.setPortOpen(true);
    pty_.send(QByteArray(26, '\x01'));
    comm_.setPortOpen(false);
    pumpFor(50ms);
    EXPECT_EQ(events_, 0);
    pty_.close();
    pumpFor(50ms);
    EXPECT_EQ(events_, 0) << "the hang-up of a closed port is nobody's business";
}

TEST_F(SerialPtyTest, OpeningAMissingDeviceThrowsTheSystemsReason)
{
    // One name per process: QSerialPort takes a lock file named after the
    // device before it tries to open it.
    const QString missing = QStringLiteral("/nonexistent-zelvar-dir/ttyUSB%1").arg(QCoreApplication::applicationPid());
    pointPortAt(missing);
    const auto message = runtimeErrorOf([&] { comm_.setPortOpen(true); });
    ASSERT_TRUE(message) << "a missing device opened";
    EXPECT_TRUE(contains(*message, QStringLiteral("No such file or directory"))) << *message;
    EXPECT_TRUE(contains(*message, missing)) << *message;
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0) << "a failed open is not a lost device";

    pointPortAt(pty_.slavePath());
    EXPECT_NO_THROW(comm_.setPortOpen(true)) << "the control is usable after a failed open";
}

TEST_F(SerialPtyTest, ADeviceThatIsNoSerialPortFailsToOpenAndStaysClosed)
{
    // Opening /dev/null succeeds; setting its line up does not.
    pointPortAt(QStringLiteral("/dev/null"));
    const auto message = runtimeErrorOf([&] { comm_.setPortOpen(true); });
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
    comm_.setPortOpen(true);
    QtSerialControl second;
    second.setCommPort(kPort);
    const auto message = runtimeErrorOf([&] { second.setPortOpen(true); });
    ASSERT_TRUE(message) << "two controls opened one device";
    EXPECT_TRUE(contains(*message, pty_.slavePath())) << *message;
    EXPECT_FALSE(second.PortOpen());

    pty_.send(kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return received_ == kTrickyFrame; })) << "the first control stopped receiving";
}

TEST_F(SerialPtyTest, MalformedSettingsAreRejectedBeforeOpening)
{
    const auto message = runtimeErrorOf([&] { comm_.setSettings(QStringLiteral("115200,N,8")); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("\"115200,N,8\""))) << *message;
    EXPECT_EQ(comm_.Settings(), QStringLiteral("115200,N,8,1"));
    EXPECT_NO_THROW(comm_.setPortOpen(true));
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
    ASSERT_NO_THROW(comm_.setPortOpen(true)) << line.settings;
    termios applied{};
    ASSERT_EQ(::tcgetattr(pty_.master(), &applied), 0) << std::strerror(errno);
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
    ASSERT_NO_THROW(comm_.setPortOpen(true));
    pty_.send(kTrickyFrame);
    ASSERT_TRUE(pumpUntil([&] { return received_ == kTrickyFrame; }));
}
#endif

} // namespace
} // namespace zelvar

#endif // Q_OS_UNIX
