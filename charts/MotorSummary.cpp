#include "charts/MotorSummary.h"

#include "charts/UnitChoice.h"
#include "curves/FigureFormats.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QTableWidget>

#include <algorithm>

namespace zelvar::charts {

namespace {

constexpr int kMargin = 12;
constexpr int kRowHeight = 18;
// Two groups of columns side by side: the motor's four constants, and the
// peaks with their speeds.
constexpr int kConstants = 4;
constexpr int kRowsPerGroup = 6;

QFont figuresFont(bool bold = false)
{
    QFont font;
    font.setPixelSize(12);
    font.setBold(bold);
    return font;
}

QString rowName(const curves::FigureRow& row)
{
    return row.atRpm ? QStringLiteral("    at") : row.name;
}

QString coastDownLine(const curves::MotorFigures& figures)
{
    return figures.losses ? QStringLiteral("Coast-down: %1").arg(curves::correctionNote(figures))
                          : QStringLiteral("Coast-down: none (%1); torque, power and I0 include the rig's losses")
                                .arg(figures.noCoastReason);
}

QString headLine(const curves::MotorFigures& figures)
{
    return QStringLiteral("Motor figures, spin-up %1: %2 records with the motor powered")
        .arg(figures.spinUp + 1)
        .arg(figures.poweredRecords);
}

} // namespace

void fillFiguresTable(QTableWidget& table, const curves::MotorFigures* figures)
{
    table.clearContents();
    const std::vector<curves::FigureRow> rows = figures ? shownFigureRows(*figures) : std::vector<curves::FigureRow>();
    table.setColumnCount(4);
    table.setHorizontalHeaderLabels(
        {QStringLiteral("Figure"), QStringLiteral("Value"), QStringLiteral("±"), QStringLiteral("Unit")});
    table.setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const curves::FigureRow& row = rows[static_cast<std::size_t>(r)];
        const bool refused = !row.text.refused.isEmpty();
        const QString cells[] = {rowName(row), refused ? QStringLiteral("refused") : row.text.value,
                                 row.text.sigma.mid(2), row.unit};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (c == 1 || c == 2)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (refused)
                item->setToolTip(row.text.refused);
            table.setItem(r, c, item);
        }
    }
    table.setToolTip(figures ? headLine(*figures) + QLatin1Char('\n') + coastDownLine(*figures) : QString());
    table.resizeColumnsToContents();
}

int figuresHeight(const curves::MotorFigures& figures, int width)
{
    const QFontMetrics metrics(figuresFont());
    const QRect coast = metrics.boundingRect(QRect(0, 0, width - 2 * kMargin, 1000), Qt::TextWordWrap,
                                             coastDownLine(figures));
    return kMargin + kRowHeight * (kRowsPerGroup + 1) + 6 + coast.height() + kMargin;
}

void drawFigures(QPainter& painter, const QRect& place, const curves::MotorFigures& figures)
{
    painter.save();
    painter.fillRect(place, QColor(245, 245, 245));
    painter.setPen(Qt::black);
    painter.setFont(figuresFont(true));
    QRect area = place.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    painter.drawText(QRect(area.left(), area.top(), area.width(), kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     headLine(figures));
    const std::vector<curves::FigureRow> rows = shownFigureRows(figures);
    const QFontMetrics metrics(figuresFont());
    painter.setFont(figuresFont());
    // Columns as wide as their widest cell, so that the digits line up
    // whatever the font.
    int nameWidth = 0, valueWidth = 0, sigmaWidth = 0;
    for (const curves::FigureRow& row : rows) {
        nameWidth = std::max(nameWidth, metrics.horizontalAdvance(rowName(row)));
        valueWidth = std::max(valueWidth, metrics.horizontalAdvance(
                                              row.text.refused.isEmpty() ? row.text.value : QStringLiteral("refused")));
        sigmaWidth = std::max(sigmaWidth, metrics.horizontalAdvance(row.text.sigma));
    }
    const int groupWidth = area.width() / 2;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const curves::FigureRow& row = rows[k];
        const int group = static_cast<int>(k) < kConstants ? 0 : 1;
        const int x = area.left() + group * groupWidth;
        const int y = area.top() + kRowHeight * (1 + static_cast<int>(k) - group * kConstants);
        const auto cell = [&](int left, int width, Qt::Alignment align, const QString& text) {
            painter.drawText(QRect(left, y, width, kRowHeight), align | Qt::AlignVCenter, text);
        };
        cell(x, nameWidth, Qt::AlignLeft, rowName(row));
        int left = x + nameWidth + 10;
        if (!row.text.refused.isEmpty()) {
            cell(left, groupWidth - nameWidth - 10, Qt::AlignLeft,
                 metrics.elidedText(QStringLiteral("refused: ") + row.text.refused, Qt::ElideRight,
                                    groupWidth - nameWidth - 20));
            continue;
        }
        cell(left, valueWidth, Qt::AlignRight, row.text.value);
        left += valueWidth + 6;
        cell(left, sigmaWidth, Qt::AlignLeft, row.text.sigma);
        left += sigmaWidth + 6;
        cell(left, groupWidth, Qt::AlignLeft, row.unit);
    }
    const int coastTop = area.top() + kRowHeight * (kRowsPerGroup + 1) + 6;
    painter.drawText(QRect(area.left(), coastTop, area.width(), area.bottom() - coastTop + 1),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, coastDownLine(figures));
    painter.restore();
}

int drawHeading(QPainter& painter, const QRect& place, const RunHeading& heading)
{
    if (heading.title.isEmpty() && heading.lines.isEmpty())
        return 0;
    painter.save();
    painter.setPen(Qt::black);
    QFont title;
    title.setPixelSize(16);
    title.setBold(true);
    const QRect area = place.adjusted(kMargin, 8, -kMargin, 0);
    painter.setFont(title);
    const QRect drawnTitle = painter.boundingRect(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, heading.title);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, heading.title);
    painter.setFont(figuresFont());
    const QRect below = area.adjusted(0, drawnTitle.height() + 2, 0, 0);
    const QString lines = heading.lines.join(QLatin1Char('\n'));
    const QRect drawnLines = painter.boundingRect(below, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, lines);
    painter.drawText(below, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, lines);
    painter.restore();
    return drawnTitle.height() + 2 + (lines.isEmpty() ? 0 : drawnLines.height()) + 10;
}

} // namespace zelvar::charts
