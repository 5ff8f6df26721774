#include "ArchiveCommands.h"

#include "platform/NumberText.h"
#include "platform/RuntimeError.h"

#include <QFile>

#include <algorithm>

namespace zelvar::analyze {

QString writeOutputFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return QStringLiteral("cannot write \"%1\": %2").arg(path, file.errorString());
    return {};
}

namespace {

const QString kUnknown = QStringLiteral("-");

std::string text(const QString& s)
{
    return s.toStdString();
}

} // namespace

bool differ(const FlywheelAndEsc& values, const archive::RunValues& stored)
{
    const auto same = [](const Decimal& used, const std::optional<double>& kept) {
        return kept && used.toDouble() == *kept;
    };
    return !same(values.radiusMm, stored.radiusMm) || !same(values.weightG, stored.weightG)
        || values.escNeutral != stored.escNeutral || values.escFull != stored.escFull;
}

Decimal flywheelValue(const QString& option, const std::optional<QString>& given, std::optional<double> stored,
                      const QString& runJson)
{
    try {
        if (given)
            return readBox(*given);
        if (stored)
            return Decimal::fromDouble(*stored);
    } catch (const RuntimeError& e) {
        throw RuntimeError("--" + text(option) + ": " + e.what()
                           + (given ? std::string() : " (in \"" + text(runJson) + "\")"));
    }
    if (runJson.isEmpty())
        throw RuntimeError("--" + text(option) + " is required (see --help)");
    throw RuntimeError("--" + text(option) + " is required: " + text(runJson) + " has no flywheel " + text(option));
}

std::optional<ListFormat> listFormatFromText(const QString& text)
{
    if (text == QLatin1String("table"))
        return ListFormat::Table;
    if (text == QLatin1String("tsv"))
        return ListFormat::Tsv;
    return std::nullopt;
}

QStringList listHeader()
{
    return {QStringLiteral("Run"),     QStringLiteral("Started"), QStringLiteral("Duration"),
            QStringLiteral("Records"), QStringLiteral("State"),   QStringLiteral("Note")};
}

QStringList runFields(const archive::RunSummary& run)
{
    const QString duration = run.durationText();
    return {run.name, run.started.isValid() ? run.startedText() : kUnknown, duration.isEmpty() ? kUnknown : duration,
            run.records ? QString::number(*run.records) : kUnknown, archive::endingText(run.ending),
            // A note may hold several lines, tabs and runs of blanks; the
            // list keeps a run on one line, its columns two blanks apart.
            run.note.simplified()};
}

QString runTable(const std::vector<archive::RunSummary>& runs, ListFormat format)
{
    std::vector<QStringList> lines{listHeader()};
    for (const archive::RunSummary& run : runs)
        lines.push_back(runFields(run));
    // Every column but the last (the note) as wide as its widest field.
    std::vector<qsizetype> widths(lines.front().size() - 1, 0);
    for (const QStringList& fields : lines) {
        for (std::size_t i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], fields[static_cast<qsizetype>(i)].size());
    }
    QString table;
    for (const QStringList& fields : lines) {
        QString line;
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (format == ListFormat::Tsv) {
                line += (i > 0 ? QStringLiteral("\t") : QString()) + fields[i];
                continue;
            }
            const bool last = i + 1 == fields.size();
            line += last ? fields[i] : fields[i].leftJustified(widths[static_cast<std::size_t>(i)] + 2);
        }
        // A run without a note ends in its padding otherwise.
        table += (format == ListFormat::Table ? line.trimmed() : line) + QLatin1Char('\n');
    }
    return table;
}

} // namespace zelvar::analyze
