#include "charts/RunBrowser.h"

#include "charts/ComparisonView.h"
#include "platform/FileSystem.h"
#include "platform/RuntimeError.h"
#include "records/RunFiles.h"

#include <QAbstractItemDelegate>
#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>

namespace zelvar {

namespace runlist {

QString startedText(const archive::RunSummary& run)
{
    return run.started.isValid() ? run.startedText() : run.name;
}

QString peakPowerText(std::optional<double> watts, std::optional<double> rpm)
{
    if (!watts)
        return QString();
    const QString power = QStringLiteral("%1 W").arg(QLocale::c().toString(*watts, 'f', 1));
    if (!rpm)
        return power;
    return QStringLiteral("%1 at %2 RPM").arg(power).arg(std::llround(*rpm));
}

namespace {

QString endingAlone(const archive::RunSummary& run)
{
    switch (run.ending) {
    case archive::Ending::Recording:
        return QStringLiteral("Being recorded. If the program ended during the run, the next Start marks it "
                              "unfinished");
    case archive::Ending::Stopped:
        return QStringLiteral("Stop ended the run and wrote its report");
    case archive::Ending::Error:
        return run.reason.isEmpty() ? QStringLiteral("The run ended in Error!")
                                    : QStringLiteral("The run ended in Error!: %1").arg(run.reason);
    case archive::Ending::Unfinished:
        break;
    }
    return QStringLiteral("The program ended during the run (closed, killed, or the machine lost power); its "
                          "records were kept, without a report");
}

} // namespace

QString endingToolTip(const archive::RunSummary& run)
{
    const QString typed = run.values.typedMark();
    const QString ending = endingAlone(run);
    return typed.isEmpty() ? ending
                           : ending + QStringLiteral("\nThe report used values typed into the boxes: ") + typed;
}

std::optional<QString> refusalToDelete(const archive::RunSummary& run)
{
    if (run.ending == archive::Ending::Recording) {
        return QStringLiteral("Not deleted: run %1 is still being recorded (a run the program left so is marked "
                              "unfinished at the next Start)")
            .arg(run.name);
    }
    return std::nullopt;
}

std::optional<double> nameplateKvFromText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    bool read = false;
    // The dot or the operator's own decimal separator.
    double kv = QLocale::c().toDouble(trimmed, &read);
    if (!read)
        kv = QLocale().toDouble(trimmed, &read);
    if (!read || !std::isfinite(kv) || kv <= 0.0)
        throw RuntimeError("the nameplate Kv \"" + trimmed.toStdString()
                           + "\" is no Kv in RPM per volt above 0; leave it empty for none");
    return kv;
}

QString nameplateKvText(std::optional<double> kv)
{
    return kv ? QLocale::c().toString(*kv, 'g', 8) : QString();
}

QStringList motorsOf(const std::vector<archive::RunSummary>& runs)
{
    QStringList motors;
    for (const archive::RunSummary& run : runs)
        motors << archive::motorName(run.motor);
    motors.removeDuplicates();
    std::sort(motors.begin(), motors.end(),
              [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
    return motors;
}

std::vector<archive::RunSummary> shownRuns(std::vector<archive::RunSummary> runs, const QString& motor, bool grouped)
{
    if (!motor.isEmpty())
        std::erase_if(runs, [&](const archive::RunSummary& run) { return archive::motorName(run.motor) != motor; });
    if (grouped)
        std::stable_sort(runs.begin(), runs.end(), [](const archive::RunSummary& a, const archive::RunSummary& b) {
            return QString::compare(archive::motorName(a.motor), archive::motorName(b.motor), Qt::CaseInsensitive) < 0;
        });
    return runs;
}

} // namespace runlist

// The runs as the list shows them. A row's texts are made when the view
// draws it, so that filling costs the same for ten runs or ten thousand.
class RunListModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Writes an edited note; true when it was written.
    std::function<bool(int row, const QString& note)> noteEdited;
    // Writes what an edited run is of; true when it was written.
    std::function<bool(int row, const archive::RunMotor& motor)> motorEdited;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(runs_.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : RunBrowser::ColumnCount;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return QVariant();
        const archive::RunSummary& run = runs_[static_cast<std::size_t>(index.row())];
        switch (role) {
        case Qt::EditRole:
            // The editor starts from what run.json holds, not from "unnamed".
            if (index.column() == RunBrowser::MotorColumn)
                return run.motor.name;
            return text(run, index.column());
        case Qt::DisplayRole:
            return text(run, index.column());
        case Qt::ToolTipRole:
            if (index.column() == RunBrowser::DateColumn)
                return QDir::toNativeSeparators(run.folder);
            if (index.column() == RunBrowser::EndingColumn)
                return runlist::endingToolTip(run);
            if (index.column() == RunBrowser::NoteColumn && !run.note.isEmpty())
                return run.note;
            if (index.column() == RunBrowser::SupplyColumn && !run.motor.supplyText.isEmpty())
                return run.motor.supplyText;
            return QVariant();
        case Qt::CheckStateRole:
            if (index.column() == RunBrowser::DateColumn)
                return ticked_.contains(run.folder) ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        case Qt::TextAlignmentRole:
            if (index.column() == RunBrowser::DurationColumn || index.column() == RunBrowser::RecordsColumn
                || index.column() == RunBrowser::PeakPowerColumn || index.column() == RunBrowser::NameplateColumn)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant();
        default:
            return QVariant();
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal)
            return QVariant();
        static const char* const captions[] = {"Started", "Duration",     "Records", "State", "Peak power",
                                               "Motor",   "Nameplate Kv", "Supply",  "Note"};
        static const char* const tips[] = {
            "When the run started, in local time. Tick runs to draw their reports over each other",
            "From Start to the end of the run",
            "Lines recorded in the run's Temp.dat",
            "stopped: Stop wrote the report; error: the run ended in Error!; unfinished: the program ended during "
            "the run; recording: the run is on",
            "The motor's peak output power and the speed it was reached at, once the report was drawn",
            "The motor the run is of, kept in its run.json (runs of no name count as one motor, \"unnamed\"). "
            "Double-click to change it",
            "The motor's nameplate Kv in RPM/V, which a comparison sets the measured Kv beside. Double-click to "
            "change it",
            "What supplied the motor, such as \"3S LiPo\". Double-click to change it",
            "Your note on the run, kept in its run.json. Double-click to write it",
        };
        if (section < 0 || section >= RunBrowser::ColumnCount)
            return QVariant();
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(captions[section]);
        if (role == Qt::ToolTipRole)
            return QString::fromLatin1(tips[section]);
        return QVariant();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
        if (index.column() == RunBrowser::DateColumn)
            flags |= Qt::ItemIsUserCheckable;
        if (index.column() == RunBrowser::NoteColumn || isMotorColumn(index.column()))
            flags |= Qt::ItemIsEditable;
        return flags;
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return false;
        const archive::RunSummary& run = runs_[static_cast<std::size_t>(index.row())];
        if (role == Qt::CheckStateRole && index.column() == RunBrowser::DateColumn) {
            if (value.value<Qt::CheckState>() == Qt::Checked)
                ticked_.insert(run.folder);
            else
                ticked_.remove(run.folder);
            Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
            return true;
        }
        if (role == Qt::EditRole && index.column() == RunBrowser::NoteColumn)
            return noteEdited && noteEdited(index.row(), value.toString());
        if (role == Qt::EditRole && isMotorColumn(index.column()) && motorEdited) {
            archive::RunMotor motor = run.motor;
            if (index.column() == RunBrowser::MotorColumn)
                motor.name = value.toString().trimmed();
            else if (index.column() == RunBrowser::SupplyColumn)
                motor.supplyText = value.toString().trimmed();
            else
                motor.nameplateKv = editedKv(value.toString(), motor.nameplateKv);
            return motorEdited(index.row(), motor);
        }
        return false;
    }

    void reset(std::vector<archive::RunSummary> runs)
    {
        beginResetModel();
        runs_ = std::move(runs);
        // A tick stays with its run; a run gone takes its tick along.
        QSet<QString> present;
        for (const archive::RunSummary& run : runs_) {
            if (ticked_.contains(run.folder))
                present.insert(run.folder);
        }
        ticked_ = std::move(present);
        endResetModel();
    }

    const std::vector<archive::RunSummary>& runs() const { return runs_; }
    bool ticked(int row) const { return ticked_.contains(runs_[static_cast<std::size_t>(row)].folder); }

    static bool isMotorColumn(int column)
    {
        return column == RunBrowser::MotorColumn || column == RunBrowser::NameplateColumn
            || column == RunBrowser::SupplyColumn;
    }

    // The Kv typed into the list, or what it held when the text is no Kv.
    std::function<std::optional<double>(const QString& text, std::optional<double> before)> editedKv;

    void showMotor(int row, const archive::RunMotor& motor)
    {
        runs_[static_cast<std::size_t>(row)].motor = motor;
        Q_EMIT dataChanged(index(row, RunBrowser::MotorColumn), index(row, RunBrowser::SupplyColumn));
    }

    void showNote(int row, const QString& note)
    {
        runs_[static_cast<std::size_t>(row)].note = note;
        const QModelIndex cell = index(row, RunBrowser::NoteColumn);
        Q_EMIT dataChanged(cell, cell);
    }

private:
    static QString text(const archive::RunSummary& run, int column)
    {
        switch (column) {
        case RunBrowser::DateColumn:
            return runlist::startedText(run);
        case RunBrowser::DurationColumn:
            return run.durationText();
        case RunBrowser::RecordsColumn:
            return run.records ? QString::number(*run.records) : QString();
        case RunBrowser::EndingColumn:
            if (run.records == 0 && run.ending != archive::Ending::Recording)
                return archive::endingText(run.ending) + QStringLiteral(", no records");
            // Figures of a flywheel other than the dyno's are marked where
            // they are listed.
            return run.values.typedMark().isEmpty()
                     ? archive::endingText(run.ending)
                     : archive::endingText(run.ending) + QStringLiteral(", values typed");
        case RunBrowser::PeakPowerColumn:
            return runlist::peakPowerText(run.peakPowerW, run.peakPowerRpm);
        case RunBrowser::MotorColumn:
            return archive::motorName(run.motor);
        case RunBrowser::NameplateColumn:
            return runlist::nameplateKvText(run.motor.nameplateKv);
        case RunBrowser::SupplyColumn:
            return run.motor.supplyText;
        case RunBrowser::NoteColumn:
            return run.note;
        default:
            return QString();
        }
    }

    std::vector<archive::RunSummary> runs_;
    QSet<QString> ticked_; // by folder
};

RunBrowser::RunBrowser(QString dataDirectory, RunBrowserOptions options, QWidget* parent)
    : QWidget(parent), dataDirectory_(std::move(dataDirectory)), options_(std::move(options))
{
    setObjectName(QStringLiteral("RunBrowser"));
    model_ = new RunListModel(this);
    model_->noteEdited = [this](int row, const QString& note) { return setNote(row, note); };
    model_->motorEdited = [this](int row, const archive::RunMotor& motor) { return setMotor(row, motor); };
    model_->editedKv = [this](const QString& text, std::optional<double> before) {
        try {
            return runlist::nameplateKvFromText(text);
        } catch (const RuntimeError& e) {
            Q_EMIT statusChanged(QStringLiteral("Not changed: %1").arg(QString::fromStdString(e.what())));
            return before;
        }
    };

    list_ = new QTreeView(this);
    list_->setObjectName(QStringLiteral("RunList"));
    list_->setModel(model_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true); // rows are measured once, not each of them
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                           | QAbstractItemView::SelectedClicked);
    list_->setToolTip(QStringLiteral("Double-click a run (or press Enter) to show its report; double-click its note "
                                     "to write one"));
    // Widths from typical entries: measuring a thousand rows would cost the
    // window's thread more than filling them.
    const QFontMetrics metrics = list_->fontMetrics();
    const int padding = metrics.horizontalAdvance(QStringLiteral("MM"));
    const char* const typical[] = {"2026-12-07 14:03:21",  "1:02:05",        "1234567",      "unfinished",
                                   "153.2 W at 24310 RPM", "A2212/13T 1000", "Nameplate Kv", "3S LiPo 2200"};
    for (int column = DateColumn; column < NoteColumn; ++column) {
        const int checkBox = column == DateColumn ? 2 * padding : 0;
        list_->header()->resizeSection(column, metrics.horizontalAdvance(QString::fromLatin1(typical[column])) + padding
                                                   + checkBox);
    }
    list_->header()->setStretchLastSection(true);

    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("RunCount"));
    count_->setTextFormat(Qt::PlainText);

    auto* show = new QPushButton(QStringLiteral("Show"), this);
    show->setObjectName(QStringLiteral("ShowRunButton"));
    show->setToolTip(QStringLiteral("Show the report of the run picked in the list"));
    auto* overlay = new QPushButton(QStringLiteral("Draw ticked over"), this);
    overlay->setObjectName(QStringLiteral("OverlayRunsButton"));
    overlay->setToolTip(
        QStringLiteral("Draw the reports of the ticked runs over the report on show, in place of the earlier "
                       "reports drawn; five at most"));
    auto* sheet = new QPushButton(QStringLiteral("Save run sheet..."), this);
    sheet->setObjectName(QStringLiteral("SaveRunsSheetButton"));
    sheet->setToolTip(QStringLiteral("Write a one-page PDF of the ticked run, or a comparison sheet of the ticked "
                                     "runs: their curves over each other and their figures side by side"));
    auto* remove = new QPushButton(QStringLiteral("Delete..."), this);
    remove->setObjectName(QStringLiteral("DeleteRunButton"));
    remove->setToolTip(QStringLiteral("Move the run picked in the list, with its files, to the trash"));
    auto* analyse = new QPushButton(QStringLiteral("Analyse"), this);
    analyse->setObjectName(QStringLiteral("AnalyseRunButton"));
    analyse->setToolTip(QStringLiteral("Make the report of the run picked in the list from its run file, with the "
                                       "flywheel and ESC values of its run.json: for a run that ended in Error! or "
                                       "was never stopped"));
    auto* reread = new QPushButton(QStringLiteral("Read again"), this);
    reread->setObjectName(QStringLiteral("RefreshRunsButton"));
    reread->setToolTip(QStringLiteral("Read the list of runs again from the runs folder"));
    hideEmpty_ = new QCheckBox(QStringLiteral("Hide runs without records"), this);
    hideEmpty_->setObjectName(QStringLiteral("HideEmptyRuns"));
    hideEmpty_->setToolTip(QStringLiteral("Leave out of the list the runs that recorded nothing, such as a Start "
                                          "on a dyno that sent no frame"));
    connect(hideEmpty_, &QCheckBox::toggled, this, [this] { fill(listing_); });
    auto* compare = new QPushButton(QStringLiteral("Compare..."), this);
    compare->setObjectName(QStringLiteral("CompareRunsButton"));
    compare->setToolTip(QStringLiteral("Compare the ticked runs, or every run of the motor shown when none is "
                                       "ticked: each run's figures from its longest complete spin-up, their mean, "
                                       "standard deviation and range, drift over the runs and outliers, and Kv "
                                       "beside the nameplate"));
    groupByMotor_ = new QCheckBox(QStringLiteral("Group by motor"), this);
    groupByMotor_->setObjectName(QStringLiteral("GroupByMotor"));
    groupByMotor_->setToolTip(QStringLiteral("List the runs motor by motor, each motor's newest first"));
    connect(groupByMotor_, &QCheckBox::toggled, this, [this] { fill(listing_); });
    motorFilter_ = new QComboBox(this);
    motorFilter_->setObjectName(QStringLiteral("MotorFilter"));
    motorFilter_->setToolTip(QStringLiteral("List the runs of one motor only"));
    motorFilter_->addItem(QStringLiteral("All motors"), QString());
    motorFilter_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(motorFilter_, &QComboBox::activated, this, [this] { fill(listing_); });
    const archive::RunMotor next = archive::motorForRunsToCome();
    nextMotor_ = new QLineEdit(next.name, this);
    nextMotor_->setObjectName(QStringLiteral("NextMotor"));
    nextMotor_->setPlaceholderText(QString::fromLatin1(archive::kUnnamedMotor));
    nextMotor_->setToolTip(QStringLiteral("The motor of the runs to come: each Start writes it into the run's "
                                          "run.json, until it is changed here"));
    nextNameplateKv_ = new QLineEdit(runlist::nameplateKvText(next.nameplateKv), this);
    nextNameplateKv_->setObjectName(QStringLiteral("NextNameplateKv"));
    nextNameplateKv_->setPlaceholderText(QStringLiteral("RPM/V"));
    nextNameplateKv_->setToolTip(QStringLiteral("The nameplate Kv of the motor of the runs to come, in RPM per "
                                                "volt; empty when not known"));
    nextNameplateKv_->setMaximumWidth(metrics.horizontalAdvance(QStringLiteral("00000.00")) + padding);
    nextSupply_ = new QLineEdit(next.supplyText, this);
    nextSupply_->setObjectName(QStringLiteral("NextSupply"));
    nextSupply_->setPlaceholderText(QStringLiteral("3S LiPo"));
    nextSupply_->setToolTip(QStringLiteral("What supplies the motor in the runs to come"));
    for (QLineEdit* field : {nextMotor_, nextNameplateKv_, nextSupply_})
        connect(field, &QLineEdit::editingFinished, this, &RunBrowser::runsToComeEdited);
    archiveSetting_ = new QCheckBox(QStringLiteral("Keep every run in runs/"), this);
    archiveSetting_->setObjectName(QStringLiteral("ArchiveSetting"));
    archiveSetting_->setToolTip(
        QStringLiteral("Each Start makes a folder for the run in %1 and copies its Temp.dat and report into it "
                       "at the end. Read at each Start")
            .arg(QDir::toNativeSeparators(QDir(dataDirectory_).filePath(QString::fromLatin1(archive::kFolderName)))));
    archiveSetting_->setChecked(archive::enabledInSettings() && !options_.archiveOffForThisStart);
    if (options_.archiveOffForThisStart) {
        archiveSetting_->setEnabled(false);
        archiveSetting_->setToolTip(
            QStringLiteral("Off until the program starts again: it was started with --no-archive"));
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(show);
    buttons->addWidget(overlay);
    buttons->addWidget(sheet);
    buttons->addWidget(remove);
    buttons->addWidget(analyse);
    buttons->addWidget(compare);
    buttons->addWidget(reread);
    buttons->addWidget(count_, 1);
    buttons->addWidget(hideEmpty_);
    buttons->addWidget(archiveSetting_);
    auto* motors = new QHBoxLayout;
    motors->addWidget(new QLabel(QStringLiteral("For the runs to come: motor"), this));
    motors->addWidget(nextMotor_, 2);
    motors->addWidget(new QLabel(QStringLiteral("nameplate Kv"), this));
    motors->addWidget(nextNameplateKv_);
    motors->addWidget(new QLabel(QStringLiteral("supply"), this));
    motors->addWidget(nextSupply_, 1);
    motors->addSpacing(padding);
    motors->addWidget(new QLabel(QStringLiteral("Show"), this));
    motors->addWidget(motorFilter_);
    motors->addWidget(groupByMotor_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(motors);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);

    watcher_ = new QFutureWatcher<archive::Listing>(this);
    connect(watcher_, &QFutureWatcher<archive::Listing>::finished, this, [this] {
        fill(watcher_->future().takeResult());
        if (readAgain_)
            refresh();
    });
    connect(list_->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        if (readAfterEdit_) {
            readAfterEdit_ = false;
            refresh();
        }
    });
    connect(list_, &QTreeView::activated, this, [this](const QModelIndex& index) { pick(index.row()); });
    connect(show, &QPushButton::clicked, this, [this] { pick(currentRow()); });
    connect(overlay, &QPushButton::clicked, this, &RunBrowser::drawTicked);
    connect(sheet, &QPushButton::clicked, this, &RunBrowser::sheetTicked);
    connect(remove, &QPushButton::clicked, this, [this] { deleteRun(currentRow()); });
    connect(analyse, &QPushButton::clicked, this, [this] { this->analyse(currentRow()); });
    connect(compare, &QPushButton::clicked, this, &RunBrowser::compareRuns);
    connect(reread, &QPushButton::clicked, this, &RunBrowser::refresh);
    connect(archiveSetting_, &QCheckBox::toggled, this, [](bool on) { archive::setEnabledInSettings(on); });
}

