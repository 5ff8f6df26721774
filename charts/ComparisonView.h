#pragma once

#include "sets/RunComparison.h"

#include <QDialog>
#include <QStringList>

#include <optional>

class QLabel;
class QTableWidget;
template <typename T>
class QFutureWatcher;

namespace zelvar {

// Puts a comparison's table into `table`: a row per figure, a column per
// run, then the statistics; outliers and drifts marked. Shared by the
// window and the tests.
void fillComparisonTable(QTableWidget& table, const sets::RunComparison& comparison);

// The comparison of runs of a motor, as zelvar-analyze --compare prints it:
// each run's figures from its longest complete spin-up, their mean, standard
// deviation, range, drift and outliers, and Kv beside the nameplate. The
// runs' reports are read on a worker thread; the window shows "Reading..."
// until they are.
class ComparisonView final : public QDialog {
    Q_OBJECT

public:
    explicit ComparisonView(QWidget* parent = nullptr);
    ~ComparisonView() override;

    // Reads `folders` and shows their comparison; a reading under way is
    // replaced by this one.
    void compare(const QStringList& folders);
    bool reading() const;
    // The comparison on show; none while the first is read.
    const std::optional<sets::RunComparison>& comparison() const { return comparison_; }
    QTableWidget* table() const { return table_; }
    QString notes() const;

private:
    void showComparison(sets::RunComparison comparison);

    QLabel* notes_ = nullptr;
    QTableWidget* table_ = nullptr;
    QFutureWatcher<sets::RunComparison>* watcher_ = nullptr;
    std::optional<sets::RunComparison> comparison_;
    QStringList pending_;
};

} // namespace zelvar
