// The list of archived runs: a thousand run folders, each with its run.json,
// Temp.dat and report (tests/support/ArchivedRuns.h), read by
// archive::listRuns, and the chart window's Runs tab filled from the listing.
//
// BM_ListRuns/1 grows every Temp.dat and save.csv to 64 MB (sparse, so no
// disk is used): a listing that read them would read 128 GB, so the same
// time as BM_ListRuns/0 shows it reads the run.json files alone.
// BM_FillRunList is the part done on the window's thread; BM_RunsTabRefresh
// the whole reading as the tab does it, with the longest time the event loop
// could not run meanwhile.
//
// BM_ArchiveRunFile copies a run file of 540,000 records (three hours at 50
// samples a second) into a run folder as Stop's worker does, and as Start
// does for a run that never ended: read, counted, written under a temporary
// name, put on the disk and renamed. A Start waits for it.

#include "archive/RunArchive.h"
#include "charts/ChartWindow.h"
#include "charts/RunBrowser.h"
#include "event_loop_watchdog.h"
#include "scratch_run.h"
#include "session/LiveTrace.h"

#include "ArchivedRuns.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

using namespace zelvar;

namespace {

constexpr int kRuns = 1000;
constexpr qint64 kGrownSize = qint64(64) << 20;

// An archive of kRuns generated runs, made once; `grown` with its run files
// and reports grown to kGrownSize.
class Archive {
public:
    explicit Archive(bool grown)
    {
        const QDir root(dir_.path());
        if (!root.mkpath(QStringLiteral("data")) || !root.mkpath(QStringLiteral("scratch")))
            throw RuntimeError("cannot make the benchmark's folders");
        data_ = root.filePath(QStringLiteral("data"));
        const QStringList folders =
            testing_support::writeArchivedRuns(data_, kRuns, testing_support::shortRun(root.filePath("scratch")));
        for (const QString& folder : folders) {
            for (const char* name : {"Temp.dat", "save.csv"}) {
                QFile file(QDir(folder).filePath(QString::fromLatin1(name)));
                if (grown && file.exists() && !file.resize(kGrownSize))
                    throw RuntimeError("cannot grow " + file.fileName().toStdString());
                if (file.exists())
                    bytes_ += grown ? kGrownSize : file.size();
            }
        }
    }
    QString data() const { return data_; }
    // What the run files and reports of the archive hold, in bytes.
    qint64 runFileBytes() const { return bytes_; }

    // Null, with the benchmark skipped, when it could not be made.
    static const Archive* get(benchmark::State& state, bool grown)
    {
        static std::unique_ptr<Archive> archives[2];
        auto& archive = archives[grown ? 1 : 0];
        try {
            if (!archive)
                archive = std::make_unique<Archive>(grown);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
        }
        return archive.get();
    }

private:
    QTemporaryDir dir_;
    QString data_;
    qint64 bytes_ = 0;
};

void BM_ListRuns(benchmark::State& state)
{
    const Archive* archive = Archive::get(state, state.range(0) != 0);
    if (!archive)
        return;
    std::size_t listed = 0;
    for (auto _ : state) {
        const archive::Listing listing = archive::listRuns(archive->data());
        listed = listing.runs.size();
        benchmark::DoNotOptimize(listing.runs.data());
    }
    if (listed != kRuns)
        state.SkipWithError("not every run was listed");
    state.counters["runs"] = static_cast<double>(listed);
    state.counters["run_files_GB"] = static_cast<double>(archive->runFileBytes()) / 1e9;
}
BENCHMARK(BM_ListRuns)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_FillRunList(benchmark::State& state)
{
    const Archive* archive = Archive::get(state, false);
    if (!archive)
        return;
    const archive::Listing listing = archive::listRuns(archive->data());
    RunBrowser browser({archive->data(), {}, {}});
    browser.resize(900, 600);
    browser.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        archive::Listing copy = listing;
        state.ResumeTiming();
        browser.fill(std::move(copy));
        // Laid out and painted as the window is, by the events that follow.
        QCoreApplication::processEvents();
    }
    if (browser.runs().size() != kRuns)
        state.SkipWithError("not every run was filled in");
}
BENCHMARK(BM_FillRunList)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RunsTabRefresh(benchmark::State& state)
{
    const Archive* archive = Archive::get(state, false);
    if (!archive)
        return;
    session::LiveTrace trace;
    ChartWindowOptions options;
    options.applicationDirectory = archive->data();
    ChartWindow window(trace, options);
    window.show();
    QCoreApplication::processEvents();
    qint64 longestBlock = 0;
    for (auto _ : state) {
        bench::EventLoopWatchdog watchdog;
        watchdog.start();
        window.refreshRuns();
        const QDeadlineTimer deadline(30000);
        while (window.runBrowser()->reading() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::processEvents();
        longestBlock = std::max(longestBlock, watchdog.stop());
    }
    if (window.runBrowser()->runs().size() != kRuns)
        state.SkipWithError("not every run was listed");
    state.counters["longest_block_ms"] = static_cast<double>(longestBlock);
}
BENCHMARK(BM_RunsTabRefresh)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_ArchiveRunFile(benchmark::State& state)
{
    const bench::ScratchRun run(state);
    if (!run.written)
        return;
    const QString& from = run.path;
    const QString to = run.dir.filePath(QStringLiteral("copy.dat"));
    archive::RunFileScan scan;
    for (auto _ : state) {
        scan = {};
        archive::copyInto(from, to, &scan);
    }
    if (scan.records != state.range(0))
        state.SkipWithError("the copy counted another number of records");
    state.SetBytesProcessed(state.iterations() * QFile(from).size());
    state.counters["records"] = static_cast<double>(scan.records);
}
BENCHMARK(BM_ArchiveRunFile)->Arg(540000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace
