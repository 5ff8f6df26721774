// What Stop costs on the disk at the end of a three-hour run (540,000
// records at 50 samples a second): the report written under a temporary name
// and put in place, which the window waits for, and then the archive's part
// on its worker: the copies of Temp.dat and save.csv and the finished
// run.json. Both include every sync that keeps them through a power cut, so
// the figures are those of the durable writes, on the disk of the scratch
// folder (run it where the data directory would be: a tmpfs syncs nothing).

#include "archive/RunArchive.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "scratch_run.h"

#include <QDateTime>

#include <benchmark/benchmark.h>

#include <chrono>

using namespace zelvar;

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_StopOfAThreeHourRun(benchmark::State& state)
{
    const bench::ScratchRun run(state);
    if (!run.written)
        return;
    const FlywheelAndEsc values{Decimal(30), Decimal(240), QStringLiteral("1500"), QStringLiteral("2000")};
    SequentialFiles files;
    QString problem;
    archive::RunArchive runs(run.dir.path(), [&](const QString& notice) {
        if (!notice.isEmpty())
            problem = notice;
    });
    double reportMs = 0;
    double archiveMs = 0;
    QDateTime started = QDateTime::currentDateTime();
    for (auto _ : state) {
        state.PauseTiming();
        started = started.addSecs(1); // a folder of its own for every run
        runs.runStarted({started, 3, QStringLiteral("/dev/ttyUSB0"), QStringLiteral("19200,N,8,1"),
                         QStringLiteral("20"), QStringLiteral(ZELVAR_VERSION)});
        state.ResumeTiming();

        auto start = std::chrono::steady_clock::now();
        if (RunAnalyzer(files, run.dir.path()).analyze(values) != run.records)
            state.SkipWithError("wrong record count");
        reportMs += millisecondsSince(start);

        start = std::chrono::steady_clock::now();
        archive::RunEnd end;
        end.ended = started.addSecs(3 * 3600);
        end.reportWritten = true;
        runs.runEnded(end);
        runs.waitForCopies();
        archiveMs += millisecondsSince(start);
        if (!problem.isEmpty())
            state.SkipWithError(problem.toStdString().c_str());
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["report_ms"] = reportMs / iterations;
    state.counters["archive_ms"] = archiveMs / iterations;
}
BENCHMARK(BM_StopOfAThreeHourRun)->Arg(540000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

} // namespace
