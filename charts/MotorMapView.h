#pragma once

#include "sets/MotorMap.h"

#include <QFutureWatcher>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QCustomPlot;
class QLabel;
class QPushButton;

namespace zelvar::charts {

// The chart window's Map tab: the motor's map of the runs ticked in the
// Runs tab, read off the window's thread, with the best point of each
// supply listed under it, and saved as an image or as CSV.
class MotorMapView final : public QWidget {
    Q_OBJECT

public:
    // `tickedRuns` gives the run folders the Map button maps.
    explicit MotorMapView(std::function<QStringList()> tickedRuns, QWidget* parent = nullptr);
    ~MotorMapView() override;

    // Reads every spin-up of the reports in the run folders `folders`
    // (their save.csv) off the window's thread and shows their map, or why
    // there is none. Returns at once; false, with the reason in the status,
    // when a reading is still going or no folder is given.
    bool mapRuns(const QStringList& folders);
    bool reading() const { return watcher_ != nullptr; }

    // The map on show, refused or not; none before the first.
    const std::optional<sets::MotorMap>& map() const { return map_; }
    QCustomPlot* plot() const { return plot_; }
    QString bestPoints() const;

    // False, with the reason in the status, when there is no map on show or
    // the file cannot be written.
    bool saveImage(const QString& path, double scale = 2.0);
    bool saveCsv(const QString& path);

Q_SIGNALS:
    void statusChanged(const QString& text);
    // A reading asked for by mapRuns() is done and shown.
    void mapped();

private:
    struct Reading {
        sets::MotorMap map;
        QStringList runs;
        QStringList failures; // runs whose report could not be read
    };
    void show(Reading reading);
    void chooseImageFile();
    void chooseCsvFile();

    std::function<QStringList()> tickedRuns_;
    QCustomPlot* plot_ = nullptr;
    QLabel* best_ = nullptr;
    QPushButton* saveImage_ = nullptr;
    QPushButton* saveCsv_ = nullptr;
    std::optional<sets::MotorMap> map_;
    QStringList runs_;
    std::unique_ptr<QFutureWatcher<Reading>> watcher_;
};

} // namespace zelvar::charts
