#include "charts/ComparisonView.h"

#include "sets/ComparedRuns.h"

#include <QColor>
#include <QFont>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace zelvar {

void fillComparisonTable(QTableWidget& table, const sets::RunComparison& comparison)
{
    const sets::ComparisonTable t = sets::comparisonTable(comparison);
    table.clear();
    table.setColumnCount(static_cast<int>(t.header.size()));
    table.setRowCount(static_cast<int>(t.rows.size()));
    table.setHorizontalHeaderLabels(t.header);
    for (int c = 1; c <= static_cast<int>(comparison.runs.size()); ++c) {
        const sets::ComparedRun& run = comparison.runs[static_cast<std::size_t>(c - 1)];
        if (QTableWidgetItem* header = table.horizontalHeaderItem(c))
            header->setToolTip(
                run.included ? run.folder
                             : QStringLiteral("%1\nLeft out of the statistics: %2").arg(run.folder, run.exclusion));
    }
    for (int r = 0; r < static_cast<int>(t.rows.size()); ++r) {
        const std::vector<sets::ComparisonCell>& row = t.rows[static_cast<std::size_t>(r)];
        for (int c = 0; c < static_cast<int>(row.size()); ++c) {
            const sets::ComparisonCell& cell = row[static_cast<std::size_t>(c)];
            auto* item = new QTableWidgetItem(cell.text);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (cell.flagged) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setForeground(QColor(0xb0, 0x30, 0x20));
            }
            table.setItem(r, c, item);
        }
    }
    table.resizeColumnsToContents();
}

ComparisonView::ComparisonView(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ComparisonView"));
    setWindowTitle(QStringLiteral("Comparison of runs"));
    notes_ = new QLabel(this);
    notes_->setObjectName(QStringLiteral("ComparisonNotes"));
    notes_->setTextFormat(Qt::PlainText);
    notes_->setWordWrap(true);
    notes_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("ComparisonTable"));
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setToolTip(QStringLiteral("Each run's figures from its longest complete spin-up, in the order the runs "
                                      "ran. Drift: the least-squares change from the first run to the last exceeds "
                                      "twice the runs' own ±. An outlier stands more than three times its own ± "
                                      "plus the others' standard deviation from the others' median"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notes_);
    layout->addWidget(table_, 1);
    resize(1000, 480);

    watcher_ = new QFutureWatcher<sets::RunComparison>(this);
    connect(watcher_, &QFutureWatcher<sets::RunComparison>::finished, this, [this] {
        showComparison(watcher_->future().takeResult());
        if (!pending_.isEmpty())
            compare(std::exchange(pending_, {}));
    });
}

ComparisonView::~ComparisonView()
{
    // A future whose result was taken is no longer waited on.
    if (watcher_->isRunning())
        watcher_->waitForFinished();
}

void ComparisonView::compare(const QStringList& folders)
{
    if (watcher_->isRunning()) {
        pending_ = folders;
        return;
    }
    notes_->setText(QStringLiteral("Reading the reports of %1 runs...").arg(folders.size()));
    watcher_->setFuture(QtConcurrent::run([folders] { return sets::compareFolders(folders); }));
}

bool ComparisonView::reading() const
{
    return watcher_->isRunning() || !pending_.isEmpty();
}

QString ComparisonView::notes() const
{
    return notes_->text();
}

void ComparisonView::showComparison(sets::RunComparison comparison)
{
    const sets::ComparisonTable t = sets::comparisonTable(comparison);
    notes_->setText(t.notes.join(QLatin1Char('\n')));
    fillComparisonTable(*table_, comparison);
    comparison_ = std::move(comparison);
}

} // namespace zelvar
