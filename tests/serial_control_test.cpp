// The serial control's contract, through the in-memory back end, and its pure
// helpers: the settings text, port names and which port errors mean the
// device is gone.

#include "platform/SerialControl.h"

#include "CaseNames.h"
#include "Errors.h"
#include "MemorySerialControl.h"

#include <QtSerialPort/QSerialPort>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zelvar {
namespace {

using testing_support::contains;
using testing_support::runtimeErrorOf;

// Bytes 0 to n-1 modulo 256, so that an offset or a lost byte shows.
QByteArray counting(int n, int first = 0)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((first + i) & 0xFF);
    return bytes;
}

// --- Settings text ---------------------------------------------------------

struct ValidSettings {
    const char* text;
    SerialSettings expected;
};

class ValidSettingsTest : public testing::TestWithParam<ValidSettings> {};

TEST_P(ValidSettingsTest, ParsesEveryField)
{
    const ValidSettings& row = GetParam();
    SerialSettings parsed;
    ASSERT_NO_THROW(parsed = parseSettings(QString::fromLatin1(row.text))) << "text: " << row.text;
    EXPECT_EQ(parsed.baudRate, row.expected.baudRate) << "text: " << row.text;
    EXPECT_EQ(parsed.parity, row.expected.parity) << "text: " << row.text;
    EXPECT_EQ(parsed.dataBits, row.expected.dataBits) << "text: " << row.text;
    EXPECT_EQ(static_cast<int>(parsed.stopBits), static_cast<int>(row.expected.stopBits)) << "text: " << row.text;
}

using Stop = SerialSettings::StopBits;

INSTANTIATE_TEST_SUITE_P(SettingsText, ValidSettingsTest,
                         testing::Values(ValidSettings{"115200,N,8,1", {115200, 'N', 8, Stop::One}},
                                         ValidSettings{"9600,E,7,2", {9600, 'E', 7, Stop::Two}},
                                         ValidSettings{"300,O,5,1.5", {300, 'O', 5, Stop::OneAndHalf}},
                                         ValidSettings{"250000,M,6,1", {250000, 'M', 6, Stop::One}},
                                         ValidSettings{"1,S,8,2", {1, 'S', 8, Stop::Two}},
                                         ValidSettings{"2147483647,N,8,1", {2147483647, 'N', 8, Stop::One}},
                                         ValidSettings{"19200,n,8,1", {19200, 'N', 8, Stop::One}},
                                         ValidSettings{"19200,e,8,1", {19200, 'E', 8, Stop::One}},
                                         ValidSettings{"19200,o,8,1", {19200, 'O', 8, Stop::One}},
                                         ValidSettings{"19200,m,8,1", {19200, 'M', 8, Stop::One}},
                                         ValidSettings{"19200,s,8,1", {19200, 'S', 8, Stop::One}}));

struct InvalidSettings {
    const char* text;
    const char* problem; // part of the message that says what is wrong
};

class InvalidSettingsTest : public testing::TestWithParam<InvalidSettings> {};

TEST_P(InvalidSettingsTest, IsRejectedWithTheTextAndTheProblem)
{
    const InvalidSettings& row = GetParam();
    const auto message = runtimeErrorOf([&] { parseSettings(QString::fromLatin1(row.text)); });
    ASSERT_TRUE(message) << "accepted: \"" << row.text << "\"";
    EXPECT_TRUE(contains(*message, QStringLiteral("\"%1\"").arg(QLatin1String(row.text))))
        << "the message does not quote the text: " << *message;
    EXPECT_TRUE(contains(*message, QLatin1String(row.problem)))
        << "the message does not say \"" << row.problem << "\": " << *message;
}

