#pragma once

#include "curves/SpinUps.h"
#include "records/ReportReader.h"

#include <sstream>
#include <string>
#include <vector>

namespace zelvar::testing_support {

// Report rows at the given speeds, one every 20 ms from 0.02 s, at 12 V and
// 10 A: what the spin-up finders look at, and nothing they do not.
inline std::vector<curves::ReportPoint> rowsAtRpm(const std::vector<double>& rpm)
{
    std::vector<curves::ReportPoint> rows;
    for (std::size_t i = 0; i < rpm.size(); ++i)
        rows.push_back({0.02 * static_cast<double>(i + 1), 12, 10, rpm[i], 0, 0, 120, 0});
    return rows;
}

// Spin-ups as a failure message lists them: "[1..4] [6..10 open] ".
inline std::string listed(const std::vector<curves::FoundSpinUp>& found)
{
    std::ostringstream out;
    for (const curves::FoundSpinUp& s : found)
        out << "[" << s.rows.first << ".." << s.rows.last << (s.complete ? "" : " open") << "] ";
    return out.str();
}

} // namespace zelvar::testing_support
