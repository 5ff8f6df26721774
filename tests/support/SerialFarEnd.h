#pragma once

// The device at the far end of a serial control under test, and a fixture
// that records the control's OnComm events as the receive handler sees them.
// The contract suite (tests/serial_contract.cpp) drives every back end
// through these: a back end joins the suite by adding its far end.

#include "Errors.h"
#include "MemorySerialControl.h"
#include "platform/SerialControl.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace zelvar::testing_support {

// Bytes first, first + 1, ... modulo 256, so that an offset or a lost byte
// shows.
inline QByteArray countingBytes(int n, int first = 0)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((first + i) & 0xFF);
    return bytes;
}

// A whole frame made of the bytes a terminal likes to interpret: CR, LF,
// XON, XOFF, 0xFF, NUL, DEL, Ctrl-C, Ctrl-D, Ctrl-Z.
inline const QByteArray kTrickyFrame("\xD9\xAB\x0D\x0A\x11\x13\xFF\x00\x7F\x03\x04\x1A\xFA", 13);

class SerialFarEnd {
public:
    // The port the tests open; its device is this far end's.
    static constexpr int kPort = 41;

    virtual ~SerialFarEnd() = default;

    virtual SerialControl& control() = 0;
    // False when the device could not be made.
    virtual bool ready() const { return true; }
    // The device that port kPort opens.
    virtual QString deviceName() const = 0;
    // Bytes the device sends.
    virtual void feed(const QByteArray& bytes) = 0;
    // The device goes away, as a pulled USB adapter does.
    virtual void closeDevice() = 0;
    // A new device takes the place of the one that went away.
    virtual void replug() = 0;
    // Lets the control take what the device did until `done` holds; false
    // when it never does.
    virtual bool waitFor(const std::function<bool()>& done) = 0;
    // Lets the control take all the device did so far, so that a test can
    // state what did not happen.
    virtual void settle() = 0;
};

// The in-memory double: whatever the device does reaches the control at once.
class MemoryFarEnd final : public SerialFarEnd {
public:
    MemorySerialControl& control() override { return comm_; }
    QString deviceName() const override { return portDeviceName(kPort); }
    void feed(const QByteArray& bytes) override { comm_.feed(bytes); }
    void closeDevice() override { comm_.loseDevice(); }
    void replug() override {}
    bool waitFor(const std::function<bool()>& done) override { return done(); }
    void settle() override {}

private:
    MemorySerialControl comm_;
};

class SerialControlTest : public testing::Test {
protected:
    static constexpr int kPort = SerialFarEnd::kPort;

    explicit SerialControlTest(std::unique_ptr<SerialFarEnd> farEnd) : far_(std::move(farEnd)), comm_(far_->control())
    {
    }

    void SetUp() override
    {
        ASSERT_TRUE(far_->ready()) << "the far end's device could not be made";
        QObject::connect(&comm_, &SerialControl::OnComm, [this] {
            ++events_;
            portOpenAtEvent_ = comm_.PortOpen();
            try {
                codes_.push_back(comm_.CommEvent());
                if (codes_.back() == SerialControl::kEventReceive)
                    smallestWaitingAtReceive_ = std::min(smallestWaitingAtReceive_, comm_.InBufferCount());
            } catch (const RuntimeError& error) {
                losses_.push_back(error.what());
            }
            if (onEvent_)
                onEvent_();
        });
    }

    void open()
    {
        comm_.setCommPort(kPort);
        comm_.setPortOpen(true);
    }

    // Reads whole frames while a whole frame waits, as the receive handler does.
    void receiveFrames()
    {
        onEvent_ = [this] {
            if (!comm_.PortOpen())
                return;
            comm_.setInputLen(SerialControl::kReceiveThreshold);
            while (comm_.InBufferCount() >= SerialControl::kReceiveThreshold)
                received_ += comm_.Input();
        };
    }

    // Feeds the open port and waits until all the bytes fed wait.
    ::testing::AssertionResult feedAndWait(const QByteArray& bytes)
    {
        const qsizetype expected = comm_.InBufferCount() + bytes.size();
        far_->feed(bytes);
        if (far_->waitFor([&] { return comm_.InBufferCount() == expected; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << comm_.InBufferCount() << " bytes wait, expected " << expected;
    }

    // "serial device lost: <device>: <reason>", with a reason.
    ::testing::AssertionResult isLossOfTheDevice(const std::string& message) const
    {
        const std::string prefix = "serial device lost: " + far_->deviceName().toStdString() + ": ";
        if (message.rfind(prefix, 0) == 0 && message.size() > prefix.size())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected \"" << prefix << "<reason>\", got \"" << message << "\"";
    }

    std::unique_ptr<SerialFarEnd> far_;
    SerialControl& comm_;
    int events_ = 0;
    bool portOpenAtEvent_ = false;
    std::vector<int> codes_;
    std::vector<std::string> losses_;
    int smallestWaitingAtReceive_ = 1 << 30;
    QByteArray received_;
    std::function<void()> onEvent_;
};

// A back end of the contract suite.
struct SerialBackEnd {
    const char* name;
    std::function<std::unique_ptr<SerialFarEnd>()> make;
};

inline void PrintTo(const SerialBackEnd& backEnd, std::ostream* os)
{
    *os << backEnd.name;
}

class SerialContract : public SerialControlTest, public testing::WithParamInterface<SerialBackEnd> {
protected:
    SerialContract() : SerialControlTest(GetParam().make()) {}
};

} // namespace zelvar::testing_support
