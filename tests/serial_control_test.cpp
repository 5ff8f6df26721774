// The serial control's pure helpers (the settings text, port names and which
// port errors mean the device is gone) and its contract through the
// in-memory back end.

#include "platform/SerialControl.h"

#include "CaseNames.h"
#include "Errors.h"
#include "MemorySerialControl.h"
#include "SerialFarEnd.h"

#ifndef Q_OS_WIN
#include <QtSerialPort/QSerialPort>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zelvar {
namespace {

using namespace testing_support;

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
const QString kFirstDefaultPort = QStringLiteral("\\\\.\\COM1");
const QString kSixteenthDefaultPort = QStringLiteral("\\\\.\\COM16");
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

#ifndef Q_OS_WIN

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
#endif

// --- The in-memory back end ---------------------------------------------------

INSTANTIATE_TEST_SUITE_P(Memory, SerialContract,
                         testing::Values(SerialBackEnd{"Memory", [] { return std::make_unique<MemoryFarEnd>(); }}),
                         testing_support::CaseName());

// What only the double does: scripted outcomes, the log of writes, events
// raised by hand.
class MemorySerialControlTest : public SerialControlTest {
protected:
    MemorySerialControlTest() : SerialControlTest(std::make_unique<MemoryFarEnd>()) {}

    void openQuietly()
    {
        open();
        memory_.clearLog();
    }

    MemorySerialControl& memory_ = static_cast<MemoryFarEnd&>(*far_).control();
};

// Reads sliced the way the receive handler slices them, and at random, with
// feeds in between: what comes out is the stream that went in, byte for byte,
// however often the buffer drops what was read.
TEST_F(MemorySerialControlTest, InterleavedFeedsAndReadsKeepTheStreamIntact)
{
    openQuietly();
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
        const QByteArray bytes = countingBytes(feedSize(random), next);
        next += bytes.size();
        memory_.feed(bytes, false);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        for (int length : {1, 1, 11, readSize(random), readSize(random)}) {
            char buffer[40];
            memory_.setInputLen(length);
            const int count = memory_.InputTo(buffer);
            ASSERT_EQ(count, std::min(length, int(expected.size()))) << "round " << round;
            take(QByteArray(buffer, count), round);
        }
        if (round % 97 == 96) {
            memory_.setInputLen(0);
            take(memory_.Input(), round);
            ASSERT_TRUE(expected.empty()) << "round " << round;
        }
        ASSERT_EQ(memory_.InBufferCount(), int(expected.size())) << "round " << round;
    }
    EXPECT_EQ(memory_.waiting(),
              QByteArray(std::string(expected.begin(), expected.end()).c_str(), qsizetype(expected.size())));
}

TEST_F(MemorySerialControlTest, OpeningAMissingOrBusyPortThrowsTheSystemsReasonAndStaysClosed)
{
    struct Case {
        const char* what;
        std::function<void(bool)> script;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"missing", [&](bool on) { memory_.setPortMissing(4, on); }, "No such file or directory"},
        {"busy", [&](bool on) { memory_.setPortBusy(4, on); }, "Device or resource busy"},
    };
    memory_.setCommPort(4);
    memory_.clearLog();
    for (const Case& c : cases) {
        c.script(true);
        const auto message = runtimeErrorOf([&] { memory_.setPortOpen(true); });
        ASSERT_TRUE(message) << "a " << c.what << " port opened";
        EXPECT_TRUE(contains(*message, QLatin1String(c.reason))) << c.what << ": " << *message;
        EXPECT_TRUE(contains(*message, portDeviceName(4)))
            << c.what << ": the message does not name the device: " << *message;
        EXPECT_FALSE(memory_.PortOpen()) << c.what;
        EXPECT_TRUE(memory_.log().isEmpty()) << c.what << ": " << memory_.log().join(u' ').toStdString();
        c.script(false);
    }
    memory_.setPortMissing(5);
    memory_.setPortBusy(6);
    EXPECT_NO_THROW(memory_.setPortOpen(true)) << "only ports 5 and 6 are scripted to fail";
    EXPECT_EQ(memory_.openedDevice(), portDeviceName(4));
}

