#include "charts/RunSheet.h"

#include "charts/ComparisonTable.h"
#include "charts/MotorMapPlot.h"
#include "charts/MotorSummary.h"
#include "charts/UnitChoice.h"

#include "archive/RunArchive.h"
#include "archive/RunJson.h"
#include "curves/FigureFormats.h"
#include "sets/FigureSpread.h"
#include "sets/MotorMap.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPageSize>
#include <QPdfWriter>

#include "charts/Plot.h"

#include <algorithm>
#include <exception>

namespace zelvar::charts {

namespace {

// The page is laid out in pixels of 1/96 inch, the unit the charts are
// drawn in on a screen, so that their fonts and pens keep their sizes.
constexpr int kResolution = 96;
constexpr int kMargin = kSheetMargin;
constexpr int kLabelWidth = 105;
constexpr int kLineHeight = 15;

QString number(double value, int digits = 6)
{
    return QLocale::c().toString(value, 'g', digits);
}

QString programLine()
{
    return QStringLiteral("Zelvar QT4 Data %1").arg(QStringLiteral(ZELVAR_VERSION));
}

// Labels down the left, values beside them, wrapped; returns the height.
int drawFacts(QPainter& painter, const QRect& area, const std::vector<std::pair<QString, QString>>& facts)
{
    painter.save();
    const QFont labels = sheetFont(11, true);
    const QFont values = sheetFont(11);
    int y = area.top();
    for (const auto& [label, value] : facts) {
        painter.setFont(values);
        const QRect place(area.left() + kLabelWidth, y, area.width() - kLabelWidth, 1000);
        const QRect drawn = painter.boundingRect(place, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, value);
        painter.setPen(Qt::black);
        painter.drawText(place, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, value);
        painter.setFont(labels);
        painter.setPen(QColor(80, 80, 80));
        painter.drawText(QRect(area.left(), y, kLabelWidth - 6, kLineHeight), Qt::AlignLeft | Qt::AlignTop, label);
        y += std::max(kLineHeight, drawn.height()) + 1;
    }
    painter.restore();
    return y - area.top();
}

// Paragraphs in `area`'s top, wrapped; returns the height.
int drawText(QPainter& painter, const QRect& area, const QString& text, const QFont& font,
             const QColor& colour = Qt::black)
{
    painter.save();
    painter.setFont(font);
    painter.setPen(colour);
    const QRect drawn = painter.boundingRect(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    painter.restore();
    return drawn.height();
}

// The two charts one above the other in `place`, as vectors: the report
// drawn with its points, the overlays over it.
void drawCharts(QCPPainter& painter, const QRect& place, const curves::ReportCurves& report,
                const std::vector<curves::ReportCurves>& overlays, const curves::MotorFigures& figures, Notes notes)
{
    const int upper = place.height() * 11 / 20;
    const QRect places[] = {QRect(place.left(), place.top(), place.width(), upper),
                            QRect(place.left(), place.top() + upper, place.width(), place.height() - upper)};
    for (int i = 0; i < 2; ++i) {
        QCustomPlot plot;
        plot.resize(places[i].size());
        if (i == 0)
            drawTorquePower(plot, report, overlays, &figures, notes);
        else
            drawEfficiency(plot, report, overlays, &figures, notes);
        painter.save();
        painter.translate(places[i].topLeft());
        plot.toPainter(&painter, places[i].width(), places[i].height());
        painter.restore();
    }
}

void drawFooter(QPainter& painter, const QRect& page, const QStringList& lines)
{
    const QFont font = sheetFont(9);
    const QString text = lines.join(QLatin1Char('\n'));
    painter.save();
    painter.setFont(font);
    const QRect area(kMargin, 0, page.width() - 2 * kMargin, page.height());
    const int height = painter.boundingRect(area, Qt::AlignLeft | Qt::TextWordWrap, text).height();
    painter.restore();
    const int top = page.height() - kMargin / 2 - height;
    painter.setPen(QColor(170, 170, 170));
    painter.drawLine(kMargin, top - 4, page.width() - kMargin, top - 4);
    drawText(painter, QRect(kMargin, top, area.width(), height + 2), text, font, QColor(60, 60, 60));
}

int footerHeight(const QStringList& lines, int width)
{
    const QFontMetrics metrics(sheetFont(9));
    return metrics.boundingRect(QRect(0, 0, width, 1000), Qt::TextWordWrap, lines.join(QLatin1Char('\n'))).height()
         + kMargin / 2 + 8;
}

QString footerLine(const SheetRun& run, const SheetFacts& facts)
{
    return QStringLiteral("Report %1; %2")
        .arg(QDir::toNativeSeparators(QFileInfo(run.reportPath).absoluteFilePath()), facts.spinUp);
}

QString printedLine()
{
    return QStringLiteral("Printed %1 by %2")
        .arg(QDateTime::currentDateTime()
                 .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                 .toString(Qt::ISODate),
             programLine());
}

void drawSingleSheet(QCPPainter& painter, const QRect& page, const SheetRun& run)
{
    const SheetFacts facts = sheetFacts(run);
    const int width = page.width() - 2 * kMargin;
    int y = kMargin;
    y += drawText(painter, QRect(kMargin, y, width, 200), QStringLiteral("Run sheet: %1").arg(facts.name),
                  sheetFont(17, true));
    y += drawText(painter, QRect(kMargin, y, width, 100), programLine(), sheetFont(10), QColor(80, 80, 80)) + 8;
    const int runWidth = width * 57 / 100;
    const int left = drawFacts(painter, QRect(kMargin, y, runWidth - 12, 600), facts.run);
    const int right = drawFacts(painter, QRect(kMargin + runWidth, y, width - runWidth, 600), facts.rig);
    y += std::max(left, right) + 8;

    const int figures = figuresHeight(run.figures, width);
    drawFigures(painter, QRect(kMargin, y, width, figures), run.figures);
    y += figures + 6;

    const QStringList footer{footerLine(run, facts), printedLine()};
    const int chartsHeight = page.height() - y - footerHeight(footer, width);
    // The charts named as the run is, not as every report's file.
    curves::ReportCurves named = run.curves;
    named.name = facts.name;
    drawCharts(painter, QRect(kMargin, y, width, chartsHeight), named, {}, run.figures, Notes::UnderTitle);
    drawFooter(painter, page, footer);
}

// The figures of every run side by side, a column each, and their mean
// and standard deviation; each cell the value over its ±.
int drawComparisonTable(QPainter& painter, const QRect& area, const std::vector<SheetRun>& runs)
{
    std::vector<curves::MotorFigures> figures;
    std::vector<std::vector<curves::FigureRow>> columns;
    for (const SheetRun& run : runs) {
        figures.push_back(run.figures);
        columns.push_back(shownFigureRows(run.figures));
    }
    const std::vector<sets::FigureRowSpread> spreads = shownSpreads(figures);
    const int nameWidth = 150, unitWidth = 52;
    const int columnCount = static_cast<int>(runs.size()) + 1;
    const int cellWidth = (area.width() - nameWidth - unitWidth) / columnCount;
    const int rowHeight = 2 * 12 + 4;
    const QFont font = sheetFont(10), bold = sheetFont(10, true), small = sheetFont(9);
    painter.save();
    painter.setPen(Qt::black);
    const auto cell = [&](int column, int y, const QString& value, const QString& sigma, bool mean) {
        const QRect place(area.left() + nameWidth + column * cellWidth, y, cellWidth - 6, rowHeight);
        painter.setFont(mean ? bold : font);
        painter.drawText(place.adjusted(0, 1, 0, 0), Qt::AlignRight | Qt::AlignTop, value);
        painter.setFont(small);
        painter.drawText(place.adjusted(0, 0, 0, -2), Qt::AlignRight | Qt::AlignBottom, sigma);
    };
    int y = area.top();
    painter.setFont(bold);
    painter.drawText(QRect(area.left(), y, nameWidth, kLineHeight), Qt::AlignLeft, QStringLiteral("Figure"));
    for (int c = 0; c < columnCount; ++c) {
        const QString heading = c + 1 < columnCount ? QStringLiteral("Run %1").arg(c + 1) : QStringLiteral("Mean ± SD");
        painter.drawText(QRect(area.left() + nameWidth + c * cellWidth, y, cellWidth - 6, kLineHeight), Qt::AlignRight,
                         heading);
    }
    painter.drawText(QRect(area.right() - unitWidth + 8, y, unitWidth - 8, kLineHeight), Qt::AlignLeft,
                     QStringLiteral("Unit"));
    y += kLineHeight + 2;
    for (std::size_t r = 0; r < spreads.size(); ++r) {
        const sets::FigureRowSpread& row = spreads[r];
        if (r % 2 == 0)
            painter.fillRect(QRect(area.left(), y, area.width(), rowHeight), QColor(243, 243, 243));
        painter.setPen(Qt::black);
        painter.setFont(font);
        painter.drawText(QRect(area.left() + 2, y + 1, nameWidth, rowHeight), Qt::AlignLeft | Qt::AlignTop,
                         row.atRpm ? QStringLiteral("    at") : row.name);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const curves::FigureText& text = columns[c][r].text;
            if (text.refused.isEmpty())
                cell(static_cast<int>(c), y, text.value, text.sigma, false);
            else
                cell(static_cast<int>(c), y, QStringLiteral("refused"), QString(), false);
        }
        QString sigma = row.text.sigma;
        if (row.spread && row.refused > 0)
            sigma += QStringLiteral(" (%1 runs)").arg(row.spread->count);
        cell(columnCount - 1, y, row.spread ? row.text.value : QStringLiteral("none"), sigma.trimmed(), true);
        painter.setFont(font);
        painter.drawText(QRect(area.right() - unitWidth + 8, y + 1, unitWidth - 8, rowHeight),
                         Qt::AlignLeft | Qt::AlignTop, row.unit);
        y += rowHeight;
    }
    painter.restore();
    return y - area.top();
}

int comparisonTableHeight()
{
    return kLineHeight + 2 + static_cast<int>(curves::figureRows({}).size()) * (2 * 12 + 4);
}

// The motor's map of the runs, every spin-up of each read from its report
// again; a report that cannot be read refuses the map with the reason.
sets::MotorMap comparisonMap(const std::vector<SheetRun>& runs)
{
    std::vector<sets::SweepSpinUp> sweep;
    for (const SheetRun& run : runs) {
        try {
            std::vector<sets::SweepSpinUp> spinUps = sets::sweepOfReport(run.reportPath, sheetFacts(run).name);
            sweep.insert(sweep.end(), std::make_move_iterator(spinUps.begin()), std::make_move_iterator(spinUps.end()));
        } catch (const std::exception& e) {
            sets::MotorMap refused;
            refused.refused = QString::fromUtf8(e.what());
            return refused;
        }
    }
    return sets::motorMap(sweep);
}

// The comparison's second page: the motor's map, its best points listed
// above it.
void drawMapPage(QCPPainter& painter, const QRect& page, const sets::MotorMap& map)
{
    const int width = page.width() - 2 * kMargin;
    int y = kMargin;
    y += drawText(painter, QRect(kMargin, y, width, 200), QStringLiteral("The motor's map"), sheetFont(17, true));
    y += drawText(painter, QRect(kMargin, y, width, 100), programLine(), sheetFont(10), QColor(80, 80, 80)) + 8;
    QStringList best;
    for (const QString& line : sets::bestPointLines(map))
        best << QStringLiteral("Best efficiency at %1").arg(line);
    y += drawText(painter, QRect(kMargin, y, width, 300), best.join(QLatin1Char('\n')), sheetFont(11)) + 8;
    const int height = std::min(page.height() - y - kMargin, width);
    drawMotorMapAt(painter, QRect(kMargin, y, width, height), map, Notes::UnderTitle);
}

void drawComparisonSheet(QCPPainter& painter, const QRect& page, const std::vector<SheetRun>& runs,
                         const sets::MotorMap& map)
{
    const int width = page.width() - 2 * kMargin;
    int y = kMargin;
    y += drawText(painter, QRect(kMargin, y, width, 200), QStringLiteral("Comparison of %1 runs").arg(runs.size()),
                  sheetFont(17, true));
    y += drawText(painter, QRect(kMargin, y, width, 100), programLine(), sheetFont(10), QColor(80, 80, 80)) + 8;

    std::vector<std::pair<QString, QString>> list;
    QStringList footer;
    QStringList labels;
    std::vector<curves::ReportCurves> drawn;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const SheetFacts facts = sheetFacts(runs[i]);
        QStringList parts{facts.name};
        for (const auto& [label, value] : facts.run) {
            if (label == QLatin1String("Note"))
                parts.front() += QStringLiteral(" — ") + value;
            else if (label == QLatin1String("Started") || label == QLatin1String("Duration")
                     || label == QLatin1String("Records"))
                parts << QStringLiteral("%1 %2").arg(label.toLower(), value);
        }
        parts << QStringLiteral("flywheel %1 mm, %2 g")
                     .arg(number(runs[i].curves.report.radiusMm), number(runs[i].curves.report.weightG));
        list.emplace_back(QStringLiteral("Run %1").arg(i + 1), parts.join(QStringLiteral("; ")));
        footer << QStringLiteral("Run %1: %2").arg(i + 1).arg(footerLine(runs[i], facts));
        // Legends must tell the runs apart, even two with the same note.
        QString label = facts.label;
        if (labels.contains(label))
            label += QStringLiteral(" (%1)").arg(facts.name);
        labels << label;
        drawn.push_back(runs[i].curves);
        drawn.back().name = label;
    }
    y += drawFacts(painter, QRect(kMargin, y, width, 600), list) + 6;
    footer << (map.drawn() ? QStringLiteral("The motor's map of these runs is on page 3, after their statistics.")
                           : QStringLiteral("No motor's map: %1.").arg(map.refused));
    footer << printedLine();