INSTANTIATE_TEST_SUITE_P(
    SettingsText, InvalidSettingsTest,
    testing::Values(InvalidSettings{"", "found 1"}, InvalidSettings{"115200", "found 1"},
                    InvalidSettings{"115200,N,8", "found 3"}, InvalidSettings{"115200,N,8,1,1", "found 5"},
                    InvalidSettings{"115200;N;8;1", "found 1"}, InvalidSettings{"115200, N,8,1", "blanks"},
                    InvalidSettings{" 115200,N,8,1", "blanks"}, InvalidSettings{"115200,N,8,1 ", "blanks"},
                    InvalidSettings{"115 200,N,8,1", "blanks"}, InvalidSettings{"115200,N,8,1\t", "blanks"},
                    InvalidSettings{"0,N,8,1", "baud rate \"0\""}, InvalidSettings{"-9600,N,8,1", "baud rate"},
                    InvalidSettings{"+9600,N,8,1", "baud rate"}, InvalidSettings{"fast,N,8,1", "baud rate"},
                    InvalidSettings{"9600.5,N,8,1", "baud rate"}, InvalidSettings{"0x2580,N,8,1", "baud rate"},
                    InvalidSettings{",N,8,1", "baud rate"}, InvalidSettings{"2147483648,N,8,1", "baud rate"},
                    InvalidSettings{"99999999999999999999,N,8,1", "baud rate"},
                    InvalidSettings{"9600,X,8,1", "parity \"X\""}, InvalidSettings{"9600,NN,8,1", "parity"},
                    InvalidSettings{"9600,,8,1", "parity"}, InvalidSettings{"9600,0,8,1", "parity"},
                    InvalidSettings{"9600,N,4,1", "data bits \"4\""}, InvalidSettings{"9600,N,9,1", "data bits"},
                    InvalidSettings{"9600,N,08,1", "data bits"}, InvalidSettings{"9600,N,,1", "data bits"},
                    InvalidSettings{"9600,N,eight,1", "data bits"}, InvalidSettings{"9600,N,8,3", "stop bits \"3\""},
                    InvalidSettings{"9600,N,8,0", "stop bits"}, InvalidSettings{"9600,N,8,1.0", "stop bits"},
                    InvalidSettings{"9600,N,8,1,5", "found 5"}, InvalidSettings{"9600,N,8,", "stop bits"}));

// --- Port names --------------------------------------------------------------

#ifdef Q_OS_WIN
const QString kFirstDefaultPort = QStringLiteral("COM1");
const QString kSixteenthDefaultPort = QStringLiteral("COM16");
#else
const QString kFirstDefaultPort = QStringLiteral("/dev/ttyS0");
const QString kSixteenthDefaultPort = QStringLiteral("/dev/ttyS15");
#endif

TEST(PortDeviceName, WithoutAVariableIsTheSystemsOwnName)
{
    const auto unset = [](const QString&) { return QString(); };
    EXPECT_EQ(portDeviceName(1, unset), kFirstDefaultPort);
    EXPECT_EQ(portDeviceName(16, unset), kSixteenthDefaultPort);
}

TEST(PortDeviceName, AnEmptyVariableCountsAsUnset)
{
    const auto empty = [](const QString&) { return QStringLiteral(""); };
    EXPECT_EQ(portDeviceName(1, empty), kFirstDefaultPort);
}

