#pragma once

// The generated run file of a benchmark, in a scratch folder of its own.

#include "run_file.h"

#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdint>

namespace zelvar::bench {

// Temp.dat with as many records as the benchmark's argument says; when it
// cannot be written the benchmark is skipped and `written` is false.
struct ScratchRun {
    explicit ScratchRun(benchmark::State& state)
        : records(state.range(0)), path(dir.filePath(QStringLiteral("Temp.dat"))), written(writeRunFile(path, records))
    {
        if (!written)
            state.SkipWithError("cannot write the run file");
    }

    std::int64_t records;
    QTemporaryDir dir;
    QString path;
    bool written;
};

} // namespace zelvar::bench
