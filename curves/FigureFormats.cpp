#include "curves/FigureFormats.h"

#include "curves/DisplayUnits.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace zelvar::curves {

namespace {

QString number(double value, int digits)
{
    return QLocale::c().toString(value, 'g', digits);
}

QJsonValue orNull(const Figure& f)
{
    return f.known() ? QJsonValue(f.value) : QJsonValue();
}

} // namespace

QString correctionNote(const MotorFigures& m)
{
    if (m.curve.empty())
        return QStringLiteral("No loss correction: %1").arg(m.noCoastReason);
    if (!m.losses)
        return QStringLiteral("No coast-down (%1): no loss correction. The rig's bearings and air still take "
                              "torque, so the curve reads low, most near top speed, where the losses are largest")
            .arg(m.noCoastReason);
    double lo = m.curve.front().rpm, hi = lo;
    bool all = true;
    for (const CorrectedPoint& p : m.curve) {
        if (!p.corrected)
            all = false;
        lo = std::min(lo, p.rpm);
        hi = std::max(hi, p.rpm);
    }
    QString note = m.losses->describe();
    note += all ? QStringLiteral("; corrected over the whole spin-up")
                : QStringLiteral("; corrected only from %1 to %2 RPM, the speeds the coast-down covered: "
                                 "elsewhere the curve is uncorrected")
                      .arg(number(std::max(lo, m.losses->minRpm - 100.0), 5),
                           number(std::min(hi, m.losses->maxRpm + 100.0), 5));
    return note;
}

FigureText figureText(const Figure& figure, int decimals)
{
    if (!figure.known())
        return {QString(), QString(), figure.refused};
    const QLocale c = QLocale::c();
    // One significant digit of σ (two when it starts with a 1, which one
    // digit would round by up to a half) sets the last digit worth showing.
    int shown = decimals;
    if (figure.sigma > 0.0 && std::isfinite(figure.sigma)) {
        const int leading = static_cast<int>(std::floor(std::log10(figure.sigma)));
        const double mantissa = figure.sigma / std::pow(10.0, leading);
        const int sigmaDecimals = -leading + (mantissa < 2.0 ? 1 : 0);
        shown = std::clamp(sigmaDecimals, 0, decimals);
    }
    FigureText text{c.toString(figure.value, 'f', shown), QString(), QString()};
    // σ below half the last digit shown would print as "± 0": nothing to say.
    if (figure.sigma >= 0.5 * std::pow(10.0, -shown))
        text.sigma = QStringLiteral("± ") + c.toString(figure.sigma, 'f', shown);
    return text;
}

std::vector<FigureRow> figureRows(const MotorFigures& m)
{
    struct Row {
        const char* name;
        const Figure* figure;
        const char* unit;
        int decimals;
    };
    const Row table[] = {{"Kv", &m.kv, "RPM/V", 1},
                         {"Winding resistance R", &m.resistance, "ohm", 4},
                         {"No-load current I0", &m.noLoadCurrent, "A", 3},
                         {"Kt", &m.kt, "mN·m/A", 3},
                         {"Peak torque", &m.peakTorque, "mN·m", 1},
                         {"at", &m.peakTorqueRpm, "RPM", 0},
                         {"Peak output power", &m.peakPower, "W", 2},
                         {"at", &m.peakPowerRpm, "RPM", 0},
                         {"Peak efficiency (model)", &m.peakEfficiency, "%", 1},
                         {"at", &m.peakEfficiencyRpm, "RPM", 0}};
    std::vector<FigureRow> rows;
    for (const Row& r : table)
        rows.push_back({QString::fromUtf8(r.name), QString::fromUtf8(r.unit), figureText(*r.figure, r.decimals),
                        r.figure == &m.peakTorqueRpm || r.figure == &m.peakPowerRpm || r.figure == &m.peakEfficiencyRpm,
                        *r.figure, r.decimals});
    return rows;
}

QString summaryTable(const MotorFigures& m)
{
    return summaryTable(m, DisplayUnits{});
}