RunBrowser::~RunBrowser() = default;

void RunBrowser::refresh()
{
    if (watcher_->isRunning()) {
        readAgain_ = true;
        return;
    }
    readAgain_ = false;
    if (!listed_)
        count_->setText(QStringLiteral("Reading the runs..."));
    watcher_->setFuture(QtConcurrent::run([directory = dataDirectory_] {
        try {
            return archive::listRuns(directory);
        } catch (const std::exception& e) {
            archive::Listing failed;
            failed.problems << QString::fromStdString(e.what());
            return failed;
        }
    }));
}

bool RunBrowser::reading() const
{
    return watcher_->isRunning();
}

void RunBrowser::fill(archive::Listing listing)
{
    // Filling closes an editor open on a note, and what was typed with it:
    // the list is read again once the note is done.
    constexpr int kEditable[] = {NoteColumn, MotorColumn, NameplateColumn, SupplyColumn};
    const QModelIndex editing = list_->currentIndex();
    if (editing.isValid() && std::any_of(std::begin(kEditable), std::end(kEditable), [&](int column) {
            return list_->indexWidget(editing.siblingAtColumn(column)) != nullptr;
        })) {
        readAfterEdit_ = true;
        return;
    }
    const int row = currentRow();
    const QString current = row >= 0 ? runs()[static_cast<std::size_t>(row)].folder : QString();
    listing_ = listing;
    fillMotorFilter();
    if (hideEmpty_->isChecked())
        std::erase_if(listing.runs, [](const archive::RunSummary& run) {
            return run.records == 0 && run.ending != archive::Ending::Recording;
        });
    model_->reset(runlist::shownRuns(std::move(listing.runs), shownMotor(), groupByMotor_->isChecked()));
    listed_ = true;
    showCount(listing.problems);
    if (current.isEmpty())
        return;
    for (std::size_t k = 0; k < runs().size(); ++k) {
        if (runs()[k].folder == current) {
            list_->setCurrentIndex(model_->index(static_cast<int>(k), DateColumn));
            break;
        }
    }
}