TEST_F(MemorySerialControlTest, OpenUsesThePortAndTheLastValidSettings)
{
    memory_.setCommPort(3);
    memory_.setSettings(QStringLiteral("9600,e,7,2"));
    EXPECT_TRUE(runtimeErrorOf([&] { memory_.setSettings(QStringLiteral("9600,E,7")); }));
    memory_.setPortOpen(true);
    EXPECT_EQ(memory_.openedDevice(), portDeviceName(3));
    EXPECT_EQ(memory_.openedSettings(), (SerialSettings{9600, 'E', 7, Stop::Two}));
}

TEST_F(MemorySerialControlTest, SettingsMayChangeWhileOpenForTheNextOpen)
{
    openQuietly();
    memory_.setSettings(QStringLiteral("4800,N,8,1"));
    EXPECT_EQ(memory_.openedSettings(), (SerialSettings{115200, 'N', 8, Stop::One}));
    memory_.setPortOpen(false);
    memory_.setPortOpen(true);
    EXPECT_EQ(memory_.openedSettings(), (SerialSettings{4800, 'N', 8, Stop::One}));
}

TEST_F(MemorySerialControlTest, LogHoldsEverySuccessfulWriteInCallOrder)
{
    EXPECT_TRUE(runtimeErrorOf([&] { memory_.setInBufferCount(0); })) << "emptying a closed port";
    memory_.setCommPort(3);
    memory_.setSettings(QStringLiteral("9600,N,8,1"));
    memory_.setPortOpen(true);
    memory_.setInputLen(1);
    memory_.setInBufferCount(0);
    EXPECT_TRUE(runtimeErrorOf([&] { memory_.setInBufferCount(2); }));
    EXPECT_TRUE(runtimeErrorOf([&] { memory_.setPortOpen(true); }));
    EXPECT_TRUE(runtimeErrorOf([&] { memory_.setSettings(QStringLiteral("fast")); }));
    memory_.setPortOpen(false);
    memory_.setPortOpen(false);
    EXPECT_EQ(memory_.log(), QStringList({"CommPort=3", "Settings=9600,N,8,1", "PortOpen=True", "InBufferCount=0",
                                          "PortOpen=False", "PortOpen=False"}))
        << memory_.log().join(u' ').toStdString();
}

TEST_F(MemorySerialControlTest, FeedRaisesTheReceiveEventOnlyWhenAsked)
{
    openQuietly();
    memory_.feed(countingBytes(20), false);
    EXPECT_EQ(events_, 0) << "feed without raise must stay quiet";
    memory_.feed(QByteArray());
    EXPECT_EQ(events_, 1);
}

TEST_F(MemorySerialControlTest, BytesFedWhileClosedAreDropped)
{
    memory_.feed(countingBytes(40));
    EXPECT_EQ(events_, 0);
    open();
    EXPECT_EQ(memory_.InBufferCount(), 0);
}

TEST_F(MemorySerialControlTest, RaiseRaisesAnyEventCode)
{
    memory_.raise(1003);
    memory_.raise(SerialControl::kEventReceive);
    EXPECT_EQ(codes_, (std::vector<int>{1003, SerialControl::kEventReceive}));
    EXPECT_EQ(memory_.CommEvent(), SerialControl::kEventReceive);
}

// The handler's recovery closes the port (twice, as two recovery paths
// may); the loss itself is no write of the caller's.
TEST_F(MemorySerialControlTest, ALossCarriesItsReasonAndLogsOnlyTheRecoverysWrites)
{
    openQuietly();
    onEvent_ = [&] {
        if (memory_.PortOpen())
            memory_.setPortOpen(false);
        memory_.setPortOpen(false);
    };
    memory_.loseDevice(QStringLiteral("No such device"));
    ASSERT_EQ(losses_.size(), 1u);
    EXPECT_EQ(losses_[0], "serial device lost: " + portDeviceName(kPort).toStdString() + ": No such device");
    EXPECT_EQ(memory_.log(), QStringList({"PortOpen=False"})) << memory_.log().join(u' ').toStdString();
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
