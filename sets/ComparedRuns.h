#pragma once

#include "sets/RunComparison.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace zelvar::sets {

// A run read for a comparison: its run.json, when the folder has one, for
// when it started and what it is of, and its report save.csv for the
// figures of its longest complete spin-up. A run without a report or
// without a complete spin-up comes back excluded, with the reason; it never
// throws. Reads the whole report: call it off the window's thread.
ComparedRun readComparedRun(const QString& folder);
// readComparedRun() of each folder, then compareRuns().
RunComparison compareFolders(const QStringList& folders);

} // namespace zelvar::sets