TEST(PortDeviceName, TheVariableOfThatPortNamesTheDevice)
{
    QStringList looked;
    const auto environment = [&](const QString& name) {
        looked << name;
        return name == u"ZELVAR_COM16" ? QStringLiteral("/dev/ttyUSB0") : QString();
    };
    EXPECT_EQ(portDeviceName(16, environment), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(portDeviceName(1, environment), kFirstDefaultPort) << "ZELVAR_COM16 must not name COM1";
    EXPECT_EQ(looked, QStringList({"ZELVAR_COM16", "ZELVAR_COM1"}));
}

TEST(PortDeviceName, PortsBelowOneAreRejected)
{
    const auto unset = [](const QString&) { return QString(); };
    for (int port : {0, -1}) {
        const auto message = runtimeErrorOf([&] { portDeviceName(port, unset); });
        ASSERT_TRUE(message) << "port " << port << " accepted";
        EXPECT_TRUE(contains(*message, QString::number(port))) << *message;
    }
}

TEST(PortDeviceName, ReadsTheProcessEnvironment)
{
    qputenv("ZELVAR_COM77", "/dev/ttyACM3");
    EXPECT_EQ(portDeviceName(77), QStringLiteral("/dev/ttyACM3"));
    qputenv("ZELVAR_COM77", "");
    EXPECT_NE(portDeviceName(77), QStringLiteral("/dev/ttyACM3"));
    qunsetenv("ZELVAR_COM77");
#ifndef Q_OS_WIN
    EXPECT_EQ(portDeviceName(77), QStringLiteral("/dev/ttyS76"));
#endif
}

// --- Which port errors are a lost device --------------------------------------

struct ErrorKind {
    QSerialPort::SerialPortError error;
    const char* name;
    bool lost;
};

class DeviceLossTest : public testing::TestWithParam<ErrorKind> {};

TEST_P(DeviceLossTest, DecidesWhetherTheDeviceIsGone)
{
    const ErrorKind& row = GetParam();
    EXPECT_EQ(isDeviceLoss(row.error), row.lost)
        << row.name << (row.lost ? " must" : " must not") << " count as a lost device";
}

INSTANTIATE_TEST_SUITE_P(PortErrors, DeviceLossTest,
                         testing::Values(ErrorKind{QSerialPort::ResourceError, "ResourceError", true},
                                         ErrorKind{QSerialPort::ReadError, "ReadError", true},
                                         ErrorKind{QSerialPort::WriteError, "WriteError", true},
                                         ErrorKind{QSerialPort::UnknownError, "UnknownError", true},
                                         ErrorKind{QSerialPort::DeviceNotFoundError, "DeviceNotFoundError", true},
                                         ErrorKind{QSerialPort::NoError, "NoError", false},
                                         ErrorKind{QSerialPort::PermissionError, "PermissionError", false},
                                         ErrorKind{QSerialPort::OpenError, "OpenError", false},
                                         ErrorKind{QSerialPort::UnsupportedOperationError, "UnsupportedOperationError",
                                                   false},
                                         ErrorKind{QSerialPort::TimeoutError, "TimeoutError", false},
                                         ErrorKind{QSerialPort::NotOpenError, "NotOpenError", false}),
                         testing_support::CaseName());

// --- The control, through the in-memory back end ------------------------------

class MemorySerialControlTest : public testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&comm_, &SerialControl::OnComm, [this] {
            ++events_;
            portOpenAtEvent_ = comm_.PortOpen();
            try {
                eventCodes_.push_back(comm_.CommEvent());
            } catch (const RuntimeError& error) {
                thrown_.push_back(error.what());
            }
            if (onEvent_)
                onEvent_();
        });
    }

    void open()
    {
        comm_.setPortOpen(true);
        comm_.clearLog();
    }

    MemorySerialControl comm_;
    int events_ = 0;
    bool portOpenAtEvent_ = false;
    std::vector<int> eventCodes_;
    std::vector<std::string> thrown_;
    std::function<void()> onEvent_;
};

TEST_F(MemorySerialControlTest, StartsClosedOnPortOneWithTheDefaultSettings)
{
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(comm_.CommPort(), 1);
    EXPECT_EQ(comm_.Settings(), QStringLiteral("115200,N,8,1"));
    EXPECT_EQ(comm_.InputLen(), 0);
    EXPECT_EQ(comm_.CommEvent(), 0);
}

TEST_F(MemorySerialControlTest, InputHonoursInputLenAndRemovesWhatItReturns)
{
    open();
    comm_.feed(counting(20), false);
    comm_.setInputLen(5);
    EXPECT_EQ(comm_.Input(), counting(5));
    EXPECT_EQ(comm_.InBufferCount(), 15);
    EXPECT_EQ(comm_.Input(), counting(5, 5));
    EXPECT_EQ(comm_.waiting(), counting(10, 10));
}

