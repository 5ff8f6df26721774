#pragma once

// How long the event loop was kept from running: a timer that should tick
// every few milliseconds notes the longest gap between its ticks. What blocks
// the window's thread for that long is what the operator sees as a freeze.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

namespace zelvar::bench {

class EventLoopWatchdog {
public:
    static constexpr int kTickMs = 5;

    EventLoopWatchdog()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    // Counts the time since the last tick too, so that a block still going
    // on at the end is not missed.
    qint64 stop()
    {
        tick();
        timer_.stop();
        return longest_;
    }
    qint64 longestMs() const { return longest_; }

private:
    void tick() { longest_ = std::max(longest_, clock_.restart()); }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

} // namespace zelvar::bench
