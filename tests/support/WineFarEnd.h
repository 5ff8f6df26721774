#pragma once

// A pseudo-terminal mapped as a COM port as the far end of the Win32 back
// end, under Wine: tests/support/wine_com_port.py holds the terminal on the
// Linux side, maps COM3 to it and plays the device on this test's commands,
// which come over a TCP connection to the address in ZELVAR_FAR_END. The
// control opens the port through ZELVAR_COM<n>, as a user points the
// program at a USB adapter. Windows only; CTest starts these tests through
// the helper.

#include "EventLoop.h"
#include "SerialFarEnd.h"

#include "platform/WinSerialControl.h"

#include <QByteArray>
#include <QString>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace zelvar::testing_support {

// One line a command, one line an answer.
class FarEndConnection {
public:
    FarEndConnection()
    {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return;
        started_ = true;
        const QString address = qEnvironmentVariable("ZELVAR_FAR_END");
        const qsizetype colon = address.lastIndexOf(u':');
        if (colon < 0) {
            problem_ = "ZELVAR_FAR_END is not set: run this test through tests/support/wine_com_port.py";
            return;
        }
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<u_short>(address.mid(colon + 1).toUShort()));
        inet_pton(AF_INET, address.left(colon).toLatin1().constData(), &peer.sin_addr);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET
            || ::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0) {
            problem_ = "cannot reach the far end's helper at " + address.toStdString();
            return;
        }
    }
    ~FarEndConnection()
    {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        if (started_)
            WSACleanup();
    }
    FarEndConnection(const FarEndConnection&) = delete;
    FarEndConnection& operator=(const FarEndConnection&) = delete;

    // The answer after "ok" ("ok" alone gives ""); fails the test on an
    // error.
    std::string ask(const std::string& command)
    {
        if (!problem_.empty()) {
            ADD_FAILURE() << problem_;
            return {};
        }
        const std::string line = command + "\n";
        if (::send(socket_, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size())) {
            ADD_FAILURE() << "cannot send \"" << command << "\" to the far end";
            return {};
        }
        std::string reply;
        char c = 0;
        while (::recv(socket_, &c, 1, 0) == 1 && c != '\n')
            reply += c;
        if (reply.rfind("ok", 0) != 0) {
            ADD_FAILURE() << "far end: \"" << command.substr(0, 40) << "\": " << reply;
            return {};
        }
        return reply.size() > 3 ? reply.substr(3) : std::string();
    }

private:
    bool started_ = false;
    SOCKET socket_ = INVALID_SOCKET;
    std::string problem_;
};

class WineFarEnd final : public SerialFarEnd {
public:
    WineFarEnd() { replug(); }
    ~WineFarEnd() override { qunsetenv(variable().constData()); }

    WinSerialControl& control() override { return comm_; }
    bool ready() const override { return !device_.isEmpty(); }
    QString deviceName() const override { return device_; }
    void feed(const QByteArray& bytes) override { connection_.ask("feed " + bytes.toHex().toStdString()); }
    // The terminal's master side closes, as when dyno-sim ends.
    void closeDevice() override { connection_.ask("unplug"); }
    void replug() override
    {
        device_ = QString::fromStdString(connection_.ask("plug"));
        qputenv(variable().constData(), device_.toLocal8Bit());
    }
    bool waitFor(const std::function<bool()>& done) override { return pumpUntil(done); }
    void settle() override { pumpFor(50ms); }

    // `bytes` sent `count` times, a millisecond apart.
    void stream(const QByteArray& bytes, int count)
    {
        connection_.ask("stream " + std::to_string(count) + " " + bytes.toHex().toStdString());
    }

private:
    static QByteArray variable() { return "ZELVAR_COM" + QByteArray::number(kPort); }

    // Outlives the control, which closes the port before its device goes.
    FarEndConnection connection_;
    QString device_;
    WinSerialControl comm_;
};

} // namespace zelvar::testing_support