TEST_F(MemorySerialControlTest, InputLenZeroTakesEverythingWaiting)
{
    open();
    comm_.feed(counting(300), false);
    comm_.setInputLen(0);
    EXPECT_EQ(comm_.Input(), counting(300));
    EXPECT_EQ(comm_.InBufferCount(), 0);
    EXPECT_EQ(comm_.Input(), QByteArray()) << "nothing waits any more";
}

TEST_F(MemorySerialControlTest, InputTakesWhatWaitsWhenLessThanInputLen)
{
    open();
    comm_.feed(counting(3), false);
    comm_.setInputLen(11);
    EXPECT_EQ(comm_.Input(), counting(3));
}

TEST_F(MemorySerialControlTest, InputToFillsOnlyWhatItReturns)
{
    open();
    comm_.feed(counting(20), false);
    comm_.setInputLen(11);
    QByteArray buffer(16, '\x55');
    EXPECT_EQ(comm_.InputTo(buffer.data()), 11);
    EXPECT_EQ(buffer, counting(11) + QByteArray(5, '\x55'));
    EXPECT_EQ(comm_.InputTo(buffer.data()), 9);
    EXPECT_EQ(buffer.left(9), counting(9, 11));
    EXPECT_EQ(comm_.InputTo(buffer.data()), 0);
}

TEST_F(MemorySerialControlTest, InputLenCannotBeNegative)
{
    comm_.setInputLen(4);
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.setInputLen(-1); }));
    EXPECT_EQ(comm_.InputLen(), 4);
}

// Reads sliced the way the receive handler slices them, and at random, with
// feeds in between: what comes out is the stream that went in, byte for byte,
// however often the buffer drops what was read.
TEST_F(MemorySerialControlTest, InterleavedFeedsAndReadsKeepTheStreamIntact)
{
    open();
    std::mt19937 random(7);
    // Feeds a little faster than the reads take, so that read bytes pile up
    // in front of unread ones and get dropped now and then.
    std::uniform_int_distribution<int> feedSize(0, 120);
    std::uniform_int_distribution<int> readSize(1, 40);
    std::deque<char> expected;
    int next = 0;
    const auto take = [&](const QByteArray& bytes, int round) {
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i], expected.front()) << "round " << round << ", byte " << i;
            expected.pop_front();
        }
    };
    for (int round = 0; round < 4000; ++round) {
        const QByteArray bytes = counting(feedSize(random), next);
        next += bytes.size();
        comm_.feed(bytes, false);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        for (int length : {1, 1, 11, readSize(random), readSize(random)}) {
            char buffer[40];
            comm_.setInputLen(length);
            const int count = comm_.InputTo(buffer);
            ASSERT_EQ(count, std::min(length, int(expected.size()))) << "round " << round;
            take(QByteArray(buffer, count), round);
        }
        if (round % 97 == 96) {
            comm_.setInputLen(0);
            take(comm_.Input(), round);
            ASSERT_TRUE(expected.empty()) << "round " << round;
        }
        ASSERT_EQ(comm_.InBufferCount(), int(expected.size())) << "round " << round;
    }
    EXPECT_EQ(comm_.waiting(),
              QByteArray(std::string(expected.begin(), expected.end()).c_str(), qsizetype(expected.size())));
}

TEST_F(MemorySerialControlTest, SettingInBufferCountToZeroDiscardsEverythingWaiting)
{
    open();
    comm_.feed(counting(5000), false);
    comm_.setInputLen(7);
    comm_.Input();
    comm_.setInBufferCount(0);
    EXPECT_EQ(comm_.InBufferCount(), 0);
    EXPECT_EQ(comm_.waiting(), QByteArray());
    comm_.feed(counting(3, 200), false);
    EXPECT_EQ(comm_.Input(), counting(3, 200)) << "bytes fed after emptying are kept";
}

