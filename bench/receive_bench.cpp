// Decode-and-record throughput of the receive handler: frames pushed through
// the in-memory serial control into a real Temp.dat, beside the link's own
// limit at 115200 baud (10 bits a byte, 13 bytes a frame: 886 frames/s).

#include "ManualClock.h"
#include "MemoryMainForm.h"
#include "MemorySerialControl.h"
#include "link/FrameReceiver.h"
#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/SequentialFiles.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace zelvar;

namespace {

constexpr double kLinkLimitFramesPerSecond = 115200.0 / 10.0 / 13.0;

QByteArray runSample(int ticks)
{
    const int rpm = (ticks * 7) % 400;
    const int volts = 1100 + ticks % 100;
    const int amps = ticks % 150;
    const char bytes[] = {'\xD9',
                          '\xAB',
                          char(ticks / 4096),
                          char((ticks % 4096) / 256),
                          char(ticks % 256),
                          char(volts >> 8),
                          char(volts & 0xFF),
                          char(amps >> 8),
                          char(amps & 0xFF),
                          char(rpm >> 8),
                          char(rpm & 0xFF),
                          0x40,
                          '\xFA'};
    return QByteArray(bytes, sizeof bytes);
}

// Argument: frames per receive event. A receiver that falls behind finds many
// frames waiting at once; one frame per event is the worst case, with a
// system call for every record.
void BM_DecodeAndRecord(benchmark::State& state)
{
    const auto framesPerEvent = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString runFile = dir.filePath("Temp.dat");
    MemorySerialControl comm;
    MemoryMainForm form;
    SequentialFiles files;
    ManualClock clock(36000.0);
    FrameReceiver receiver(comm, form, files, clock, QLocale::c());
    QObject::connect(&comm, &SerialControl::OnComm, [&] { receiver.MSComm1_OnComm(); });
    form.Text1(Box::Interval).setText("20");
    files.OpenForOutput(runfiles::kRunFileNumber, runFile);
    comm.setPortOpen(true);

    // Back-to-back frames with even, distinct tick counts, so that every
    // frame passes the interval rule and is recorded.
    std::vector<QByteArray> events;
    for (int e = 0; e < 16384 / framesPerEvent; ++e) {
        QByteArray bytes;
        for (int f = 0; f < framesPerEvent; ++f)
            bytes += runSample(2 * (e * framesPerEvent + f + 1));
        events.push_back(bytes);
    }

    std::size_t next = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        comm.feed(events[next]);
        frames += framesPerEvent;
        if (++next == events.size()) {
            next = 0;
            state.PauseTiming(); // keep the file from growing without bound
            files.Close(runfiles::kRunFileNumber);
            files.OpenForOutput(runfiles::kRunFileNumber, runFile);
            state.ResumeTiming();
        }
    }
    if (form.Label2().caption() == caption::kError)
        state.SkipWithError(receiver.lastError().toStdString().c_str());
    state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["link_limit_frames_per_s"] = kLinkLimitFramesPerSecond;
    state.counters["x_link_limit"] = benchmark::Counter(static_cast<double>(frames) / kLinkLimitFramesPerSecond,
                                                        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeAndRecord)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace
