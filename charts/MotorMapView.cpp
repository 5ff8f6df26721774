#include "charts/MotorMapView.h"

#include "charts/MotorMapPlot.h"
#include "records/RunFiles.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "charts/Plot.h"

#include <exception>

namespace zelvar::charts {

MotorMapView::MotorMapView(std::function<QStringList()> tickedRuns, QWidget* parent)
    : QWidget(parent), tickedRuns_(std::move(tickedRuns))
{
    plot_ = new QCustomPlot(this);
    plot_->setObjectName(QStringLiteral("MotorMapChart"));
    best_ = new QLabel(this);
    best_->setObjectName(QStringLiteral("MotorMapBestPoints"));
    best_->setTextFormat(Qt::PlainText);
    best_->setWordWrap(true);
    best_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    best_->setText(QStringLiteral("Tick runs of one motor at two supply voltages or more in the Runs tab, then "
                                  "press Map ticked runs."));
    auto* map = new QPushButton(QStringLiteral("Map ticked runs"), this);
    map->setObjectName(QStringLiteral("MapRunsButton"));
    map->setToolTip(QStringLiteral("The motor's efficiency over torque and speed from the runs ticked in the Runs "
                                   "tab, each spin-up at the supply its records show"));
    saveImage_ = new QPushButton(QStringLiteral("Save map image..."), this);
    saveImage_->setObjectName(QStringLiteral("SaveMapImageButton"));
    saveCsv_ = new QPushButton(QStringLiteral("Save map CSV..."), this);
    saveCsv_->setObjectName(QStringLiteral("SaveMapCsvButton"));
    saveImage_->setEnabled(false);
    saveCsv_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(map);
    buttons->addWidget(saveImage_);
    buttons->addWidget(saveCsv_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plot_, 1);
    layout->addWidget(best_);
    layout->addLayout(buttons);

    connect(map, &QPushButton::clicked, this, [this] { mapRuns(tickedRuns_ ? tickedRuns_() : QStringList()); });
    connect(saveImage_, &QPushButton::clicked, this, &MotorMapView::chooseImageFile);
    connect(saveCsv_, &QPushButton::clicked, this, &MotorMapView::chooseCsvFile);
}

MotorMapView::~MotorMapView()
{
    if (watcher_)
        watcher_->waitForFinished();
}

bool MotorMapView::mapRuns(const QStringList& folders)
{
    if (watcher_) {
        Q_EMIT statusChanged(QStringLiteral("The map is still being made"));
        return false;
    }
    if (folders.isEmpty()) {
        Q_EMIT statusChanged(QStringLiteral("No map: tick the runs to map in the Runs tab"));
        return false;
    }
    Q_EMIT statusChanged(QStringLiteral("Mapping %1 runs...").arg(folders.size()));
    watcher_ = std::make_unique<QFutureWatcher<Reading>>();
    connect(watcher_.get(), &QFutureWatcher<Reading>::finished, this, [this] {
        Reading reading = watcher_->result();
        watcher_.reset();
        show(std::move(reading));
    });
    watcher_->setFuture(QtConcurrent::run([folders] {
        Reading reading;
        std::vector<sets::SweepSpinUp> sweep;
        for (const QString& folder : folders) {
            const QString name = QFileInfo(QDir(folder).absolutePath()).fileName();
            const QString report = QDir(folder).filePath(QString::fromLatin1(runfiles::kReportFileName));
            try {
                std::vector<sets::SweepSpinUp> spinUps = sets::sweepOfReport(report, name);
                sweep.insert(sweep.end(), std::make_move_iterator(spinUps.begin()),
                             std::make_move_iterator(spinUps.end()));
                reading.runs << name;
            } catch (const std::exception& e) {
                reading.failures << QStringLiteral("%1: %2").arg(name, QString::fromUtf8(e.what()));
            }
        }
        reading.map = sets::motorMap(sweep);
        return reading;
    }));
    return true;
}

void MotorMapView::show(Reading reading)
{
    map_ = std::move(reading.map);
    runs_ = reading.runs;
    drawMotorMap(*plot_, *map_, Notes::InToolTip);
    plot_->replot();
    QStringList lines;
    for (const QString& line : sets::bestPointLines(*map_))
        lines << QStringLiteral("Best efficiency at %1").arg(line);
    for (const QString& left : map_->leftOut)
        lines << QStringLiteral("Left out: %1").arg(left);
    for (const QString& failure : reading.failures)
        lines << QStringLiteral("Not read: %1").arg(failure);
    best_->setText(map_->drawn() ? lines.join(QLatin1Char('\n'))
                                 : QStringLiteral("No map: %1").arg(map_->refused)
                                       + (lines.isEmpty() ? QString() : QLatin1Char('\n') + lines.join('\n')));
    saveImage_->setEnabled(map_->drawn());
    saveCsv_->setEnabled(map_->drawn());
    Q_EMIT statusChanged(map_->drawn() ? QStringLiteral("The motor's map of %1 spin-ups at %2 supplies")
                                             .arg(map_->lines.size())
                                             .arg(map_->supplies.size())
                                       : QStringLiteral("No map: %1").arg(map_->refused));
    Q_EMIT mapped();
}

QString MotorMapView::bestPoints() const
{
    return best_->text();
}

bool MotorMapView::saveImage(const QString& path, double scale)
{
    if (!map_ || !map_->drawn()) {
        Q_EMIT statusChanged(QStringLiteral("No map image written: there is no map on show"));
        return false;
    }
    const QString title =
        QStringLiteral("Zelvar QT4 Data: the motor's map of %1").arg(runs_.join(QStringLiteral(", ")));
    const bool saved = saveMotorMap(path, *map_, title, scale);
    Q_EMIT statusChanged(
        saved ? QStringLiteral("Saved the map %1").arg(QDir::toNativeSeparators(path))
              : QStringLiteral("No map image written: cannot write %1").arg(QDir::toNativeSeparators(path)));
    return saved;
}

bool MotorMapView::saveCsv(const QString& path)
{
    if (!map_ || !map_->drawn()) {
        Q_EMIT statusChanged(QStringLiteral("No map CSV written: there is no map on show"));
        return false;
    }
    const QByteArray csv = sets::mapCsv(*map_);
    QFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(csv) == csv.size()
                    && file.flush();
    Q_EMIT statusChanged(saved ? QStringLiteral("Saved the map's grid %1").arg(QDir::toNativeSeparators(path))
                               : QStringLiteral("No map CSV written: %1").arg(file.errorString()));
    return saved;
}

void MotorMapView::chooseImageFile()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the motor's map"),
                                                      QStringLiteral("motor-map.png"),
                                                      QStringLiteral("PNG images (*.png)"));
    if (!path.isEmpty())
        saveImage(path);
}

void MotorMapView::chooseCsvFile()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the motor's map as CSV"),
                                                      QStringLiteral("motor-map.csv"),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty())
        saveCsv(path);
}

} // namespace zelvar::charts
