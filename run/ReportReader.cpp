#include "run/ReportReader.h"

#include "run/RunFiles.h"
#include "platform/RuntimeError.h"

#include <QFile>
#include <QLocale>

#include <cmath>
#include <iterator>

namespace zelvar::curves {

namespace {

using runfiles::kReportHeader;
using runfiles::kTrailerHeader;

struct CsvField {
    bool quoted = false;
    QString text;
};

// One line of the report's encoding: items separated by ",", a text in double
// quotes with a quote inside it doubled, a number bare.
std::vector<CsvField> splitLine(const QByteArray& line)
{
    std::vector<CsvField> fields;
    qsizetype at = 0;
    const qsizetype size = line.size();
    for (;;) {
        CsvField field;
        while (at < size && line[at] == ' ')
            ++at;
        if (at < size && line[at] == '"') {
            field.quoted = true;
            QByteArray text;
            ++at;
            while (at < size) {
                if (line[at] == '"') {
                    if (at + 1 < size && line[at + 1] == '"') {
                        text += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                text += line[at++];
            }
            field.text = QString::fromUtf8(text);
            while (at < size && line[at] != ',')
                ++at;
        } else {
            const qsizetype start = at;
            while (at < size && line[at] != ',')
                ++at;
            field.text = QString::fromUtf8(line.mid(start, at - start)).trimmed();
        }
        fields.push_back(std::move(field));
        if (at >= size)
            break;
        ++at; // the comma
    }
    return fields;
}

std::string quoted(const QString& path)
{
    return "\"" + path.toStdString() + "\"";
}

bool isTextLine(const std::vector<CsvField>& fields, const char* const* texts, std::size_t count)
{
    if (fields.size() != count)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!fields[i].quoted || fields[i].text != QLatin1String(texts[i]))
            return false;
    }
    return true;
}

double numberIn(const CsvField& field, const QString& path, qsizetype lineNumber, const char* what)
{
    bool ok = false;
    const double value = field.quoted ? 0.0 : QLocale::c().toDouble(field.text, &ok);
    if (!ok || !std::isfinite(value))
        throw RuntimeError(quoted(path) + " line " + std::to_string(lineNumber) + ": " + what + " \""
                           + field.text.toStdString() + "\" is not a number");
    return value;
}

} // namespace

double Report::inertia() const
{
    const double r = radiusMm / 1000.0;
    return weightG / 1000.0 * r * r / 2.0;
}

Report readReport(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError("cannot open " + quoted(path) + ": " + file.errorString().toStdString());
    // Line by line: a report is as long as its run, which only the disk
    // bounds.
    qsizetype lineNumber = 0;
    const auto nextLine = [&](QByteArray& line) {
        if (file.atEnd())
            return false;
        line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        ++lineNumber;
        return true;
    };

    QByteArray line;
    if (!nextLine(line) || !isTextLine(splitLine(line), kReportHeader, std::size(kReportHeader)))
        throw RuntimeError(quoted(path) + " is not a report: its first line is not the report header");

    Report report;
    bool blank = false;
    while (nextLine(line)) {
        if (line.isEmpty()) {
            blank = true;
            break;
        }
        const std::vector<CsvField> fields = splitLine(line);
        if (fields.size() != std::size(kReportHeader))
            throw RuntimeError(quoted(path) + " line " + std::to_string(lineNumber) + ": "
                               + std::to_string(fields.size()) + " items where a report line has 8");
        std::array<double, 8> v{};
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = numberIn(fields[i], path, lineNumber, kReportHeader[i]);
        report.rows.push_back({v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]});
    }
    // The empty line, then the trailer's header and values.
    const qsizetype lastRow = blank ? lineNumber - 1 : lineNumber;
    if (!blank || !nextLine(line) || !isTextLine(splitLine(line), kTrailerHeader, std::size(kTrailerHeader))
        || !nextLine(line))
        throw RuntimeError(quoted(path) + " has no trailer with the flywheel values after line "
                           + std::to_string(lastRow) + ": the analysis did not finish it");
    const std::vector<CsvField> trailer = splitLine(line);
    if (trailer.size() != std::size(kTrailerHeader))
        throw RuntimeError(quoted(path) + " line " + std::to_string(lineNumber) + ": "
                           + std::to_string(trailer.size()) + " items where the trailer has 4");
    report.radiusMm = numberIn(trailer[0], path, lineNumber, "Flywheel Radius");
    report.weightG = numberIn(trailer[1], path, lineNumber, "Flywheel Weight");
    report.escNeutral = trailer[2].text;
    report.escFull = trailer[3].text;
    return report;
}

} // namespace zelvar::curves