void RunBrowser::fillMotorFilter()
{
    // The motor shown stays, even while no run of it is listed.
    const QString shown = shownMotor();
    QStringList motors = runlist::motorsOf(listing_.runs);
    if (!shown.isEmpty() && !motors.contains(shown))
        motors << shown;
    motorFilter_->clear();
    motorFilter_->addItem(QStringLiteral("All motors"), QString());
    for (const QString& motor : motors)
        motorFilter_->addItem(motor, motor);
    motorFilter_->setCurrentIndex(std::max(0, motorFilter_->findData(shown)));
}

QString RunBrowser::shownMotor() const
{
    return motorFilter_->currentData().toString();
}

void RunBrowser::showMotor(const QString& motor)
{
    if (!motor.isEmpty() && motorFilter_->findData(motor) < 0)
        motorFilter_->addItem(motor, motor);
    motorFilter_->setCurrentIndex(std::max(0, motorFilter_->findData(motor)));
    fill(listing_);
}

void RunBrowser::groupByMotor(bool grouped)
{
    groupByMotor_->setChecked(grouped);
}

archive::RunMotor RunBrowser::motorForRunsToCome() const
{
    archive::RunMotor motor{nextMotor_->text().trimmed(), std::nullopt, nextSupply_->text().trimmed()};
    try {
        motor.nameplateKv = runlist::nameplateKvFromText(nextNameplateKv_->text());
    } catch (const RuntimeError&) {
        motor.nameplateKv = archive::motorForRunsToCome().nameplateKv;
    }
    return motor;
}

