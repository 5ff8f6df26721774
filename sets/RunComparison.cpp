#include "sets/RunComparison.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace zelvar::sets {

namespace {

// The keys of --summary-json with a ± beside them, and the decimals they
// are printed to (what the frames resolve; the loss fit's coefficients in
// significant digits).
struct KeyDigits {
    const char* key;
    int decimals; // -1: four significant digits
};
constexpr KeyDigits kKeys[] = {
    {"kv_rpm_per_v", 1},        {"resistance_ohm", 4},      {"no_load_current_a", 3}, {"kt_mNm_per_a", 3},
    {"peak_torque_mNm", 1},     {"peak_torque_rpm", 0},     {"peak_power_w", 2},      {"peak_power_rpm", 0},
    {"peak_efficiency_pct", 1}, {"peak_efficiency_rpm", 0}, {"loss_c0_mNm", -1},      {"loss_c1_mNm_s", -1},
    {"loss_c2_mNm_s2", -1},
};
constexpr const char* kKvKey = "kv_rpm_per_v";

int decimalsOf(const QString& key)
{
    for (const KeyDigits& k : kKeys) {
        if (key == QLatin1String(k.key))
            return k.decimals;
    }
    return -1;
}

QString number(double value, int decimals)
{
    const QLocale c = QLocale::c();
    if (decimals < 0)
        return c.toString(value, 'g', 4);
    return c.toString(value, 'f', decimals);
}

// The standard deviation gets one digit more than the figure: it is mostly
// smaller than the figure's last digit for a motor that repeats.
QString deviation(double value, int decimals)
{
    return number(value, decimals < 0 ? decimals : decimals + 1);
}

std::optional<double> numberIn(const QJsonObject& o, const QString& key)
{
    const QJsonValue v = o.value(key);
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

QJsonValue orNull(const std::optional<double>& v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

QString isoTime(const QDateTime& time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// A CSV field: quoted when it holds a separator, a quote or a line end.
QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString deviationText(double pct)
{
    return (pct >= 0 ? QStringLiteral("+") : QString()) + QLocale::c().toString(pct, 'f', 2) + QStringLiteral(" %");
}

QString driftText(Drift drift)
{
    switch (drift) {
    case Drift::Up:
        return QStringLiteral("up");
    case Drift::Down:
        return QStringLiteral("down");
    case Drift::None:
        break;
    }
    return QString();
}

QStringList figureKeys()
{
    QStringList keys;
    for (const KeyDigits& k : kKeys)
        keys << QString::fromLatin1(k.key);
    return keys;
}

std::optional<double> NameplateKv::deviationPct() const
{
    if (!measured || !nameplate || *measured <= 0.0)
        return std::nullopt;
    return 100.0 * (*nameplate - *measured) / *measured;
}

std::size_t RunComparison::included() const
{
    return static_cast<std::size_t>(
        std::count_if(runs.begin(), runs.end(), [](const ComparedRun& r) { return r.included; }));
}

NameplateKv RunComparison::nameplate(std::size_t run) const
{
    const ComparedRun& r = runs.at(run);
    const QString kv = QString::fromLatin1(kKvKey);
    return {numberIn(r.figures, kv), numberIn(r.figures, kv + QStringLiteral("_sigma")), r.nameplateKv};
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

Drift driftOf(const std::vector<double>& values, const std::vector<double>& sigmas)
{
    const std::size_t n = values.size();
    if (n < 3 || sigmas.size() != n)
        return Drift::None;
    // The slope of the least-squares line through (k, value_k), k = 0 .. n−1.
    const double meanX = static_cast<double>(n - 1) / 2.0;
    double meanY = 0.0, meanSigma = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        meanY += values[k];
        meanSigma += sigmas[k];
    }
    meanY /= static_cast<double>(n);
    meanSigma /= static_cast<double>(n);
    double sxy = 0.0, sxx = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double dx = static_cast<double>(k) - meanX;
        sxy += dx * (values[k] - meanY);
        sxx += dx * dx;
    }
    const double change = sxy / sxx * static_cast<double>(n - 1);
    if (std::abs(change) <= 2.0 * meanSigma)
        return Drift::None;
    return change > 0 ? Drift::Up : Drift::Down;
}

std::vector<bool> outliersOf(const std::vector<double>& values, const std::vector<double>& sigmas)
{
    const std::size_t n = values.size();
    std::vector<bool> flagged(n, false);
    if (n < 3 || sigmas.size() != n)
        return flagged;
    for (std::size_t k = 0; k < n; ++k) {
        std::vector<double> others;
        others.reserve(n - 1);
        for (std::size_t j = 0; j < n; ++j) {
            if (j != k)
                others.push_back(values[j]);
        }
        const std::optional<Spread> spread = spreadOf(others);
        const double othersSd = spread->standardDeviation.value_or(0.0);
        flagged[k] = std::abs(values[k] - medianOf(others)) > 3.0 * (sigmas[k] + othersSd);
    }
    return flagged;
}

RunComparison compareRuns(std::vector<ComparedRun> runs)
{
    // Drift is over the order the runs ran in; a list shows them newest
    // first, and --dir in any order.
    const bool timed = std::all_of(runs.begin(), runs.end(), [](const ComparedRun& r) { return r.started.isValid(); });
    if (timed)
        std::stable_sort(runs.begin(), runs.end(),
                         [](const ComparedRun& a, const ComparedRun& b) { return a.started < b.started; });
    RunComparison comparison;
    comparison.runs = std::move(runs);
    for (const QString& key : figureKeys()) {
        FigureComparison f;
        f.key = key;
        std::vector<double> values, sigmas;
        std::vector<std::size_t> where;
        for (std::size_t r = 0; r < comparison.runs.size(); ++r) {
            const ComparedRun& run = comparison.runs[r];
            const std::optional<double> value = numberIn(run.figures, key);
            const std::optional<double> sigma = numberIn(run.figures, key + QStringLiteral("_sigma"));
            f.values.push_back(run.included ? value : std::nullopt);
            f.sigmas.push_back(run.included ? sigma : std::nullopt);
            if (run.included && value) {
                values.push_back(*value);
                sigmas.push_back(sigma.value_or(0.0));
                where.push_back(r);
            }
        }
        f.spread = spreadOf(values);
        f.drift = driftOf(values, sigmas);
        f.outlier.assign(comparison.runs.size(), false);
        const std::vector<bool> out = outliersOf(values, sigmas);
        for (std::size_t k = 0; k < out.size(); ++k) {
            if (out[k]) {
                f.outlier[where[k]] = true;
                f.outliers << comparison.runs[where[k]].folder;
            }
        }
        comparison.figures.push_back(std::move(f));
    }
    return comparison;
}

QByteArray comparisonJson(const RunComparison& comparison)
{
    QJsonArray runs;
    for (const ComparedRun& run : comparison.runs) {
        runs.append(QJsonObject{{QStringLiteral("folder"), run.folder},
                                {QStringLiteral("started"),
                                 run.started.isValid() ? QJsonValue(isoTime(run.started)) : QJsonValue()},
                                {QStringLiteral("motor"), run.motor},
                                {QStringLiteral("included"), run.included},
                                {QStringLiteral("figures"), run.figures}});
    }
    QJsonObject figures;
    for (const FigureComparison& f : comparison.figures) {
        const std::optional<Spread>& s = f.spread;
        figures.insert(f.key, QJsonObject{{QStringLiteral("mean"), s ? QJsonValue(s->mean) : QJsonValue()},
                                          {QStringLiteral("sd"), s ? orNull(s->standardDeviation) : QJsonValue()},
                                          {QStringLiteral("min"), s ? QJsonValue(s->lowest) : QJsonValue()},
                                          {QStringLiteral("max"), s ? QJsonValue(s->highest) : QJsonValue()},
                                          {QStringLiteral("n"), s ? qint64(s->count) : qint64(0)},
                                          {QStringLiteral("drift"),
                                           f.drift == Drift::None ? QJsonValue() : QJsonValue(driftText(f.drift))},
                                          {QStringLiteral("outliers"), QJsonArray::fromStringList(f.outliers)}});
    }
    const QJsonObject o{{QStringLiteral("format"), kComparisonJsonFormat},
                        {QStringLiteral("runs"), runs},
                        {QStringLiteral("figures"), figures}};
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray comparisonCsv(const RunComparison& comparison)
{
    QStringList header = QString::fromLatin1(kComparisonCsvFields).split(QLatin1Char(','));
    for (const FigureComparison& f : comparison.figures)
        header << f.key;
    QStringList lines{header.join(QLatin1Char(','))};
    // Full precision in the file: it is read by programs, not people.
    const auto full = [](const std::optional<double>& v) { return v ? QLocale::c().toString(*v, 'g', 10) : QString(); };
    for (std::size_t r = 0; r < comparison.runs.size(); ++r) {
        const ComparedRun& run = comparison.runs[r];
        const NameplateKv kv = comparison.nameplate(r);
        QStringList fields{QStringLiteral("run"),
                           csvField(run.folder),
                           run.started.isValid() ? isoTime(run.started) : QString(),
                           csvField(run.motor),
                           run.included ? QStringLiteral("true") : QStringLiteral("false"),
                           full(kv.nameplate),
                           full(kv.deviationPct())};
        for (const FigureComparison& f : comparison.figures)
            fields << full(numberIn(run.figures, f.key));
        lines << fields.join(QLatin1Char(','));
    }
    const auto statistic = [&](const char* name, const auto& cell) {
        QStringList fields{QString::fromLatin1(name), {}, {}, {}, {}, {}, {}};
        for (const FigureComparison& f : comparison.figures)
            fields << cell(f);
        lines << fields.join(QLatin1Char(','));
    };
    statistic("mean", [&](const FigureComparison& f) { return f.spread ? full(f.spread->mean) : QString(); });
    statistic("sd",
              [&](const FigureComparison& f) { return f.spread ? full(f.spread->standardDeviation) : QString(); });
    statistic("min", [&](const FigureComparison& f) { return f.spread ? full(f.spread->lowest) : QString(); });
    statistic("max", [&](const FigureComparison& f) { return f.spread ? full(f.spread->highest) : QString(); });
    statistic("n", [](const FigureComparison& f) { return QString::number(f.spread ? f.spread->count : 0); });
    statistic("drift", [](const FigureComparison& f) { return driftText(f.drift); });
    statistic("outliers", [](const FigureComparison& f) { return csvField(f.outliers.join(QLatin1Char(';'))); });
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

QString runLabel(const ComparedRun& run)
{
    const QString name = QFileInfo(QDir::cleanPath(run.folder)).fileName();
    return name.isEmpty() ? run.folder : name;
}

ComparisonTable comparisonTable(const RunComparison& comparison)
{
    ComparisonTable table;
    table.header << QStringLiteral("Figure");
    for (std::size_t r = 0; r < comparison.runs.size(); ++r)
        table.header << QStringLiteral("%1 %2").arg(r + 1).arg(runLabel(comparison.runs[r]));
    table.header << QStringLiteral("Mean") << QStringLiteral("SD") << QStringLiteral("Min") << QStringLiteral("Max")
                 << QStringLiteral("n") << QStringLiteral("Drift");
    for (const FigureComparison& f : comparison.figures) {
        const int decimals = decimalsOf(f.key);
        std::vector<ComparisonCell> row{{f.key, false}};
        for (std::size_t r = 0; r < f.values.size(); ++r) {
            if (!comparison.runs[r].included) {
                row.push_back({QStringLiteral("(left out)"), false});
                continue;
            }
            const std::optional<double>& v = f.values[r];
            QString text = v ? number(*v, decimals) : QStringLiteral("-");
            if (f.outlier[r])
                text += QStringLiteral(" outlier");
            row.push_back({text, f.outlier[r]});
        }
        const std::optional<Spread>& s = f.spread;
        row.push_back({s ? number(s->mean, decimals) : QStringLiteral("-"), false});
        row.push_back(
            {s && s->standardDeviation ? deviation(*s->standardDeviation, decimals) : QStringLiteral("-"), false});
        row.push_back({s ? number(s->lowest, decimals) : QStringLiteral("-"), false});
        row.push_back({s ? number(s->highest, decimals) : QStringLiteral("-"), false});
        row.push_back({QString::number(s ? s->count : 0), false});
        row.push_back({f.drift == Drift::None ? QStringLiteral("-") : driftText(f.drift), f.drift != Drift::None});
        table.rows.push_back(std::move(row));
    }
    const std::size_t included = comparison.included();
    table.notes << QStringLiteral("%1 of %2 runs in the statistics").arg(included).arg(comparison.runs.size());
    for (std::size_t r = 0; r < comparison.runs.size(); ++r) {
        const ComparedRun& run = comparison.runs[r];
        const QString label = QStringLiteral("%1 %2").arg(r + 1).arg(runLabel(run));
        const QString started = run.started.isValid() ? run.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                                      : QStringLiteral("start not known");
        QString line = QStringLiteral("%1: %2, motor %3").arg(label, started, run.motor);
        if (!run.included)
            line += QStringLiteral("; left out of the statistics: %1").arg(run.exclusion);
        const NameplateKv kv = comparison.nameplate(r);
        if (kv.nameplate) {
            line += QStringLiteral("; Kv %1 RPM/V measured, nameplate %2")
                        .arg(kv.measured ? number(*kv.measured, 1) : QStringLiteral("not"), number(*kv.nameplate, 1));
            if (const std::optional<double> off = kv.deviationPct())
                line += QStringLiteral(" (%1 off)").arg(deviationText(*off));
        }
        table.notes << line;
    }
    return table;
}

QString comparisonText(const RunComparison& comparison)
{
    const ComparisonTable table = comparisonTable(comparison);
    std::vector<QStringList> lines{table.header};
    for (const std::vector<ComparisonCell>& row : table.rows) {
        QStringList fields;
        for (const ComparisonCell& cell : row)
            fields << cell.text;
        lines.push_back(fields);
    }
    std::vector<qsizetype> widths(static_cast<std::size_t>(table.header.size()), 0);
    for (const QStringList& fields : lines) {
        for (qsizetype i = 0; i < fields.size(); ++i)
            widths[static_cast<std::size_t>(i)] = std::max(widths[static_cast<std::size_t>(i)], fields[i].size());
    }
    QString text;
    for (const QString& note : table.notes)
        text += note + QLatin1Char('\n');
    for (const QStringList& fields : lines) {
        QString line;
        for (qsizetype i = 0; i < fields.size(); ++i) {
            // Names to the left, numbers to the right.
            const qsizetype width = widths[static_cast<std::size_t>(i)];
            line += i == 0 ? fields[i].leftJustified(width + 2)
                           : fields[i].rightJustified(width) + QStringLiteral("  ");
        }
        text += line.trimmed() + QLatin1Char('\n');
    }
    const QStringList drifting = [&] {
        QStringList keys;
        for (const FigureComparison& f : comparison.figures) {
            if (f.drift != Drift::None)
                keys << QStringLiteral("%1 %2").arg(f.key, driftText(f.drift));
        }
        return keys;
    }();
    if (!drifting.isEmpty())
        text += QStringLiteral("Drift: %1\n").arg(drifting.join(QStringLiteral(", ")));
    return text;
}

} // namespace zelvar::sets
