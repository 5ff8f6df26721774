#pragma once

#include "curves/MotorFigures.h"
#include "curves/ReportLoader.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <optional>

namespace zelvar::curves {

// A report read for the charts, with the motor's figures measured from it,
// or why it could not be read. Made off the window's thread and handed to
// it whole.
struct ReportReading {
    QString path;
    std::optional<ReportCurves> curves;
    std::optional<MotorFigures> figures; // when asked for and read
    QString failure;                     // empty when read

    bool read() const { return curves.has_value(); }
};

// Never throws: a failure is the reading's `failure`.
ReportReading readAndMeasure(const QString& path, const LoadRequest& request = {}, bool measure = true,
                             std::atomic<std::size_t>* progress = nullptr);

} // namespace zelvar::curves
