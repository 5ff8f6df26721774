#include "charts/ComparisonTable.h"

#include "charts/RunSheet.h"

#include "archive/RunJson.h"
#include "curves/FigureFormats.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QJsonDocument>
#include <QPainter>

#include <algorithm>
#include <exception>

namespace zelvar::charts {

namespace {

constexpr int kMargin = kSheetMargin;
constexpr int kRowHeight = 16;

} // namespace

sets::RunComparison sheetComparison(const std::vector<SheetRun>& runs)
{
    std::vector<sets::ComparedRun> compared;
    for (const SheetRun& run : runs) {
        sets::ComparedRun c;
        c.folder = run.folder.isEmpty() ? QFileInfo(run.reportPath).absolutePath() : run.folder;
        c.motor = archive::motorName({});
        if (!run.folder.isEmpty()) {
            try {
                const archive::RunJson json = archive::readRunJson(run.folder);
                c.started = json.startedAt();
                c.motor = archive::motorName(json.motor());
                c.nameplateKv = json.motor().nameplateKv;
            } catch (const std::exception&) {
                // The sheet's facts say that run.json could not be read.
            }
        }
        const std::optional<std::size_t> drawn = run.curves.spinUp;
        c.included = drawn && *drawn < run.curves.spinUps.size() && run.curves.spinUps[*drawn].complete;
        if (!c.included)
            c.exclusion = drawn ? QStringLiteral("the spin-up drawn is not complete") : QStringLiteral("no spin-up");
        if (drawn)
            c.figures = QJsonDocument::fromJson(curves::summaryJson(run.figures)).object();
        compared.push_back(std::move(c));
    }
    return sets::compareRuns(std::move(compared));
}

void drawComparisonPage(QPainter& painter, const QRect& page, const sets::RunComparison& comparison)
{
    const sets::ComparisonTable table = sets::comparisonTable(comparison);
    const int width = page.width() - 2 * kMargin;
    painter.save();
    painter.setPen(Qt::black);
    int y = kMargin;
    painter.setFont(sheetFont(17, true));
    painter.drawText(QRect(kMargin, y, width, 30), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("Comparison of %1 runs: the statistics").arg(comparison.runs.size()));
    y += 30;
    painter.setFont(sheetFont(10));
    for (const QString& note : table.notes) {
        const QRect bounds = painter.boundingRect(QRect(kMargin, y, width, 200), Qt::TextWordWrap, note);
        painter.drawText(QRect(kMargin, y, width, bounds.height()), Qt::TextWordWrap, note);
        y += bounds.height() + 2;
    }
    y += 8;

    // Columns as wide as their widest cell, the figure's name first; what
    // is left over goes between them.
    const QFont font = sheetFont(9), bold = sheetFont(9, true);
    const QFontMetrics metrics(bold, painter.device());
    std::vector<int> widths(static_cast<std::size_t>(table.header.size()), 0);
    for (int c = 0; c < table.header.size(); ++c)
        widths[static_cast<std::size_t>(c)] = metrics.horizontalAdvance(table.header[c]);
    for (const auto& row : table.rows) {
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], metrics.horizontalAdvance(row[c].text));
    }
    int used = 0;
    for (int w : widths)
        used += w;
    const int gap = std::max(4, (width - used) / std::max<int>(1, static_cast<int>(widths.size())));
    const auto drawRow = [&](const QStringList& cells, const std::vector<bool>& flagged, bool header) {
        int x = kMargin;
        for (int c = 0; c < cells.size(); ++c) {
            const int w = widths[static_cast<std::size_t>(c)];
            const bool flag = c < static_cast<int>(flagged.size()) && flagged[static_cast<std::size_t>(c)];
            painter.setFont(header || flag ? bold : font);
            painter.setPen(flag ? QColor(0xb0, 0x30, 0x20) : QColor(Qt::black));
            painter.drawText(QRect(x, y, w + gap, kRowHeight),
                             (c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, cells[c]);
            x += w + gap;
        }
        y += kRowHeight;
    };
    drawRow(table.header, {}, true);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        if (r % 2 == 0)
            painter.fillRect(QRect(kMargin, y, width, kRowHeight), QColor(243, 243, 243));
        QStringList cells;
        std::vector<bool> flagged;
        for (const sets::ComparisonCell& cell : table.rows[r]) {
            cells << cell.text;
            flagged.push_back(cell.flagged);
        }
        drawRow(cells, flagged, false);
    }
    y += 8;
    painter.setPen(QColor(80, 80, 80));
    painter.setFont(sheetFont(9));
    painter.drawText(QRect(kMargin, y, width, 80), Qt::TextWordWrap,
                     QStringLiteral("Each run's figures from its spin-up drawn; a run counts in the statistics when "
                                    "that spin-up is complete. Drift: the least-squares change over the runs in the "
                                    "order they ran exceeds twice the mean of their own ±. An outlier stands more "
                                    "than three times its own ± plus the others' standard deviation from the "
                                    "median of the others."));
    painter.restore();
}

} // namespace zelvar::charts