void RunBrowser::setMotorForRunsToCome(const archive::RunMotor& motor)
{
    nextMotor_->setText(motor.name);
    nextNameplateKv_->setText(runlist::nameplateKvText(motor.nameplateKv));
    nextSupply_->setText(motor.supplyText);
    runsToComeEdited();
}

void RunBrowser::runsToComeEdited()
{
    const archive::RunMotor saved = archive::motorForRunsToCome();
    archive::RunMotor motor{nextMotor_->text().trimmed(), saved.nameplateKv, nextSupply_->text().trimmed()};
    try {
        motor.nameplateKv = runlist::nameplateKvFromText(nextNameplateKv_->text());
    } catch (const RuntimeError& e) {
        // What was typed stays for the operator to mend; the runs keep the
        // Kv saved before.
        Q_EMIT statusChanged(QStringLiteral("Not changed: %1").arg(QString::fromStdString(e.what())));
    }
    if (motor == saved)
        return;
    archive::setMotorForRunsToCome(motor);
    Q_EMIT statusChanged(QStringLiteral("The runs to come are of motor %1").arg(archive::motorName(motor)));
}

bool RunBrowser::setMotor(int row, const archive::RunMotor& motor)
{
    if (row < 0 || row >= model_->rowCount())
        return false;
    const archive::RunSummary& run = runs()[static_cast<std::size_t>(row)];
    if (motor == run.motor)
        return true;
    try {
        if (options_.setMotor)
            options_.setMotor(run.folder, motor);
        else
            archive::setMotor(run.folder, motor);
    } catch (const std::exception& e) {
        Q_EMIT statusChanged(
            QStringLiteral("The motor of run %1 was not saved: %2").arg(run.name, QString::fromStdString(e.what())));
        return false;
    }
    Q_EMIT statusChanged(QStringLiteral("Run %1 is of motor %2").arg(run.name, archive::motorName(motor)));
    model_->showMotor(row, motor);
    for (archive::RunSummary& listed : listing_.runs) {
        if (listed.folder == run.folder)
            listed.motor = motor;
    }
    fillMotorFilter();
    if (reading())
        readAgain_ = true;
    return true;
}

