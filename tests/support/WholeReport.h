#pragma once

#include "curves/MotorFigures.h"
#include "curves/Smoothing.h"
#include "curves/SpinUps.h"
#include "records/ReportReader.h"

#include <QString>

#include <cstddef>
#include <vector>

namespace zelvar::testing_support {

// The motor's figures of spin-up `k` (from 0) measured on every row of the
// report: what the loader, which keeps only the rows the figures look at,
// must give.
inline curves::MotorFigures figuresOfWholeReport(const QString& path, std::size_t k)
{
    const curves::Report report = curves::readReport(path);
    const std::vector<curves::FoundSpinUp> spinUps = curves::findSpinUps(report.rows);
    curves::MotorFigures figures = curves::measureMotor(report, curves::smoothSpinUp(report.rows, spinUps.at(k).rows,
                                                                                     report.inertia()));
    figures.spinUp = static_cast<int>(k);
    return figures;
}

} // namespace zelvar::testing_support
