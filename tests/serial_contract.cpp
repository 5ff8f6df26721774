// The serial control's contract, the same cases over every back end: each
// back end's test program instantiates SerialContract with its far end.

#include "SerialFarEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

namespace zelvar::testing_support {
namespace {

using Bytes = QByteArray;

// A back end whose far end cannot exist on this system instantiates nothing.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SerialContract);

TEST_P(SerialContract, StartsClosedOnPortOneWithTheDefaultSettings)
{
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(comm_.CommPort(), 1);
    EXPECT_EQ(comm_.Settings(), QStringLiteral("115200,N,8,1"));
    EXPECT_EQ(comm_.InputLen(), 0);
    EXPECT_EQ(comm_.CommEvent(), 0);
}

TEST_P(SerialContract, OpensTheDeviceOfItsPort)
{
    open();
    EXPECT_TRUE(comm_.PortOpen());
    EXPECT_EQ(comm_.deviceName(), far_->deviceName());
}

TEST_P(SerialContract, CommPortStartsAtOne)
{
    for (int port : {0, -3})
        ASSERT_TRUE(runtimeErrorOf([&] { comm_.setCommPort(port); })) << port << " accepted";
    EXPECT_EQ(comm_.CommPort(), 1);
}

TEST_P(SerialContract, CommPortCannotChangeWhileOpen)
{
    open();
    const auto message = runtimeErrorOf([&] { comm_.setCommPort(kPort + 1); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("port is open"))) << *message;
    EXPECT_EQ(comm_.CommPort(), kPort);
    comm_.setPortOpen(false);
    comm_.setCommPort(kPort + 1);
    EXPECT_EQ(comm_.CommPort(), kPort + 1);
}

TEST_P(SerialContract, MalformedSettingsAreRejectedAndChangeNothing)
{
    comm_.setSettings(QStringLiteral("9600,e,7,2"));
    const auto message = runtimeErrorOf([&] { comm_.setSettings(QStringLiteral("9600,E,7")); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("\"9600,E,7\""))) << *message;
    EXPECT_EQ(comm_.Settings(), QStringLiteral("9600,e,7,2"));
    EXPECT_NO_THROW(open());
}

TEST_P(SerialContract, OpeningAnOpenPortThrowsAndKeepsItOpen)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(4)));
    const auto message = runtimeErrorOf([&] { comm_.setPortOpen(true); });
    ASSERT_TRUE(message);
    EXPECT_TRUE(contains(*message, QStringLiteral("open"))) << *message;
    EXPECT_TRUE(comm_.PortOpen());
    EXPECT_EQ(comm_.InBufferCount(), 4) << "the failed open must not disturb the port";
}

TEST_P(SerialContract, ClosingAClosedPortDoesNothing)
{
    EXPECT_NO_THROW(comm_.setPortOpen(false));
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0);
}

TEST_P(SerialContract, ReadingAClosedPortThrows)
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
}

// --- Input and InputLen -------------------------------------------------------

TEST_P(SerialContract, InputHonoursInputLenAndRemovesWhatItReturns)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(20)));
    comm_.setInputLen(5);
    EXPECT_EQ(comm_.Input(), countingBytes(5));
    EXPECT_EQ(comm_.InBufferCount(), 15);
    EXPECT_EQ(comm_.Input(), countingBytes(5, 5));
    comm_.setInputLen(0);
    EXPECT_EQ(comm_.Input(), countingBytes(10, 10));
}

TEST_P(SerialContract, InputLenZeroTakesEverythingWaiting)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(300)));
    comm_.setInputLen(0);
    EXPECT_EQ(comm_.Input(), countingBytes(300));
    EXPECT_EQ(comm_.InBufferCount(), 0);
    EXPECT_EQ(comm_.Input(), Bytes()) << "nothing waits any more";
}

TEST_P(SerialContract, InputTakesWhatWaitsWhenLessThanInputLen)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(3)));
    comm_.setInputLen(11);
    EXPECT_EQ(comm_.Input(), countingBytes(3));
}

TEST_P(SerialContract, InputToFillsOnlyWhatItReturns)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(20)));
    comm_.setInputLen(11);
    Bytes buffer(16, '\x55');
    EXPECT_EQ(comm_.InputTo(buffer.data()), 11);
    EXPECT_EQ(buffer, countingBytes(11) + Bytes(5, '\x55'));
    EXPECT_EQ(comm_.InputTo(buffer.data()), 9);
    EXPECT_EQ(buffer.left(9), countingBytes(9, 11));
    EXPECT_EQ(comm_.InputTo(buffer.data()), 0);
}