QString summaryTable(const MotorFigures& m, const DisplayUnits& units)
{
    QStringList lines;
    lines << QStringLiteral("Spin-up %1: %2 records with the motor powered").arg(m.spinUp + 1).arg(m.poweredRecords);
    for (const FigureRow& row : shownRows(figureRows(m), units)) {
        const QString name = ((row.atRpm ? QStringLiteral("  ") : QString()) + row.name).leftJustified(24);
        if (!row.text.refused.isEmpty())
            lines << QStringLiteral("%1 refused: %2").arg(name, row.text.refused);
        else if (row.text.sigma.isEmpty())
            lines << QStringLiteral("%1 %2 %3").arg(name, row.text.value, row.unit);
        else
            lines << QStringLiteral("%1 %2 %3 %4").arg(name, row.text.value, row.text.sigma, row.unit);
    }
    lines << (m.losses ? QStringLiteral("Coast-down: %1").arg(correctionNote(m))
                       : QStringLiteral("Coast-down: none (%1); torque, power and I0 include the rig's losses")
                             .arg(m.noCoastReason));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray summaryJson(const MotorFigures& m)
{
    QJsonObject o;
    QJsonObject refused;
    // Format 2 counts spin-ups from 1, as the table, the charts and
    // --spin-up do; format 1 (no "format" key) counted from 0.
    o.insert(QStringLiteral("format"), kFiguresJsonFormat);
    o.insert(QStringLiteral("spin_up"), m.spinUp + 1);
    o.insert(QStringLiteral("coast_down"), m.losses.has_value());
    const std::pair<const char*, const Figure*> figures[] = {{"kv_rpm_per_v", &m.kv},
                                                             {"resistance_ohm", &m.resistance},
                                                             {"no_load_current_a", &m.noLoadCurrent},
                                                             {"kt_mNm_per_a", &m.kt},
                                                             {"peak_torque_mNm", &m.peakTorque},
                                                             {"peak_torque_rpm", &m.peakTorqueRpm},
                                                             {"peak_power_w", &m.peakPower},
                                                             {"peak_power_rpm", &m.peakPowerRpm},
                                                             {"peak_efficiency_pct", &m.peakEfficiency},
                                                             {"peak_efficiency_rpm", &m.peakEfficiencyRpm}};
    for (const auto& [key, f] : figures) {
        const QString name = QString::fromLatin1(key);
        o.insert(name, orNull(*f));
        o.insert(name + QStringLiteral("_sigma"), f->known() ? QJsonValue(f->sigma) : QJsonValue());
        if (!f->known())
            refused.insert(name, f->refused);
    }
    const char* lossKeys[] = {"loss_c0_mNm", "loss_c1_mNm_s", "loss_c2_mNm_s2"};
    for (int k = 0; k < 3; ++k) {
        const QString name = QString::fromLatin1(lossKeys[k]);
        o.insert(name, m.losses ? QJsonValue(m.losses->c[k]) : QJsonValue());
        o.insert(name + QStringLiteral("_sigma"),
                 m.losses ? QJsonValue(std::sqrt(std::max(0.0, m.losses->covariance[k][k]))) : QJsonValue());
        if (!m.losses)
            refused.insert(name, QStringLiteral("no coast-down: ") + m.noCoastReason);
    }
    o.insert(QStringLiteral("refused"), refused);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray curvesCsv(const MotorFigures& m)
{
    QByteArray out(kCurvesCsvHeader);
    out += '\n';
    const QLocale c = QLocale::c();
    for (const CorrectedPoint& p : m.curve) {
        out += c.toString(p.runTime, 'f', 2).toLatin1() + ',' + c.toString(p.rpm, 'f', 1).toLatin1() + ','
             + c.toString(p.torque, 'f', 3).toLatin1() + ',' + c.toString(p.correctedTorque, 'f', 3).toLatin1() + ','
             + c.toString(p.outputPower, 'f', 4).toLatin1() + ','
             + c.toString(p.correctedOutputPower, 'f', 4).toLatin1() + ',' + c.toString(p.efficiency, 'f', 2).toLatin1()
             + '\n';
    }
    return out;
}

} // namespace zelvar::curves