bool RunBrowser::compareRuns()
{
    QStringList folders = tickedFolders();
    if (folders.isEmpty() && !shownMotor().isEmpty()) {
        for (const archive::RunSummary& run : runs())
            folders << run.folder;
    }
    if (folders.isEmpty()) {
        Q_EMIT statusChanged(QStringLiteral("Tick the runs to compare, or show the runs of one motor"));
        return false;
    }
    if (!comparison_)
        comparison_ = new ComparisonView(this);
    comparison_->compare(folders);
    comparison_->show();
    comparison_->raise();
    Q_EMIT statusChanged(QStringLiteral("Comparing %1 runs").arg(folders.size()));
    return true;
}

void RunBrowser::showCount(const QStringList& problems)
{
    const std::size_t n = runs().size();
    QString text = n == 0 ? QStringLiteral("No runs kept yet")
                 : n == 1 ? QStringLiteral("1 run")
                          : QStringLiteral("%1 runs").arg(n);
    if (!problems.isEmpty())
        text += QStringLiteral("; %1 could not be read").arg(problems.size());
    count_->setText(text);
    count_->setToolTip(problems.join(QLatin1Char('\n')));
}

const std::vector<archive::RunSummary>& RunBrowser::runs() const
{
    return model_->runs();
}

QStringList RunBrowser::tickedFolders() const
{
    QStringList folders;
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (model_->ticked(row))
            folders << runs()[static_cast<std::size_t>(row)].folder;
    }
    return folders;
}

