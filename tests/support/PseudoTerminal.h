#pragma once

// A real pseudo-terminal for tests of the serial path: the test holds the
// master side and plays the dyno controller; the program opens the slave
// through ZELVAR_COM<n>, as a user points it at a USB adapter. POSIX only.

// QSerialPort on the slave needs the application object and the event loop.
#include "EventLoop.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace zelvar::testing_support {

// The master side of a pseudo-terminal pair.
//
// It also keeps a descriptor of the slave, never read, so that the kernel does
// not hand this pair's number to another test process until the pair is
// destroyed: QSerialPort locks a device with a lock file named after it, and
// after a hang-up it closes the slave (freeing the number) a moment before it
// drops that lock, long enough for a parallel test to fail opening "its" new
// pseudo-terminal.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        if (const char* name = ::ptsname(master_)) {
            slave_ = QString::fromLocal8Bit(name);
            keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        }
    }
    ~PseudoTerminal()
    {
        close();
        if (keeper_ >= 0)
            ::close(keeper_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ready() const { return master_ >= 0 && !slave_.isEmpty() && keeper_ >= 0; }
    QString slavePath() const { return slave_; }
    int master() const { return master_; }

    // What the dyno sends: goes into the slave's input queue at once.
    void send(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            ASSERT_GT(n, 0) << "write to the pseudo-terminal master: " << std::strerror(errno);
            done += n;
        }
    }

    // The cable is pulled: the slave hangs up.
    void close()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int keeper_ = -1;
    QString slave_;
};

} // namespace zelvar::testing_support