TEST_P(SerialContract, InputLenCannotBeNegative)
{
    comm_.setInputLen(4);
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.setInputLen(-1); }));
    EXPECT_EQ(comm_.InputLen(), 4);
}

// --- Emptying the input buffer -----------------------------------------------

TEST_P(SerialContract, SettingInBufferCountToZeroDiscardsEverythingWaiting)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(5000)));
    comm_.setInputLen(7);
    comm_.Input();
    comm_.setInBufferCount(0);
    EXPECT_EQ(comm_.InBufferCount(), 0);
    ASSERT_TRUE(feedAndWait(countingBytes(3, 200)));
    EXPECT_EQ(comm_.Input(), countingBytes(3, 200)) << "bytes fed after emptying are kept";
}

TEST_P(SerialContract, OnlyZeroMayBeWrittenToInBufferCount)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(5)));
    for (int count : {1, 5, -1}) {
        const auto message = runtimeErrorOf([&] { comm_.setInBufferCount(count); });
        ASSERT_TRUE(message) << "InBufferCount=" << count << " accepted";
        EXPECT_TRUE(contains(*message, QString::number(count))) << *message;
    }
    EXPECT_EQ(comm_.InBufferCount(), 5) << "a rejected write discards nothing";
}

TEST_P(SerialContract, ClosingDiscardsWhatWaits)
{
    open();
    ASSERT_TRUE(feedAndWait(countingBytes(10)));
    comm_.setPortOpen(false);
    comm_.setPortOpen(true);
    EXPECT_EQ(comm_.InBufferCount(), 0);
}

// --- The receive event --------------------------------------------------------

TEST_P(SerialContract, TheReceiveEventWaitsForTheThirteenthByte)
{
    open();
    ASSERT_TRUE(feedAndWait(kTrickyFrame.left(12)));
    far_->settle();
    EXPECT_EQ(events_, 0) << "OnComm fired for 12 bytes";

    far_->feed(kTrickyFrame.right(1));
    ASSERT_TRUE(far_->waitFor([&] { return events_ > 0; })) << "no OnComm for 13 bytes";
    EXPECT_EQ(codes_, std::vector<int>{SerialControl::kEventReceive});
    EXPECT_EQ(comm_.Input().toHex().toStdString(), kTrickyFrame.toHex().toStdString());
}

TEST_P(SerialContract, FramesArriveUnalteredWithTheReceiveEvent)
{
    receiveFrames();
    open();

    // Every byte value, 13 times over, in sends that cut frames anywhere.
    Bytes stream = kTrickyFrame;
    for (int round = 0; round < 13; ++round) {
        for (int value = 0; value < 256; ++value)
            stream += char(value ^ round);
    }
    stream += kTrickyFrame;
    for (qsizetype at = 0, size = 1; at < stream.size(); at += size, size = size % 37 + 5)
        far_->feed(stream.mid(at, size));

    ASSERT_TRUE(far_->waitFor([&] { return received_.size() >= stream.size(); }))
        << "received " << received_.size() << " of " << stream.size() << " bytes";
    EXPECT_EQ(received_.toHex().toStdString(), stream.toHex().toStdString());
    EXPECT_EQ(std::count(codes_.begin(), codes_.end(), SerialControl::kEventReceive), std::ssize(codes_))
        << "an event other than data received";
    EXPECT_GE(smallestWaitingAtReceive_, 13) << "OnComm fired with less than a frame waiting";
    EXPECT_TRUE(losses_.empty()) << losses_.front();
}

TEST_P(SerialContract, AHandlerReadsInsideTheEventAndLeavesTheRest)
{
    Bytes frames;
    onEvent_ = [&] {
        while (comm_.PortOpen() && comm_.InBufferCount() >= 13) {
            comm_.setInputLen(1);
            frames += comm_.Input();
            frames += comm_.Input();
            comm_.setInputLen(11);
            frames += comm_.Input();
        }
    };
    open();
    far_->feed(countingBytes(30));
    ASSERT_TRUE(far_->waitFor([&] { return frames.size() >= 26; })) << "read " << frames.size() << " bytes";
    far_->settle();
    EXPECT_EQ(frames, countingBytes(26));
    comm_.setInputLen(0);
    EXPECT_EQ(comm_.Input(), countingBytes(4, 26));
}

