// dyno-sim: a simulated dyno controller on a pseudo-terminal. Parses the
// options and runs the stream; the model, the frames and the faults live in
// the dynosim library.

#include "Dyno.h"
#include "FaultPlan.h"
#include "FrameEncoder.h"
#include "PtyLink.h"
#include "SimOptions.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

using namespace zelvar;
using namespace zelvar::dynosim;

namespace {

enum ExitCode { kOk = 0, kFailed = 1, kBadArguments = 2 };

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int)
{
    stopRequested = 1;
}

void installStopHandlers()
{
    // Without SA_RESTART, so that a signal cuts a sleep short and the stream
    // ends at once with its files complete.
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

int fail(int code, const QString& message)
{
    std::fprintf(stderr, "dyno-sim: %s\n", qPrintable(message));
    return code;
}

class MonotonicClock {
public:
    MonotonicClock() { clock_gettime(CLOCK_MONOTONIC, &start_); }

    // Sleeps until `seconds` after the start, or until a stop is requested.
    void sleepUntil(double seconds) const
    {
        timespec due = start_;
        const auto whole = static_cast<time_t>(seconds);
        due.tv_sec += whole;
        due.tv_nsec += static_cast<long>((seconds - static_cast<double>(whole)) * 1e9);
        if (due.tv_nsec >= 1000000000L) {
            due.tv_sec += 1;
            due.tv_nsec -= 1000000000L;
        }
        while (!stopRequested) {
            const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
            if (rc != EINTR)
                return;
        }
    }

    void sleepFor(double seconds) const { sleepUntil(elapsed() + seconds); }

    double elapsed() const
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<double>(now.tv_sec - start_.tv_sec) + static_cast<double>(now.tv_nsec - start_.tv_nsec) * 1e-9;
    }

private:
    timespec start_{};
};

// An optional output file; a failed write ends the stream with a message.
class OutputFile {
public:
    explicit OutputFile(const QString& path) : file_(path) {}

    bool open()
    {
        return file_.fileName().isEmpty() || file_.open(QIODevice::WriteOnly | QIODevice::Truncate);
    }
    bool isOpen() const { return file_.isOpen(); }
    QString error() const { return QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString()); }

    bool write(const QByteArray& bytes)
    {
        if (file_.isOpen() && !bytes.isEmpty() && file_.write(bytes) != bytes.size())
            failed_ = true;
        return !failed_;
    }
    bool close()
    {
        if (file_.isOpen()) {
            if (!file_.flush())
                failed_ = true;
            file_.close();
        }
        return !failed_;
    }
    bool failed() const { return failed_; }

private:
    QFile file_;
    bool failed_ = false;
};

struct Tally {
    long long ticks = 0;
    long long framesSent = 0;
    long long framesDropped = 0;
};

