// The report's charts of a long run: the chart window built offscreen around
// a generated run's report and drawn, at 10k, 100k and 540k records (three
// hours at 50 records a second). Beside the time: the process's peak
// resident memory, and the longest time the event loop could not run while
// the report was read and drawn (what the operator would see as a freeze).

#include "charts/ChartWindow.h"
#include "event_loop_watchdog.h"
#include "memory.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "scratch_run.h"
#include "session/LiveTrace.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

using namespace zelvar;

namespace {

void BM_ChartWindowDrawsReport(benchmark::State& state)
{
    const bench::ScratchRun run(state);
    if (!run.written)
        return;
    const std::int64_t records = run.records;
    SequentialFiles files;
    if (RunAnalyzer(files, run.dir.path())
            .analyze({Decimal(30), Decimal(240), QStringLiteral("1500"), QStringLiteral("2000")})
        != records) {
        state.SkipWithError("wrong record count");
        return;
    }
    QFile::remove(run.path);
    const QString report = run.dir.filePath("save.csv");
    session::LiveTrace trace;

    qint64 longestBlock = 0;
    bool progress = false;
    bench::resetPeak();
    for (auto _ : state) {
        ChartWindow window(trace, {run.dir.path(), {}});
        window.show();
        bench::EventLoopWatchdog watchdog;
        watchdog.start();
        window.showReport(report);
        while (window.reading())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
        if (!window.report())
            state.SkipWithError("the report was not shown");
        // Drawn as the window is, by the paint events that follow.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        longestBlock = std::max(longestBlock, watchdog.stop());
        progress = progress || window.progressShown();
    }
    state.counters["peak_rss_MB"] = static_cast<double>(bench::statusKb("VmHWM:")) / 1024.0;
    state.counters["longest_block_ms"] = static_cast<double>(longestBlock);
    state.counters["progress_shown"] = progress ? 1 : 0;
    state.counters["report_MB"] = static_cast<double>(QFile(report).size()) / 1e6;
}
BENCHMARK(BM_ChartWindowDrawsReport)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(540000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
