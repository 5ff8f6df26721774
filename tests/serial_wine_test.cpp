// The Win32 back end under Wine on a pseudo-terminal mapped as COM3: the
// contract suite with tests/support/wine_com_port.py holding the terminal, and
// what only a real port does.

#include "platform/WinSerialControl.h"

#include "CaseNames.h"
#include "WineFarEnd.h"

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <chrono>
#include <memory>
#include <thread>

namespace zelvar {
namespace {

using namespace testing_support;

INSTANTIATE_TEST_SUITE_P(Wine, SerialContract,
                         testing::Values(SerialBackEnd{"Wine", [] { return std::make_unique<WineFarEnd>(); }}),
                         CaseName());

class SerialWineTest : public SerialControlTest {
protected:
    SerialWineTest() : SerialControlTest(std::make_unique<WineFarEnd>()) {}

    WineFarEnd& device() { return static_cast<WineFarEnd&>(*far_); }
};

TEST_F(SerialWineTest, AStreamOfSingleFramesIsHandledInGroups)
{
    // At the line rate a frame comes every 1.1 ms; each event takes what
    // arrived during the pause before it, in order.
    receiveFrames();
    open();
    constexpr int kFrames = 200;
    const auto started = std::chrono::steady_clock::now();
    device().stream(kTrickyFrame, kFrames);
    ASSERT_TRUE(far_->waitFor([&] { return received_.size() == kFrames * 13; })) << received_.size();
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                             - started);
    EXPECT_EQ(received_, kTrickyFrame.repeated(kFrames));
    EXPECT_LE(events_, spent.count() / WinSerialControl::kReceiveGroupingMs + 2)
        << kFrames << " frames over " << spent.count() << " ms";
    EXPECT_LT(events_, kFrames / 4) << "the frames were not grouped";
    EXPECT_GE(smallestWaitingAtReceive_, 13) << "OnComm fired with less than a frame waiting";
}

TEST_F(SerialWineTest, EmptyingTheInputBufferDiscardsWhatTheDeviceSentBeforeOpening)
{
    // The dyno streamed while nobody listened: the driver kept it for us.
    far_->feed(QByteArray(300, '\x55'));
    open();
    comm_.setInBufferCount(0);
    far_->feed(kTrickyFrame);
    ASSERT_TRUE(far_->waitFor([&] { return comm_.InBufferCount() >= 13; }));
    far_->settle();
    EXPECT_EQ(comm_.Input().toHex().toStdString(), kTrickyFrame.toHex().toStdString());
}

TEST_F(SerialWineTest, ALossFoundWhileEmptyingTheBufferIsThrownThereNotRaised)
{
    open();
    far_->closeDevice();
    // Time for the pending read to end with the loss, without the event loop.
    std::this_thread::sleep_for(200ms);
    const auto message = runtimeErrorOf([&] { comm_.setInBufferCount(0); });
    ASSERT_TRUE(message) << "emptying a port whose device is gone succeeded";
    EXPECT_TRUE(isLossOfTheDevice(*message));
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0) << "OnComm ran inside the caller's own call";

    pumpFor(100ms);
    EXPECT_EQ(events_, 0) << "the loss was reported twice: thrown, then raised";
    EXPECT_NO_THROW(comm_.CommEvent());
}

TEST_F(SerialWineTest, ALostDeviceLeavesTheLoopIdle)
{
    open();
    far_->closeDevice();
    ASSERT_TRUE(far_->waitFor([&] { return events_ > 0; })) << "the loss was not reported";
    pumpFor(200ms);
    EXPECT_EQ(events_, 1) << "the loss was reported more than once";

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    int busy = 0;
    while (busy < 1000 && dispatcher->processEvents(QEventLoop::AllEvents))
        ++busy;
    EXPECT_LT(busy, 1000) << "the event loop never went idle after the loss";
}

TEST_F(SerialWineTest, OpeningAMissingPortThrowsTheSystemsReason)
{
    qputenv("ZELVAR_COM41", "\\\\.\\COM250");
    const auto message = runtimeErrorOf([&] { open(); });
    ASSERT_TRUE(message) << "a missing port opened";
    EXPECT_TRUE(contains(*message, QStringLiteral("cannot open serial port \\\\.\\COM250: "))) << *message;
    EXPECT_TRUE(contains(*message, QStringLiteral("Windows error 2"))) << *message;
    EXPECT_FALSE(comm_.PortOpen());
    EXPECT_EQ(events_, 0) << "a failed open is not a lost device";

    qputenv("ZELVAR_COM41", far_->deviceName().toLocal8Bit());
    EXPECT_NO_THROW(comm_.setPortOpen(true)) << "the control is usable after a failed open";
}

} // namespace
} // namespace zelvar
