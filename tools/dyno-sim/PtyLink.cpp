#include "tools/dyno-sim/PtyLink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace zelvar::dynosim {

namespace {

[[noreturn]] void failWith(const char* what)
{
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

PtyLink::PtyLink()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0)
        failWith("cannot open a pseudo-terminal");
    try {
        if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0)
            failWith("cannot set up the pseudo-terminal");
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            failWith("cannot unlock the pseudo-terminal");
        const char* name = ::ptsname(master_);
        if (name == nullptr)
            failWith("cannot name the pseudo-terminal");
        path_ = QString::fromLocal8Bit(name);

        // The slave's line discipline works on the bytes as they are written,
        // before anyone opens it: in its default cooked mode it would turn
        // 0x0D into 0x0A, take 0x11 and 0x13 for flow control and echo
        // everything back. Raw, every byte passes unaltered. Terminal
        // attributes set through the master apply to the slave.
        termios tio{};
        if (::tcgetattr(master_, &tio) != 0)
            failWith("cannot read the pseudo-terminal's settings");
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        if (::tcsetattr(master_, TCSANOW, &tio) != 0)
            failWith("cannot make the pseudo-terminal raw");

        // The master reports a hang-up only once the slave has been opened
        // and closed again; opening and closing it here makes "nobody holds
        // the device" visible from the start.
        const int probe = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            failWith("cannot open the pseudo-terminal's device");
        ::close(probe);
    } catch (...) {
        ::close(master_);
        master_ = -1;
        throw;
    }
}

PtyLink::~PtyLink()
{
    close();
}

bool PtyLink::readerPresent() const
{
    if (master_ < 0)
        return false;
    pollfd p{master_, 0, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

qsizetype PtyLink::write(const char* data, qsizetype size)
{
    if (master_ < 0)
        return 0;
    for (;;) {
        const ssize_t n = ::write(master_, data, static_cast<size_t>(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        // EAGAIN: the device's buffer is full; EIO: it cannot take bytes now.
        // Either way the bytes do not go out, and the stream goes on.
        return 0;
    }
}

void PtyLink::flushPending(QByteArray& sent)
{
    if (pending_.isEmpty())
        return;
    const qsizetype n = write(pending_.constData(), pending_.size());
    sent += pending_.left(n);
    pending_.remove(0, n);
}

bool PtyLink::offer(const QByteArray& bytes, QByteArray& sent)
{
    flushPending(sent);
    if (!pending_.isEmpty() || bytes.isEmpty())
        return bytes.isEmpty();
    const qsizetype n = write(bytes.constData(), bytes.size());
    if (n == 0)
        return false;
    sent += bytes.left(n);
    pending_ = bytes.mid(n);
    return true;
}

void PtyLink::close()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
    pending_.clear();
}

} // namespace zelvar::dynosim