TEST_P(SerialContract, BytesLeftWaitingComeWithTheNextArrival)
{
    // A handler that takes one frame only: the other waits for more bytes.
    onEvent_ = [this] {
        comm_.setInputLen(13);
        received_ += comm_.Input();
    };
    open();
    far_->feed(kTrickyFrame + kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return received_.size() == 13 && comm_.InBufferCount() == 13; }));
    const int eventsSoFar = events_;
    far_->feed(Bytes(1, '\x42'));
    ASSERT_TRUE(far_->waitFor([&] { return events_ > eventsSoFar; })) << "no event for the next arrival";
    EXPECT_EQ(received_, kTrickyFrame + kTrickyFrame);
    EXPECT_EQ(comm_.InBufferCount(), 1);
}

// --- A device that goes away ---------------------------------------------------

TEST_P(SerialContract, PulledDeviceIsReportedOnceAndClosesThePort)
{
    receiveFrames();
    open();
    far_->feed(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return received_ == kTrickyFrame; }));
    const int eventsBefore = events_;

    far_->closeDevice();
    ASSERT_TRUE(far_->waitFor([&] { return events_ > eventsBefore; })) << "the loss was not reported";
    EXPECT_FALSE(portOpenAtEvent_) << "the port must be closed before OnComm runs";
    ASSERT_EQ(losses_.size(), 1u) << "CommEvent did not throw the loss";
    EXPECT_TRUE(isLossOfTheDevice(losses_[0]));

    far_->settle();
    EXPECT_EQ(events_, eventsBefore + 1) << "the loss was reported more than once";
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(comm_.CommEvent(), 0) << "the loss is thrown once";
    EXPECT_TRUE(runtimeErrorOf([&] { comm_.InBufferCount(); })) << "the port should be closed";
}

TEST_P(SerialContract, ALossNobodyHandledIsThrownByTheNextCommEventOnly)
{
    open();
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    far_->closeDevice();
    ASSERT_TRUE(far_->waitFor([&] { return !comm_.PortOpen(); })) << "the loss left the port open";
    const auto message = runtimeErrorOf([&] { comm_.CommEvent(); });
    ASSERT_TRUE(message) << "the loss was not thrown";
    EXPECT_TRUE(isLossOfTheDevice(*message));
    EXPECT_NO_THROW(comm_.CommEvent());
}

TEST_P(SerialContract, ReopeningForgetsALossNobodyRead)
{
    open();
    QObject::disconnect(&comm_, &SerialControl::OnComm, nullptr, nullptr);
    far_->closeDevice();
    ASSERT_TRUE(far_->waitFor([&] { return !comm_.PortOpen(); })) << "the loss left the port open";
    far_->replug();
    open();
    EXPECT_NO_THROW(comm_.CommEvent()) << "a loss of the previous session fails the new one";
}

TEST_P(SerialContract, ThePortOpensAgainOnANewDeviceAfterALoss)
{
    open();
    far_->closeDevice();
    ASSERT_TRUE(far_->waitFor([&] { return events_ > 0; })) << "the loss was not reported";
    ASSERT_FALSE(comm_.PortOpen());

    far_->replug();
    open();
    far_->feed(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return events_ > 1; })) << "nothing received on the new device";
    EXPECT_EQ(codes_.back(), SerialControl::kEventReceive);
    EXPECT_EQ(comm_.Input(), kTrickyFrame);
}

TEST_P(SerialContract, TheHandlersRecoveryMayCloseAgain)
{
    open();
    onEvent_ = [&] {
        if (comm_.PortOpen())
            comm_.setPortOpen(false);
        comm_.setPortOpen(false);
    };
    far_->closeDevice();
    ASSERT_TRUE(far_->waitFor([&] { return events_ > 0; })) << "the loss was not reported";
    far_->settle();
    EXPECT_EQ(events_, 1);
    EXPECT_FALSE(comm_.PortOpen());
}

TEST_P(SerialContract, LosingTheDeviceOfAClosedPortRaisesNothing)
{
    open();
    comm_.setPortOpen(false);
    far_->closeDevice();
    far_->settle();
    EXPECT_EQ(events_, 0) << "a closed port has no device left to lose";
    EXPECT_EQ(comm_.CommEvent(), 0);
}

} // namespace
} // namespace zelvar::testing_support
