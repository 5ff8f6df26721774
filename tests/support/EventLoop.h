#pragma once

// The Qt event loop for tests that wait on the program's events (serial
// input, timers, a simulator's files) without a window of their own.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <functional>

namespace zelvar::testing_support {

using namespace std::chrono_literals;

// QSerialPort needs an event dispatcher, which comes with the application
// object; gtest_main does not make one.
class QtApplication : public testing::Environment {
public:
    // GUI tests make their QApplication in main(); the others get one here.
    void SetUp() override
    {
        if (QCoreApplication::instance() == nullptr)
            app_ = new QCoreApplication(argc_, argv_);
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "zelvar_test";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication* app_ = nullptr;
};

inline testing::Environment* const qtApplication = testing::AddGlobalTestEnvironment(new QtApplication);

// Runs the event loop until `done` holds; false when `limit` passed first. The
// limit only bounds the wait: passing tests return as soon as `done` holds.
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
{
    QDeadlineTimer deadline(limit);
    QTimer wake; // WaitForMoreEvents would otherwise sleep past the deadline
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds period)
{
    pumpUntil([] { return false; }, period);
}

} // namespace zelvar::testing_support
