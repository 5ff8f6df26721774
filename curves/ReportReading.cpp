#include "curves/ReportReading.h"

namespace zelvar::curves {

ReportReading readAndMeasure(const QString& path, const LoadRequest& request, bool measure,
                             std::atomic<std::size_t>* progress)
{
    ReportReading reading;
    reading.path = path;
    try {
        reading.curves = loadReport(path, request, progress);
        if (measure)
            reading.figures = measureMotor(*reading.curves);
    } catch (const std::exception& e) {
        reading.curves.reset();
        reading.figures.reset();
        reading.failure = QString::fromStdString(e.what());
    }
    return reading;
}

} // namespace zelvar::curves
