#include "tools/dyno-sim/Streamer.h"

#include "tools/dyno-sim/Dyno.h"
#include "tools/dyno-sim/FaultPlan.h"
#include "tools/dyno-sim/FrameEncoder.h"
#include "tools/dyno-sim/PtyLink.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

namespace zelvar::dynosim {

namespace {

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
        return static_cast<double>(now.tv_sec - start_.tv_sec)
             + static_cast<double>(now.tv_nsec - start_.tv_nsec) * 1e-9;
    }

private:
    timespec start_{};
};

// An optional output file; a failed write ends the stream with a message.
class OutputFile {
public:
    explicit OutputFile(const QString& path) : file_(path) {}

    bool open() { return file_.fileName().isEmpty() || file_.open(QIODevice::WriteOnly | QIODevice::Truncate); }
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

// Why the stream stops before `tick`, if it does.
std::optional<Ending> endingBefore(long long tick, const SimOptions& options, long long lastTick)
{
    if (stopRequested)
        return Ending::Interrupted;
    if (options.vanishTick >= 0 && tick >= options.vanishTick)
        return Ending::Vanished;
    if (lastTick >= 0 && tick > lastTick)
        return Ending::Duration;
    if (tick > kMaxTick)
        return Ending::TickLimit;
    return std::nullopt;
}

// One stream from its first tick to its end, with the files it writes.
class Session {
public:
    Session(const SimOptions& options, PtyLink& link, OutputFile& out, OutputFile& truth)
        : options_(options), link_(link), out_(out), truth_(truth),
          dyno_(options.motor, options.flywheel, options.schedule, options.losses, options.heating, options.supplies),
          faults_(options.faults), setup_(setupFrame(options.setup))
    {
    }

    Ending run()
    {
        if (!truth_.write(truthHeader()))
            return Ending::FileError;
        const long long lastTick = options_.lastTick();
        for (;;) {
            const int tick = dyno_.tick();
            if (const std::optional<Ending> ending = endingBefore(tick, options_, lastTick))
                return *ending;
            if (!sendTick(tick))
                return Ending::FileError;
            ++tally_.ticks;
            dyno_.advance();
        }
    }

    // At the end of the stream the end of a burst still held back goes out,
    // and the reader gets a moment to read what was sent: closing the device
    // throws away what its reader has not read yet.
    bool drain(const MonotonicClock& clock)
    {
        bool written = deliver(faults_.flush(), dyno_.tick());
        for (int i = 0; i < 100 && link_.hasPending() && !stopRequested; ++i) {
            clock.sleepFor(0.01);
            QByteArray sent;
            link_.flushPending(sent);
            written = out_.write(sent) && written;
        }
        if (link_.readerPresent())
            clock.sleepFor(0.5);
        return written;
    }

    const Tally& tally() const { return tally_; }
    const FaultCounts& faultCounts() const { return faults_.counts(); }

private:
    bool sendTick(int tick)
    {
        const TickState state = dyno_.state();
        if (!truth_.write(truthLine(state)))
            return false;
        std::vector<TelemetryFrame> frames;
        if (tick % 100 == 0)
            frames.push_back(setup_);
        frames.push_back(sampleFrame(options_.kind, tick, quantise(state.terminalVoltage, state.current, state.rpm)));
        return deliver(faults_.push(frames), tick);
    }

    bool deliver(const Delivery& delivery, int tick)
    {
        if (delivery.bytes.isEmpty())
            return true;
        if (options_.pace == Pace::RealTime) {
            streamClock_.sleepUntil(tick * kTickSeconds);
        } else {
            streamClock_.sleepUntil(lineBusySeconds_);
            lineBusySeconds_ += static_cast<double>(delivery.bytes.size()) / options_.lineBytesPerSecond();
        }
        QByteArray sent;
        if (link_.offer(delivery.bytes, sent))
            tally_.framesSent += delivery.frames;
        else
            tally_.framesDropped += delivery.frames;
        return out_.write(sent);
    }

    const SimOptions& options_;
    PtyLink& link_;
    OutputFile& out_;
    OutputFile& truth_;
    Dyno dyno_;
    FaultPlan faults_;
    TelemetryFrame setup_;
    const MonotonicClock streamClock_;
    double lineBusySeconds_ = 0.0; // --pace line: when the line has carried everything so far
    Tally tally_;
};

// The mapping line, written whole under another name and renamed: a script
// that waits for the file never reads half a line.
bool writeLinkFile(const QString& path, const QString& mapping, QString& error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write((mapping + QLatin1Char('\n')).toLocal8Bit()) >= 0
        && file.commit())
        return true;
    error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

void report(Ending ending, const Tally& tally, const FaultCounts& faultCounts)
{
    static const char* const endings[] = {"its duration ended", "the tick count reached 1110015",
                                          "the device disappeared (--vanish-after)", "interrupted",
                                          "an output file could not be written"};
    std::fprintf(stderr,
                 "dyno-sim: stream ended, %s: %lld ticks (%.2f s of run time), %lld frames sent, %lld dropped "
                 "(buffer full); faults: %lld stray bytes, %lld bad trailers, %lld bad kinds, %lld duplicates\n",
                 endings[static_cast<int>(ending)], tally.ticks, static_cast<double>(tally.ticks) * kTickSeconds,
                 tally.framesSent, tally.framesDropped, faultCounts.strayBytes, faultCounts.badTrailers,
                 faultCounts.badKinds, faultCounts.duplicates);
}

} // namespace

Streamer::Streamer(const SimOptions& options) : options_(options)
{
    if (!options_.seedGiven) {
        std::random_device entropy;
        options_.faults.seed = (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy();
    }
}

int Streamer::run()
{
    OutputFile out(options_.outFile);
    OutputFile truth(options_.truthFile);
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
    const QString mapping = QStringLiteral("ZELVAR_COM%1=%2").arg(options_.comPort).arg(link->devicePath());
    std::printf("dyno-sim: simulated dyno controller on %s (fault seed %llu)\n%s\n", qPrintable(link->devicePath()),
                static_cast<unsigned long long>(options_.faults.seed), qPrintable(mapping));
    std::fflush(stdout);
    QString error;
    if (!options_.linkFile.isEmpty() && !writeLinkFile(options_.linkFile, mapping, error))
        return fail(kFailed, error);

    installStopHandlers();
    const MonotonicClock clock;
    if (options_.waitForReader) {
        std::fprintf(stderr, "dyno-sim: waiting for a program to open %s\n", qPrintable(link->devicePath()));
        while (!stopRequested && !link->readerPresent())
            clock.sleepFor(0.005);
    }

    Session session(options_, *link, out, truth);
    Ending ending = session.run();
    if ((ending == Ending::Duration || ending == Ending::TickLimit) && !session.drain(clock))
        ending = Ending::FileError;
    link->close();

    const bool filesComplete = out.close() & truth.close();
    report(ending, session.tally(), session.faultCounts());
    if (ending == Ending::FileError || !filesComplete)
        return fail(kFailed, out.failed() ? out.error() : truth.error());
    return kOk;
}

} // namespace zelvar::dynosim