    const int table = comparisonTableHeight();
    const int chartsHeight = page.height() - y - table - 8 - footerHeight(footer, width);
    const curves::ReportCurves first = drawn.front();
    drawn.erase(drawn.begin());
    // The first run's notes on how its curves were made would say nothing
    // of the others': the curves get the room.
    drawCharts(painter, QRect(kMargin, y, width, chartsHeight), first, drawn, runs.front().figures, Notes::InToolTip);
    y += chartsHeight + 8;
    drawComparisonTable(painter, QRect(kMargin, y, width, table), runs);
    drawFooter(painter, page, footer);
}

} // namespace

QFont sheetFont(int pixels, bool bold)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

std::optional<Paper> paperFromText(const QString& text)
{
    if (text.compare(QLatin1String("a4"), Qt::CaseInsensitive) == 0)
        return Paper::A4;
    if (text.compare(QLatin1String("letter"), Qt::CaseInsensitive) == 0)
        return Paper::Letter;
    return std::nullopt;
}

SheetFacts sheetFacts(const SheetRun& run)
{
    SheetFacts facts;
    const curves::Report& report = run.curves.report;
    facts.name = !run.folder.isEmpty() ? QFileInfo(QDir(run.folder).absolutePath()).fileName()
                                       : QFileInfo(run.reportPath).fileName();
    facts.label = facts.name;
    QString interval;
    QString typed;
    if (run.folder.isEmpty()) {
        facts.run.emplace_back(QStringLiteral("Report"),
                               QStringLiteral("not in a run folder: its start, port and ending are not known"));
    } else {
        facts.run.emplace_back(QStringLiteral("Run folder"), QDir::toNativeSeparators(QDir(run.folder).absolutePath()));
        try {
            const archive::RunJson json = archive::readRunJson(run.folder);
            const archive::RunSummary summary = archive::summaryOf(run.folder, json);
            const archive::RunStart start = json.start();
            if (start.started.isValid()) {
                const QDateTime local = start.started.toLocalTime();
                facts.run.emplace_back(QStringLiteral("Started"),
                                       local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate));
            }
            facts.label = runLabel(summary.note, start.started.isValid() ? summary.startedText() : facts.name);
            if (const std::optional<double> seconds = summary.durationSeconds())
                facts.run.emplace_back(QStringLiteral("Duration"), QStringLiteral("%1 (%2 s)")
                                                                       .arg(summary.durationText())
                                                                       .arg(QLocale::c().toString(*seconds, 'f', 1)));
            if (summary.records)
                facts.run.emplace_back(QStringLiteral("Records"), QString::number(*summary.records));
            if (start.port > 0 || !start.device.isEmpty())
                facts.run.emplace_back(QStringLiteral("Port"),
                                       QStringLiteral("COM%1 (%2)").arg(start.port).arg(start.device));
            if (!start.lineSettings.isEmpty())
                facts.run.emplace_back(QStringLiteral("Line settings"), start.lineSettings);
            QString ended = archive::endingText(summary.ending);
            if (!summary.reason.isEmpty())
                ended += QStringLiteral(": ") + summary.reason;
            facts.run.emplace_back(QStringLiteral("Ended"), ended);
            if (!summary.note.trimmed().isEmpty())
                facts.run.emplace_back(QStringLiteral("Note"), summary.note.simplified());
            if (!json.program().isEmpty() || !start.programVersion.isEmpty())
                facts.run.emplace_back(QStringLiteral("Recorded by"),
                                       QStringLiteral("%1 %2").arg(json.program(), start.programVersion).trimmed());
            interval = start.interval;
            typed = summary.values.typedMark();
        } catch (const std::exception& e) {
            facts.run.emplace_back(QStringLiteral("run.json"), QString::fromUtf8(e.what()));
        }
    }
    if (run.folder.isEmpty())
        facts.run.emplace_back(QStringLiteral("Records"), QString::number(run.curves.records));

    // The values the report was computed with, from its trailer.
    facts.rig.emplace_back(QStringLiteral("Flywheel"), QStringLiteral("radius %1 mm, weight %2 g")
                                                           .arg(number(report.radiusMm), number(report.weightG)));
    facts.rig.emplace_back(QStringLiteral("Inertia J"),
                           QStringLiteral("½·m·r² = %1 kg·m²").arg(QLocale::c().toString(report.inertia(), 'e', 4)));
    facts.rig.emplace_back(QStringLiteral("ESC neutral"),
                           report.escNeutral.isEmpty() ? QStringLiteral("-") : report.escNeutral);
    facts.rig.emplace_back(QStringLiteral("ESC full"), report.escFull.isEmpty() ? QStringLiteral("-") : report.escFull);
    if (!interval.isEmpty())
        facts.rig.emplace_back(QStringLiteral("Interval"), interval);
    if (!typed.isEmpty())
        facts.rig.emplace_back(QStringLiteral("Typed values"), typed);

    facts.spinUp = run.curves.spinUp
                     ? QStringLiteral("drawn: %1").arg(curves::describeSpinUp(run.curves.spinUps, *run.curves.spinUp))
                     : QStringLiteral("no spin-up in the report");
    return facts;
}

