#include "records/ReportReader.h"

#include "platform/NumberText.h"
#include "platform/RuntimeError.h"
#include "records/RunFiles.h"

#include <QFile>
#include <QLocale>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
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
                           + printable(field.text.toStdString()) + "\" is not a number");
    return value;
}

// The eight numbers of a data line as the analysis writes them (bare, plain
// digits), without making a text of each: a long run's report has millions
// of them. False for anything else, which then takes the careful way that
// also says what is wrong.
bool plainNumbers(const QByteArray& line, std::array<double, 8>& v)
{
    const char* at = line.constData();
    const char* const end = at + line.size();
    for (std::size_t i = 0; i < v.size(); ++i) {
        while (at < end && *at == ' ')
            ++at;
        const auto [next, error] = std::from_chars(at, end, v[i]);
        if (error != std::errc() || next == at || !std::isfinite(v[i]))
            return false;
        at = next;
        while (at < end && *at == ' ')
            ++at;
        if (i + 1 < v.size()) {
            if (at == end || *at != ',')
                return false;
            ++at;
        }
    }
    return at == end;
}

std::array<double, 8> dataLine(const QByteArray& line, const QString& path, qsizetype lineNumber)
{
    std::array<double, 8> v{};
    if (plainNumbers(line, v))
        return v;
    const std::vector<CsvField> fields = splitLine(line);
    if (fields.size() != std::size(kReportHeader))
        throw RuntimeError(quoted(path) + " line " + std::to_string(lineNumber) + ": " + std::to_string(fields.size())
                           + " items where a report line has 8");
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = numberIn(fields[i], path, lineNumber, kReportHeader[i]);
    return v;
}

// The report's lines in order; `row` is called for the data lines from
// `first` to `last`, the others are only counted. Reading stops after `last`,
// or when `row` returns false, when `trailer` is false.
Report readLines(const QString& path, std::size_t first, std::size_t last, bool trailer,
                 const std::function<bool(std::size_t, const ReportPoint&)>& row)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError("cannot open " + quoted(path) + ": " + file.errorString().toStdString());
    // Line by line: a report is as long as its run, which only the disk
    // bounds. A block at a time, and into one line buffer, so that a line
    // costs no allocation of its own.
    qsizetype lineNumber = 0;
    QByteArray block;
    qsizetype at = 0;
    const auto nextLine = [&](QByteArray& line) {
        line.resize(0);
        bool any = false;
        for (;;) {
            if (at == block.size()) {
                block = file.read(1 << 20);
                at = 0;
                if (block.isEmpty())
                    break;
            }
            const char* start = block.constData() + at;
            const auto* newline = static_cast<const char*>(std::memchr(start, '\n', block.size() - at));
            const qsizetype length = newline != nullptr ? newline - start : block.size() - at;
            line.append(start, length);
            any = true;
            at += length;
            if (newline != nullptr) {
                ++at;
                break;
            }
        }
        if (!any)
            return false;
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
    std::size_t index = 0;
    while (nextLine(line)) {
        if (line.isEmpty()) {
            blank = true;
            break;
        }
        if (index >= first && index <= last) {
            const std::array<double, 8> v = dataLine(line, path, lineNumber);
            if (!row(index, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]}) && !trailer)
                return report;
        }
        ++index;
        if (!trailer && index > last)
            return report;
    }
    if (!trailer)
        throw RuntimeError(quoted(path) + " holds " + std::to_string(index) + " data lines, not "
                           + std::to_string(last + 1) + ": it was replaced");
    // The empty line, then the trailer's header and values.
    const qsizetype lastRow = blank ? lineNumber - 1 : lineNumber;
    if (!blank || !nextLine(line) || !isTextLine(splitLine(line), kTrailerHeader, std::size(kTrailerHeader))
        || !nextLine(line))
        throw RuntimeError(quoted(path) + " has no trailer with the flywheel values after line "
                           + std::to_string(lastRow) + ": the analysis did not finish it");
    const std::vector<CsvField> trailerFields = splitLine(line);
    if (trailerFields.size() != std::size(kTrailerHeader))
        throw RuntimeError(quoted(path) + " line " + std::to_string(lineNumber) + ": "
                           + std::to_string(trailerFields.size()) + " items where the trailer has 4");
    report.radiusMm = numberIn(trailerFields[0], path, lineNumber, "Flywheel Radius");
    report.weightG = numberIn(trailerFields[1], path, lineNumber, "Flywheel Weight");
    report.escNeutral = trailerFields[2].text;
    report.escFull = trailerFields[3].text;
    return report;
}

constexpr std::size_t kEveryLine = static_cast<std::size_t>(-1);

} // namespace

double Report::inertia() const
{
    const double r = radiusMm / 1000.0;
    return weightG / 1000.0 * r * r / 2.0;
}

Report readReport(const QString& path)
{
    std::vector<ReportPoint> rows;
    Report report = readLines(path, 0, kEveryLine, true, [&](std::size_t, const ReportPoint& p) {
        rows.push_back(p);
        return true;
    });
    report.rows = std::move(rows);
    return report;
}

Report streamReport(const QString& path, const std::function<void(std::size_t, const ReportPoint&)>& row)
{
    return readLines(path, 0, kEveryLine, true, [&](std::size_t index, const ReportPoint& p) {
        row(index, p);
        return true;
    });
}

std::vector<ReportPoint> readReportRows(const QString& path, std::size_t first, std::size_t last,
                                        const std::function<bool(std::size_t, const ReportPoint&)>& more)
{
    std::vector<ReportPoint> rows;
    if (first > last)
        return rows;
    readLines(path, first, last, false, [&](std::size_t index, const ReportPoint& p) {
        rows.push_back(p);
        return !more || more(index, p);
    });
    return rows;
}

} // namespace zelvar::curves
