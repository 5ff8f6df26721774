#include "sets/FigureSpread.h"

#include <algorithm>
#include <cmath>

namespace zelvar::sets {

std::optional<Spread> spreadOf(const std::vector<double>& values)
{
    if (values.empty())
        return std::nullopt;
    Spread s;
    s.count = values.size();
    s.lowest = *std::min_element(values.begin(), values.end());
    s.highest = *std::max_element(values.begin(), values.end());
    double sum = 0.0;
    for (double v : values)
        sum += v;
    s.mean = sum / static_cast<double>(s.count);
    if (s.count > 1) {
        double squares = 0.0;
        for (double v : values)
            squares += (v - s.mean) * (v - s.mean);
        s.standardDeviation = std::sqrt(squares / static_cast<double>(s.count - 1));
    }
    return s;
}

std::vector<FigureRowSpread> figureSpreads(const std::vector<curves::MotorFigures>& runs)
{
    std::vector<std::vector<curves::FigureRow>> table;
    table.reserve(runs.size());
    for (const curves::MotorFigures& run : runs)
        table.push_back(curves::figureRows(run));
    // The rows are the same for every run; an empty set still names them.
    const std::vector<curves::FigureRow> names = table.empty() ? curves::figureRows({}) : table.front();
    std::vector<FigureRowSpread> rows;
    for (std::size_t r = 0; r < names.size(); ++r) {
        FigureRowSpread row{names[r].name, names[r].unit, names[r].atRpm, std::nullopt, 0, {}};
        std::vector<double> values;
        const curves::FigureRow* only = nullptr;
        for (const std::vector<curves::FigureRow>& run : table) {
            if (run[r].figure.known()) {
                values.push_back(run[r].figure.value);
                only = &run[r];
            } else {
                ++row.refused;
            }
        }
        row.spread = spreadOf(values);
        if (row.spread && row.spread->standardDeviation) {
            const curves::Figure mean{row.spread->mean, *row.spread->standardDeviation, QString()};
            row.text = curves::figureText(mean, names[r].decimals);
        } else if (only) {
            // A single run has no deviation over runs: its figure as it
            // stands, with its own ±.
            row.text = only->text;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace zelvar::sets