QString sheetFileName(const QString& reportPath, const QString& folder, std::size_t runs)
{
    if (runs > 1)
        return QStringLiteral("comparison-sheet.pdf");
    const QString base = !folder.isEmpty() ? QFileInfo(QDir(folder).absolutePath()).fileName()
                                           : QFileInfo(reportPath).completeBaseName();
    return base + QStringLiteral("-sheet.pdf");
}

QString writeRunSheet(const QString& path, const std::vector<SheetRun>& runs, Paper paper)
{
    if (runs.empty())
        return QStringLiteral("no run to put on a sheet");
    if (runs.size() > kMaxSheetRuns)
        return QStringLiteral("a comparison sheet holds at most %1 runs, not %2").arg(kMaxSheetRuns).arg(runs.size());
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(paper == Paper::Letter ? QPageSize::Letter : QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(kResolution);
    writer.setCreator(programLine());
    writer.setTitle(runs.size() == 1 ? QStringLiteral("Run sheet: %1").arg(sheetFacts(runs.front()).name)
                                     : QStringLiteral("Comparison of %1 runs").arg(runs.size()));
    QCPPainter painter;
    if (!painter.begin(&writer))
        return QStringLiteral("cannot write \"%1\"").arg(QDir::toNativeSeparators(path));
    // Lines and text as vectors, never cached into pixels.
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect page(0, 0, writer.width(), writer.height());
    if (runs.size() == 1) {
        drawSingleSheet(painter, page, runs.front());
    } else {
        // Runs at one supply, the usual repeatability set, give no map: the
        // first page says so.
        const sets::MotorMap map = comparisonMap(runs);
        drawComparisonSheet(painter, page, runs, map);
        // The statistics get a page of their own, so that the charts keep
        // the first page's room; the map follows them.
        if (writer.newPage())
            drawComparisonPage(painter, page, sheetComparison(runs));
        if (map.drawn() && writer.newPage())
            drawMapPage(painter, page, map);
    }
    if (!painter.end())
        return QStringLiteral("cannot write \"%1\"").arg(QDir::toNativeSeparators(path));
    return {};
}

} // namespace zelvar::charts
