// Throughput and memory of the run analysis on a generated run file, and the
// peak memory it needs, which must not grow with the file.

#include "memory.h"
#include "records/SequentialFiles.h"
#include "run/RunAnalyzer.h"
#include "scratch_run.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

using namespace zelvar;

namespace {

void BM_AnalyzeRunFile(benchmark::State& state)
{
    const bench::ScratchRun run(state);
    if (!run.written)
        return;
    const std::int64_t records = run.records;
    const FlywheelAndEsc values{Decimal(30), Decimal(240), QStringLiteral("1500"), QStringLiteral("2000")};
    SequentialFiles files;
    RunAnalyzer analyzer(files, run.dir.path());

    long growthKb = 0;
    for (auto _ : state) {
        const long before = bench::statusKb("VmRSS:");
        bench::resetPeak();
        if (analyzer.analyze(values) != records)
            state.SkipWithError("wrong record count");
        growthKb = std::max(growthKb, bench::statusKb("VmHWM:") - before);
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.counters["records_per_s"] = benchmark::Counter(static_cast<double>(state.iterations() * records),
                                                         benchmark::Counter::kIsRate);
    state.counters["peak_growth_kB"] = static_cast<double>(growthKb);
    state.counters["report_MB"] = static_cast<double>(QFile(run.dir.filePath("save.csv")).size()) / 1e6;
}
BENCHMARK(BM_AnalyzeRunFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