TEST_F(MemorySerialControlTest, OnlyZeroMayBeWrittenToInBufferCount)
{
    open();
    comm_.feed(counting(5), false);
    for (int count : {1, 5, -1}) {
        const auto message = runtimeErrorOf([&] { comm_.setInBufferCount(count); });
        ASSERT_TRUE(message) << "InBufferCount=" << count << " accepted";
        EXPECT_TRUE(contains(*message, QString::number(count))) << *message;
    }
    EXPECT_EQ(comm_.InBufferCount(), 5) << "a rejected write discards nothing";
    EXPECT_TRUE(comm_.log().isEmpty()) << comm_.log().join(u' ').toStdString();
}

TEST_F(MemorySerialControlTest, ReadingAClosedPortThrows)
{
    char buffer[16];
    const std::vector<std::pair<const char*, std::function<void()>>> reads = {
        {"InBufferCount", [&] { comm_.InBufferCount(); }},
        {"InBufferCount=0", [&] { comm_.setInBufferCount(0); }},
        {"Input", [&] { comm_.Input(); }},
        {"InputTo", [&] { comm_.InputTo(buffer); }},
    };
    for (const auto& [name, read] : reads) {
        const auto message = runtimeErrorOf(read);
        ASSERT_TRUE(message) << name << " did not throw on a closed port";
        EXPECT_TRUE(contains(*message, QStringLiteral("not open"))) << name << ": " << *message;
    }
    EXPECT_TRUE(comm_.log().isEmpty()) << comm_.log().join(u' ').toStdString();
}

TEST_F(MemorySerialControlTest, OpeningAMissingOrBusyPortThrowsTheSystemsReasonAndStaysClosed)
{
    struct Case {
        const char* what;
        std::function<void(bool)> script;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"missing", [&](bool on) { comm_.setPortMissing(4, on); }, "No such file or directory"},
        {"busy", [&](bool on) { comm_.setPortBusy(4, on); }, "Device or resource busy"},
    };
    comm_.setCommPort(4);
    comm_.clearLog();
    for (const Case& c : cases) {
        c.script(true);
        const auto message = runtimeErrorOf([&] { comm_.setPortOpen(true); });
        ASSERT_TRUE(message) << "a " << c.what << " port opened";
        EXPECT_TRUE(contains(*message, QLatin1String(c.reason))) << c.what << ": " << *message;
        EXPECT_TRUE(contains(*message, portDeviceName(4)))
            << c.what << ": the message does not name the device: " << *message;
        EXPECT_FALSE(comm_.PortOpen()) << c.what;
        EXPECT_TRUE(comm_.log().isEmpty()) << c.what << ": " << comm_.log().join(u' ').toStdString();
        c.script(false);
    }
    comm_.setPortMissing(5);
    comm_.setPortBusy(6);
    EXPECT_NO_THROW(comm_.setPortOpen(true)) << "only ports 5 and 6 are scripted to fail";
    EXPECT_EQ(comm_.openedDevice(), portDeviceName(4));
}

TEST_F(MemorySerialControlTest, OpeningAnOpenPortThrowsAndKeepsItOpen)
{
    open();
    comm_.feed(counting(4), false);
    const auto message = runtimeErrorOf([&] { comm_.setPortOpen(true); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("open"))) << *message;
    EXPECT_TRUE(comm_.PortOpen());
    EXPECT_EQ(comm_.InBufferCount(), 4) << "the failed open must not disturb the port";
}

TEST_F(MemorySerialControlTest, CommPortCannotChangeWhileOpen)
{
    comm_.setCommPort(2);
    open();
    const auto message = runtimeErrorOf([&] { comm_.setCommPort(3); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("port is open"))) << *message;
    EXPECT_EQ(comm_.CommPort(), 2);
    comm_.setPortOpen(false);
    comm_.setCommPort(3);
    EXPECT_EQ(comm_.CommPort(), 3);
}