int RunBrowser::currentRow() const
{
    const QModelIndex index = list_->currentIndex();
    return index.isValid() ? index.row() : -1;
}

void RunBrowser::pick(int row)
{
    if (row < 0 || row >= model_->rowCount()) {
        Q_EMIT statusChanged(QStringLiteral("Pick a run in the list first"));
        return;
    }
    Q_EMIT showRequested(runs()[static_cast<std::size_t>(row)].folder);
}

void RunBrowser::drawTicked()
{
    const QStringList folders = tickedFolders();
    if (folders.isEmpty()) {
        Q_EMIT statusChanged(QStringLiteral("Tick the runs to draw first"));
        return;
    }
    Q_EMIT overlayRequested(folders);
}

void RunBrowser::sheetTicked()
{
    const QStringList folders = tickedFolders();
    if (folders.isEmpty()) {
        Q_EMIT statusChanged(QStringLiteral("Tick the runs to put on the sheet first"));
        return;
    }
    Q_EMIT sheetRequested(folders);
}

bool RunBrowser::confirm(const QString& question)
{
    if (options_.confirm)
        return options_.confirm(question);
    return QMessageBox::question(this, QStringLiteral("Delete a run"), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

bool RunBrowser::analyse(int row)
{
    if (row < 0 || row >= model_->rowCount()) {
        Q_EMIT statusChanged(QStringLiteral("Pick the run to analyse in the list first"));
        return false;
    }
    const archive::RunSummary& run = runs()[static_cast<std::size_t>(row)];
    if (run.ending == archive::Ending::Recording) {
        Q_EMIT statusChanged(QStringLiteral("Not analysed: run %1 is still being recorded").arg(run.name));
        return false;
    }
    if (QFileInfo::exists(QDir(run.folder).filePath(QString::fromLatin1(runfiles::kReportFileName)))) {
        Q_EMIT statusChanged(QStringLiteral("Run %1 has its report: Show draws it").arg(run.name));
        return false;
    }
    Q_EMIT analyseRequested(run.folder);
    return true;
}

bool RunBrowser::deleteRun(int row)
{
    if (row < 0 || row >= model_->rowCount()) {
        Q_EMIT statusChanged(QStringLiteral("Pick the run to delete in the list first"));
        return false;
    }
    // A copy: the list may be read again while the questions are asked.
    const archive::RunSummary run = runs()[static_cast<std::size_t>(row)];
    if (const std::optional<QString> refusal = runlist::refusalToDelete(run)) {
        Q_EMIT statusChanged(*refusal);
        return false;
    }
    const QString kept = QStringLiteral("Run %1 kept").arg(run.name);
    if (!confirm(QStringLiteral("Move run %1, started %2, with its files to the trash?")
                     .arg(run.name, runlist::startedText(run)))) {
        Q_EMIT statusChanged(kept);
        return false;
    }
    const QString trashed = moveToTrash(run.folder);
    bool gone = !trashed.isEmpty();
    if (gone) {
        Q_EMIT statusChanged(QStringLiteral("Run %1 moved to %2").arg(run.name, QDir::toNativeSeparators(trashed)));
    } else {
        if (!confirm(QStringLiteral("There is no trash to move run %1 to. Delete it for good?").arg(run.name))) {
            Q_EMIT statusChanged(kept);
            return false;
        }
        gone = QDir(run.folder).removeRecursively();
        Q_EMIT statusChanged(gone ? QStringLiteral("Run %1 deleted").arg(run.name)
                                  : QStringLiteral("Run %1 was not deleted whole: some of %2 is left")
                                        .arg(run.name, QDir::toNativeSeparators(run.folder)));
    }
    if (gone)
        Q_EMIT runDeleted(run.folder);
    refresh();
    return gone;
}

bool RunBrowser::setNote(int row, const QString& note)
{
    if (row < 0 || row >= model_->rowCount())
        return false;
    const archive::RunSummary& run = runs()[static_cast<std::size_t>(row)];
    if (note == run.note)
        return true;
    try {
        if (options_.setNote)
            options_.setNote(run.folder, note);
        else
            archive::setNote(run.folder, note);
    } catch (const std::exception& e) {
        Q_EMIT statusChanged(
            QStringLiteral("The note of run %1 was not saved: %2").arg(run.name, QString::fromStdString(e.what())));
        return false;
    }
    Q_EMIT statusChanged(QStringLiteral("Note of run %1 saved").arg(run.name));
    model_->showNote(row, note);
    // A reading under way may have read the note before it was written.
    if (reading())
        readAgain_ = true;
    return true;
}

} // namespace zelvar