enum class Ending { Duration, TickLimit, Vanished, Interrupted, FileError };

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dyno-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELVAR_VERSION));

    const ParseResult parsed = parseArguments(QCoreApplication::arguments());
    switch (parsed.action) {
    case ParseResult::Action::Help:
        std::fputs(qPrintable(parsed.text), stdout);
        return kOk;
    case ParseResult::Action::Version:
        std::printf("dyno-sim %s\n", ZELVAR_VERSION);
        return kOk;
    case ParseResult::Action::Error:
        return fail(kBadArguments, parsed.text + QStringLiteral(" (see --help)"));
    case ParseResult::Action::Run:
        break;
    }
    SimOptions options = parsed.options;
    if (!options.seedGiven) {
        std::random_device entropy;
        options.faults.seed = (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy();
    }

    OutputFile out(options.outFile);
    OutputFile truth(options.truthFile);
    if (!out.open())
        return fail(kFailed, out.error());
    if (!truth.open())
        return fail(kFailed, truth.error());

    std::unique_ptr<PtyLink> link;
    try {
        link = std::make_unique<PtyLink>();
    } catch (const std::exception& e) {
        return fail(kFailed, QString::fromStdString(e.what()));
    }
    const QString mapping = QStringLiteral("ZELVAR_COM%1=%2").arg(options.comPort).arg(link->devicePath());
    std::printf("dyno-sim: simulated dyno controller on %s (fault seed %llu)\n%s\n", qPrintable(link->devicePath()),
                static_cast<unsigned long long>(options.faults.seed), qPrintable(mapping));
    std::fflush(stdout);
    if (!options.linkFile.isEmpty()) {
        // Written whole under another name and renamed: a script that waits
        // for the file never reads half a line.
        QSaveFile file(options.linkFile);
        if (!file.open(QIODevice::WriteOnly) || file.write((mapping + QLatin1Char('\n')).toLocal8Bit()) < 0
            || !file.commit())
            return fail(kFailed, QStringLiteral("cannot write %1: %2").arg(options.linkFile, file.errorString()));
    }

    installStopHandlers();
    MonotonicClock clock;
    if (options.waitForReader) {
        std::fprintf(stderr, "dyno-sim: waiting for a program to open %s\n", qPrintable(link->devicePath()));
        while (!stopRequested && !link->readerPresent())
            clock.sleepFor(0.005);
    }

    Dyno dyno(options.motor, options.flywheel, options.schedule);
    FaultPlan faults(options.faults);
    const TelemetryFrame setup = setupFrame(options.setup);
    const long long lastTick = options.lastTick();
    const MonotonicClock streamClock;
    double lineBusySeconds = 0.0; // --pace line: when the line has carried everything so far
    Tally tally;
    Ending ending = Ending::Duration;
    if (!truth.write(truthHeader()))
        return fail(kFailed, truth.error());

    const auto deliver = [&](const Delivery& delivery, int tick) {
        if (delivery.bytes.isEmpty())
            return true;
        if (options.pace == Pace::RealTime) {
            streamClock.sleepUntil(tick * kTickSeconds);
        } else {
            streamClock.sleepUntil(lineBusySeconds);
            lineBusySeconds += static_cast<double>(delivery.bytes.size()) / options.lineBytesPerSecond();
        }
        QByteArray sent;
        if (link->offer(delivery.bytes, sent))
            tally.framesSent += delivery.frames;
        else
            tally.framesDropped += delivery.frames;
        return out.write(sent);
    };

    for (;;) {
        const int tick = dyno.tick();
        if (stopRequested) {
            ending = Ending::Interrupted;
            break;
        }
        if (options.vanishTick >= 0 && tick >= options.vanishTick) {
            ending = Ending::Vanished;
            break;
        }
        if (lastTick >= 0 && tick > lastTick) {
            ending = Ending::Duration;
            break;
        }
        if (tick > kMaxTick) {
            ending = Ending::TickLimit;
            break;
        }

        const TickState state = dyno.state();
        if (!truth.write(truthLine(state))) {
            ending = Ending::FileError;
            break;
        }
        std::vector<TelemetryFrame> frames;
        if (tick % 100 == 0)
            frames.push_back(setup);
        frames.push_back(sampleFrame(options.kind, tick, quantise(state.terminalVoltage, state.current, state.rpm)));
        if (!deliver(faults.push(frames), tick)) {
            ending = Ending::FileError;
            break;
        }
        ++tally.ticks;
        dyno.advance();
    }

    if (ending == Ending::Duration || ending == Ending::TickLimit) {
        // The end of a burst still held back goes out, and the reader gets a
        // moment to read what was sent: closing the device throws away what
        // its reader has not read yet.
        if (!deliver(faults.flush(), dyno.tick()))
            ending = Ending::FileError;
        for (int i = 0; i < 100 && link->hasPending() && !stopRequested; ++i) {
            clock.sleepFor(0.01);
            QByteArray sent;
            link->flushPending(sent);
            if (!out.write(sent))
                ending = Ending::FileError;
        }
        if (link->readerPresent())
            clock.sleepFor(0.5);
    }
    link->close();

    const bool filesComplete = out.close() & truth.close();
    const FaultCounts& faultCounts = faults.counts();
    static const char* const endings[] = {"its duration ended", "the tick count reached 1110015",
                                          "the device disappeared (--vanish-after)", "interrupted",
                                          "an output file could not be written"};
    std::fprintf(stderr,
                 "dyno-sim: stream ended, %s: %lld ticks (%.2f s of run time), %lld frames sent, %lld dropped "
                 "(buffer full); faults: %lld stray bytes, %lld bad trailers, %lld bad kinds, %lld duplicates\n",
                 endings[static_cast<int>(ending)], tally.ticks, static_cast<double>(tally.ticks) * kTickSeconds,
                 tally.framesSent, tally.framesDropped, faultCounts.strayBytes, faultCounts.badTrailers,
                 faultCounts.badKinds, faultCounts.duplicates);
    if (ending == Ending::FileError || !filesComplete)
        return fail(kFailed, out.failed() ? out.error() : truth.error());
    return kOk;
}