TEST_F(MemorySerialControlTest, CommPortStartsAtOne)
{
    for (int port : {0, -3}) {
        ASSERT_TRUE(runtimeErrorOf([&] { comm_.setCommPort(port); })) << port << " accepted";
    }
    EXPECT_EQ(comm_.CommPort(), 1);
}

TEST_F(MemorySerialControlTest, OpenUsesThePortAndTheLastValidSettings)
{
    comm_.setCommPort(3);
    comm_.setSettings(QStringLiteral("9600,e,7,2"));
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.setSettings(QStringLiteral("9600,E,7")); }));
    EXPECT_EQ(comm_.Settings(), QStringLiteral("9600,e,7,2")) << "a rejected text changes nothing";
    comm_.setPortOpen(true);
    EXPECT_EQ(comm_.openedDevice(), portDeviceName(3));
    EXPECT_EQ(comm_.openedSettings(), (SerialSettings{9600, 'E', 7, Stop::Two}));
}

TEST_F(MemorySerialControlTest, SettingsMayChangeWhileOpenForTheNextOpen)
{
    open();
    comm_.setSettings(QStringLiteral("4800,N,8,1"));
    EXPECT_EQ(comm_.openedSettings(), (SerialSettings{115200, 'N', 8, Stop::One}));
    comm_.setPortOpen(false);
    comm_.setPortOpen(true);
    EXPECT_EQ(comm_.openedSettings(), (SerialSettings{4800, 'N', 8, Stop::One}));
}

TEST_F(MemorySerialControlTest, LogHoldsEverySuccessfulWriteInCallOrder)
{
    comm_.setCommPort(3);
    comm_.setSettings(QStringLiteral("9600,N,8,1"));
    comm_.setPortOpen(true);
    comm_.setInputLen(1);
    comm_.setInBufferCount(0);
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.setInBufferCount(2); }));
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.setPortOpen(true); }));
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.setSettings(QStringLiteral("fast")); }));
    comm_.setPortOpen(false);
    comm_.setPortOpen(false);
    EXPECT_EQ(comm_.log(), QStringList({"CommPort=3", "Settings=9600,N,8,1", "PortOpen=True", "InBufferCount=0",
                                        "PortOpen=False", "PortOpen=False"}))
        << comm_.log().join(u' ').toStdString();
}

TEST_F(MemorySerialControlTest, ClosingAClosedPortDoesNothing)
{
    EXPECT_NO_THROW(comm_.setPortOpen(false));
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0);
}

TEST_F(MemorySerialControlTest, FeedRaisesTheReceiveEventOnceAWholeFrameWaits)
{
    open();
    comm_.feed(counting(12));
    EXPECT_EQ(events_, 0) << "12 bytes are less than a frame";
    comm_.feed(counting(1, 12));
    ASSERT_EQ(events_, 1);
    EXPECT_EQ(eventCodes_, std::vector<int>{SerialControl::kEventReceive});
    comm_.feed(counting(20), false);
    EXPECT_EQ(events_, 1) << "feed without raise must stay quiet";
}

TEST_F(MemorySerialControlTest, AHandlerReadsInsideTheEventAndLeavesTheRest)
{
    open();
    QByteArray frames;
    onEvent_ = [&] {
        while (comm_.InBufferCount() >= 13) {
            comm_.setInputLen(1);
            frames += comm_.Input();
            frames += comm_.Input();
            comm_.setInputLen(11);
            frames += comm_.Input();
        }
    };
    comm_.feed(counting(30));
    EXPECT_EQ(frames, counting(26));
    EXPECT_EQ(comm_.waiting(), counting(4, 26));
}

