#pragma once

#include "charts/RunSheet.h"
#include "sets/RunComparison.h"

#include <QRect>

#include <vector>

class QPainter;

namespace zelvar::charts {

// The comparison of a sheet's runs: each run's figures of the spin-up drawn,
// in the statistics when it is a complete one, and what its run.json says
// it is of.
sets::RunComparison sheetComparison(const std::vector<SheetRun>& runs);

// The comparison sheet's page of statistics: the runs and what they are of,
// a row per figure with each run's value, the mean, standard deviation,
// range, n and drift, outliers marked, and Kv beside the nameplate; as
// zelvar-analyze --compare prints it. `page` in the sheet's 1/96-inch units.
void drawComparisonPage(QPainter& painter, const QRect& page, const sets::RunComparison& comparison);

} // namespace zelvar::charts