TEST_F(MemorySerialControlTest, BytesFedWhileClosedAreDropped)
{
    comm_.feed(counting(40));
    EXPECT_EQ(events_, 0);
    comm_.setPortOpen(true);
    EXPECT_EQ(comm_.InBufferCount(), 0);
}

TEST_F(MemorySerialControlTest, ClosingDiscardsWhatWaits)
{
    open();
    comm_.feed(counting(10), false);
    comm_.setPortOpen(false);
    comm_.setPortOpen(true);
    EXPECT_EQ(comm_.InBufferCount(), 0);
}

TEST_F(MemorySerialControlTest, RaiseRaisesAnyEventCode)
{
    comm_.raise(1003);
    comm_.raise(SerialControl::kEventReceive);
    EXPECT_EQ(eventCodes_, (std::vector<int>{1003, SerialControl::kEventReceive}));
    EXPECT_EQ(comm_.CommEvent(), SerialControl::kEventReceive);
}

TEST_F(MemorySerialControlTest, PulledDeviceIsReportedOnceAndClosesThePort)
{
    comm_.setCommPort(2);
    open();
    comm_.feed(counting(5), false);
    comm_.loseDevice(QStringLiteral("No such device"));

    ASSERT_EQ(events_, 1);
    EXPECT_FALSE(portOpenAtEvent_) << "the port must be closed before OnComm runs";
    ASSERT_EQ(thrown_.size(), 1u) << "CommEvent did not throw the loss";
    EXPECT_EQ(thrown_[0], "serial device lost: " + portDeviceName(2).toStdString() + ": No such device");
    EXPECT_EQ(comm_.CommEvent(), 0) << "the loss is thrown once";
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_TRUE(comm_.log().isEmpty()) << "the loss is not a write by the caller: "
                                       << comm_.log().join(u' ').toStdString();

    comm_.loseDevice(QStringLiteral("again"));
    EXPECT_EQ(events_, 1) << "a closed port has no device left to lose";
    EXPECT_EQ(comm_.CommEvent(), 0);
}

TEST_F(MemorySerialControlTest, ALossNobodyHandledIsThrownByTheNextCommEventOnly)
{
    open();
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    comm_.loseDevice(QStringLiteral("unplugged"));
    const auto message = runtimeErrorOf([&] { comm_.CommEvent(); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("unplugged"))) << *message;
    EXPECT_NO_THROW(comm_.CommEvent());
}

TEST_F(MemorySerialControlTest, ReopeningForgetsALossNobodyRead)
{
    open();
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    comm_.loseDevice();
    comm_.setPortOpen(true);
    EXPECT_NO_THROW(comm_.CommEvent()) << "a loss of the previous session fails the new one";
}

TEST_F(MemorySerialControlTest, TheHandlersRecoveryMayCloseAgain)
{
    open();
    onEvent_ = [&] {
        if (comm_.PortOpen())
            comm_.setPortOpen(false);
        comm_.setPortOpen(false);
    };
    comm_.loseDevice();
    EXPECT_EQ(events_, 1);
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(comm_.log(), QStringList({"PortOpen=False"}));
}

} // namespace
} // namespace zelvar

namespace zelvar {
namespace {

// Found by the settings fuzzer: Unicode upper-casing maps the long s to "S".
TEST(SettingsText, OnlyAnAsciiLetterNamesTheParity)
{
    for (const char16_t letter : {u'\u017F', u'\u0131', u'\uFF33'}) {
        const QString text = QStringLiteral("9600,") + QChar(letter) + QStringLiteral(",8,1");
        const auto message = runtimeErrorOf([&] { parseSettings(text); });
        ASSERT_TRUE(message) << "accepted: U+" << std::hex << static_cast<int>(letter);
        EXPECT_TRUE(contains(*message, QStringLiteral("parity"))) << *message;
    }
    EXPECT_EQ(parseSettings(QStringLiteral("9600,s,8,1")).parity, 'S');
}

} // namespace
} // namespace zelvar
