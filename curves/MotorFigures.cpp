#include "curves/MotorFigures.h"

#include "curves/LeastSquares.h"
#include "curves/Units.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <functional>

namespace zelvar::curves {

namespace {

constexpr std::size_t kMinRecords = 10;

QString number(double value, int digits = 4)
{
    return QLocale::c().toString(value, 'g', digits);
}

void refuse(Figure& f, const QString& reason)
{
    f = Figure{};
    f.refused = reason;
}

// The motor model at one speed: shaft power over terminal power, in %.
struct Model {
    double kv = 0.0; // RPM/V
    double r = 0.0;  // Ω
    double i0 = 0.0; // A
    double vs = 0.0; // V, the open supply
    double rs = 0.0; // Ω, the supply's own

    double efficiency(double rpm) const
    {
        const double kt = ktOfKv(kv);
        const double current = (vs - rpm / kv) / (r + rs);
        if (current <= 0.0)
            return 0.0;
        const double terminal = vs - current * rs;
        const double shaft = kt * (current - i0) * rpm * kRadPerSecondPerRpm;
        const double input = terminal * current;
        return input > 0.0 ? std::clamp(100.0 * shaft / input, 0.0, 100.0) : 0.0;
    }

    // The peak within [0, topRpm] and its speed.
    std::pair<double, double> peak(double topRpm) const
    {
        constexpr int kSteps = 2000;
        double best = 0.0, at = 0.0;
        for (int k = 0; k <= kSteps; ++k) {
            const double rpm = topRpm * k / kSteps;
            const double e = efficiency(rpm);
            if (e > best) {
                best = e;
                at = rpm;
            }
        }
        return {best, at};
    }
};

// The peak of `value` over the curve, its standard uncertainty `sigma`, and
// the speed where it is reached, with half the span of speeds at which the
// curve is within `sigma` of the peak as that speed's uncertainty.
void peakOf(const std::vector<CorrectedPoint>& curve, const std::function<double(const CorrectedPoint&)>& value,
            double sigma, Figure& peak, Figure& rpm)
{
    std::size_t best = 0;
    for (std::size_t k = 1; k < curve.size(); ++k) {
        if (value(curve[k]) > value(curve[best]))
            best = k;
    }
    peak = {value(curve[best]), sigma, {}};
    double lo = curve[best].rpm, hi = curve[best].rpm;
    for (const CorrectedPoint& p : curve) {
        if (value(p) >= peak.value - sigma) {
            lo = std::min(lo, p.rpm);
            hi = std::max(hi, p.rpm);
        }
    }
    rpm = {curve[best].rpm, (hi - lo) / 2.0, {}};
}

QJsonValue orNull(const Figure& f)
{
    return f.known() ? QJsonValue(f.value) : QJsonValue();
}

} // namespace

MotorFigures measureMotor(const Report& report, const std::optional<SmoothedSpinUp>& smoothed)
{
    MotorFigures m;
    Figure* all[] = {&m.kv,
                     &m.resistance,
                     &m.noLoadCurrent,
                     &m.kt,
                     &m.peakTorque,
                     &m.peakTorqueRpm,
                     &m.peakPower,
                     &m.peakPowerRpm,
                     &m.peakEfficiency,
                     &m.peakEfficiencyRpm,
                     &m.supplyVoltage,
                     &m.supplyResistance};
    const std::vector<ReportPoint>& rows = report.rows;
    const double inertia = report.inertia();
    if (!smoothed || smoothed->points.empty()) {
        for (Figure* f : all)
            refuse(*f, QStringLiteral("no spin-up in the report"));
        m.noCoastReason = QStringLiteral("no spin-up in the report");
        return m;
    }

    // The powered records of the spin-up: a rig without losses holds its top
    // speed through a coast, and those records belong to the coast.
    const SpinUp range = smoothed->rows;
    if (range.last >= rows.size() || range.first > range.last
        || smoothed->points.size() != range.last - range.first + 1) {
        for (Figure* f : all)
            refuse(*f, QStringLiteral("the spin-up's records are not at hand"));
        m.noCoastReason = all[0]->refused;
        return m;
    }
    std::size_t lastPowered = range.first;
    bool anyPowered = false;
    for (std::size_t i = range.first; i <= range.last; ++i) {
        if (rows[i].current > 0.0) {
            lastPowered = i;
            anyPowered = true;
        }
    }
    std::vector<std::size_t> powered;
    for (std::size_t i = range.first; anyPowered && i <= lastPowered; ++i) {
        if (rows[i].current > 0.0)
            powered.push_back(i);
    }
    m.poweredRecords = powered.size();
    if (powered.size() < kMinRecords) {
        const QString reason = QStringLiteral("too few records with the motor powered (%1, at least %2 needed)")
                                   .arg(powered.size())
                                   .arg(kMinRecords);
        for (Figure* f : all)
            refuse(*f, reason);
        m.noCoastReason = reason;
        return m;
    }
    for (std::size_t i = range.first; i <= lastPowered; ++i) {
        const SmoothedPoint& s = smoothed->points[i - range.first];
        CorrectedPoint p;
        p.runTime = s.runTime;
        p.rpm = s.rpm;
        p.torque = s.torque;
        p.correctedTorque = s.torque;
        p.outputPower = s.outputPower;
        p.correctedOutputPower = s.outputPower;
        p.inputPower = rows[i].inputPower;
        p.current = rows[i].current;
        m.curve.push_back(p);
    }

    // Kv and R: V = I·R + RPM/Kv over the powered records, and the supply
    // V = Vs − I·Rs over the same.
    double iLo = rows[powered.front()].current, iHi = iLo, rpmTop = 0.0;
    for (std::size_t i : powered) {
        iLo = std::min(iLo, rows[i].current);
        iHi = std::max(iHi, rows[i].current);
        rpmTop = std::max(rpmTop, rows[i].rpm);
    }
    const double iScale = std::max(1e-9, iHi);
    const double rpmScale = std::max(1.0, rpmTop);
    NormalEquations<2> motor;
    NormalEquations<2> supply;
    for (std::size_t i : powered) {
        motor.add({rows[i].current / iScale, rows[i].rpm / rpmScale}, rows[i].voltage);
        supply.add({1.0, rows[i].current / iScale}, rows[i].voltage);
    }
    const std::optional<Solution<2>> fit = motor.solve();
    const std::optional<Solution<2>> sfit = supply.solve();
    const bool currentChanges = iHi - iLo >= 0.25;
    std::array<std::array<double, 2>, 2> kvRCovariance{};
    if (!currentChanges || !fit || fit->b[1] <= 0.0) {
        const QString reason =
            !currentChanges
                ? QStringLiteral("the current never changes (%1 A to %2 A): the winding's drop cannot be told from "
                                 "the back-EMF")
                      .arg(number(iLo), number(iHi))
                : QStringLiteral("the voltage, current and speed fix no motor line");
        for (Figure* f : {&m.kv, &m.resistance, &m.kt, &m.noLoadCurrent, &m.peakEfficiency, &m.peakEfficiencyRpm,
                          &m.supplyVoltage, &m.supplyResistance})
            refuse(*f, reason);
    } else {
        const double slope = fit->b[1] / rpmScale; // V per RPM
        const double slopeSigma = std::sqrt(fit->covariance[1][1]) / rpmScale;
        m.kv = {1.0 / slope, slopeSigma / (slope * slope), {}};
        m.resistance = {fit->b[0] / iScale, std::sqrt(fit->covariance[0][0]) / iScale, {}};
        // d Kv = −Kv² d(slope): the covariance of (Kv, R).
        kvRCovariance[0][0] = m.kv.sigma * m.kv.sigma;
        kvRCovariance[1][1] = m.resistance.sigma * m.resistance.sigma;
        kvRCovariance[0][1] = kvRCovariance[1][0] = -m.kv.value * m.kv.value * fit->covariance[0][1]
                                                  / (iScale * rpmScale);
        const double kt = ktOfKv(m.kv.value) * kMnmPerNm;
        m.kt = {kt, kt * m.kv.sigma / m.kv.value, {}};
        if (sfit) {
            m.supplyVoltage = {sfit->b[0], std::sqrt(sfit->covariance[0][0]), {}};
            m.supplyResistance = {-sfit->b[1] / iScale, std::sqrt(sfit->covariance[1][1]) / iScale, {}};
        } else {
            refuse(m.supplyVoltage, QStringLiteral("the voltage against the current fixes no supply"));
            refuse(m.supplyResistance, m.supplyVoltage.refused);
        }
    }

    // The coast-down and the losses. The most the losses can take at top
    // speed is what the motor gave there, Kt·I, less what still accelerated
    // the flywheel.
    std::optional<double> maxLoss;
    if (m.kt.known())
        maxLoss = m.kt.value * rows[lastPowered].current - m.curve.back().torque;
    const CoastDownSearch search = findCoastDown(rows, lastPowered, inertia, maxLoss);
    if (search.coast) {
        m.losses = fitLosses(rows, *search.coast, inertia);
        for (CorrectedPoint& p : m.curve) {
            if (!m.losses->covers(p.rpm))
                continue;
            p.corrected = true;
            p.correctedTorque = p.torque + m.losses->torqueMnm(p.rpm);
            p.correctedOutputPower = powerW(p.correctedTorque, p.rpm);
        }
    } else {
        m.noCoastReason = search.reason;
    }
    for (CorrectedPoint& p : m.curve)
        p.efficiency = p.inputPower > 0.0 ? std::clamp(p.correctedOutputPower / p.inputPower * 100.0, 0.0, 100.0) : 0.0;

    // I0 from the corrected torque against the current: I − T/Kt at the
    // records where the torque is below a quarter of its peak (towards top
    // speed, where an error of the smoothed torque is smallest against Kt)
    // and the correction applies, their mean with a fifth cut off either
    // side (a median would snap to the current's 0.1 A steps).
    double residualSigma = 0.0;
    if (m.kt.known()) {
        double peak = 0.0;
        for (const CorrectedPoint& p : m.curve)
            peak = std::max(peak, p.correctedTorque);
        std::vector<double> i0;
        for (const CorrectedPoint& p : m.curve) {
            if ((!m.losses || p.corrected) && p.correctedTorque <= 0.25 * peak)
                i0.push_back(p.current - p.correctedTorque / m.kt.value);
        }
        if (i0.size() < kMinRecords) {
            i0.clear();
            for (const CorrectedPoint& p : m.curve)
                i0.push_back(p.current - p.correctedTorque / m.kt.value);
        }
        std::sort(i0.begin(), i0.end());
        const std::size_t cut = i0.size() / 5;
        double sum0 = 0.0, sum2 = 0.0;
        for (std::size_t k = cut; k < i0.size() - cut; ++k)
            sum0 += i0[k];
        const double kept = static_cast<double>(i0.size() - 2 * cut);
        const double mean = sum0 / kept;
        for (double v : i0)
            sum2 += (v - mean) * (v - mean);
        const double spread = std::sqrt(sum2 / std::max(1.0, static_cast<double>(i0.size()) - 1.0));
        // Neighbouring records share the smoothing's window: their errors
        // are not independent.
        const double independent = static_cast<double>(i0.size()) / std::max(1, smoothed->windowRecords);
        m.noLoadCurrent = {mean, spread / std::sqrt(std::max(1.0, independent)), {}};
        const double median = mean;
        double sum = 0.0;
        for (const CorrectedPoint& p : m.curve) {
            const double r = p.correctedTorque - m.kt.value * (p.current - median);
            sum += r * r;
        }
        residualSigma = std::sqrt(sum / static_cast<double>(m.curve.size()));
    }

    // The peaks of the corrected curves.
    Figure torque, torqueRpm, power, powerRpm;
    peakOf(
        m.curve, [](const CorrectedPoint& p) { return p.correctedTorque; }, 0.0, torque, torqueRpm);
    const double lossSigmaAtTorque = m.losses ? m.losses->sigmaMnm(torqueRpm.value) : 0.0;
    const double torqueSigma = std::hypot(residualSigma, lossSigmaAtTorque);
    peakOf(
        m.curve, [](const CorrectedPoint& p) { return p.correctedTorque; }, torqueSigma, m.peakTorque, m.peakTorqueRpm);
    peakOf(
        m.curve, [](const CorrectedPoint& p) { return p.correctedOutputPower; }, 0.0, power, powerRpm);
    const double lossSigmaAtPower = m.losses ? m.losses->sigmaMnm(powerRpm.value) : 0.0;
    const double powerSigma = powerW(std::hypot(residualSigma, lossSigmaAtPower), powerRpm.value);
    peakOf(
        m.curve, [](const CorrectedPoint& p) { return p.correctedOutputPower; }, powerSigma, m.peakPower,
        m.peakPowerRpm);

    // The peak efficiency from the fitted model, within the speeds the run
    // reached: near top speed the measured torque is too small to divide by.
    if (m.kv.known() && m.noLoadCurrent.known() && m.supplyVoltage.known()) {
        const Model model{m.kv.value, m.resistance.value, m.noLoadCurrent.value, m.supplyVoltage.value,
                          std::max(0.0, m.supplyResistance.value)};
        double top = 0.0;
        for (const CorrectedPoint& p : m.curve)
            top = std::max(top, p.rpm);
        const auto [best, at] = model.peak(top);
        // Each parameter moved by its standard uncertainty; Kv and R with
        // their covariance.
        const auto moved = [&](double dKv, double dR, double dI0) {
            Model changed = model;
            changed.kv += dKv;
            changed.r += dR;
            changed.i0 += dI0;
            return changed.peak(top);
        };
        const double h[2] = {std::max(1e-9, m.kv.sigma), std::max(1e-12, m.resistance.sigma)};
        const auto pKv = moved(h[0], 0, 0), pR = moved(0, h[1], 0), pI0 = moved(0, 0, m.noLoadCurrent.sigma);
        const double g[2] = {(pKv.first - best) / h[0], (pR.first - best) / h[1]};
        const double gr[2] = {(pKv.second - at) / h[0], (pR.second - at) / h[1]};
        double ve = (pI0.first - best) * (pI0.first - best), vr = (pI0.second - at) * (pI0.second - at);
        for (int a = 0; a < 2; ++a) {
            for (int b = 0; b < 2; ++b) {
                ve += g[a] * kvRCovariance[a][b] * g[b];
                vr += gr[a] * kvRCovariance[a][b] * gr[b];
            }
        }
        m.peakEfficiency = {best, std::sqrt(std::max(0.0, ve)), {}};
        m.peakEfficiencyRpm = {at, std::sqrt(std::max(0.0, vr)), {}};
    } else if (m.peakEfficiency.known()) {
        const QString reason = QStringLiteral("the motor model is not known: ") + m.noLoadCurrent.refused;
        refuse(m.peakEfficiency, reason);
        refuse(m.peakEfficiencyRpm, reason);
    }
    return m;
}

QString MotorFigures::correctionNote() const
{
    if (curve.empty())
        return QStringLiteral("No loss correction: %1").arg(noCoastReason);
    if (!losses)
        return QStringLiteral("No coast-down (%1): no loss correction. The rig's bearings and air still take "
                              "torque, so the curve reads low, most near top speed, where the losses are largest")
            .arg(noCoastReason);
    double lo = curve.front().rpm, hi = lo;
    bool all = true;
    for (const CorrectedPoint& p : curve) {
        if (!p.corrected)
            all = false;
        lo = std::min(lo, p.rpm);
        hi = std::max(hi, p.rpm);
    }
    QString note = losses->describe();
    note += all ? QStringLiteral("; corrected over the whole spin-up")
                : QStringLiteral("; corrected only from %1 to %2 RPM, the speeds the coast-down covered: "
                                 "elsewhere the curve is uncorrected")
                      .arg(number(std::max(lo, losses->minRpm - 100.0), 5),
                           number(std::min(hi, losses->maxRpm + 100.0), 5));
    return note;
}

QString MotorFigures::summaryTable() const
{
    struct Row {
        const char* name;
        const Figure* figure;
        const char* unit;
        int decimals;
    };
    const Row table[] = {{"Kv", &kv, "RPM/V", 1},
                         {"Winding resistance R", &resistance, "ohm", 4},
                         {"No-load current I0", &noLoadCurrent, "A", 3},
                         {"Kt", &kt, "mN·m/A", 3},
                         {"Peak torque", &peakTorque, "mN·m", 1},
                         {"  at", &peakTorqueRpm, "RPM", 0},
                         {"Peak output power", &peakPower, "W", 2},
                         {"  at", &peakPowerRpm, "RPM", 0},
                         {"Peak efficiency (model)", &peakEfficiency, "%", 1},
                         {"  at", &peakEfficiencyRpm, "RPM", 0}};
    QStringList lines;
    lines << QStringLiteral("Spin-up %1: %2 records with the motor powered").arg(spinUp + 1).arg(poweredRecords);
    for (const Row& r : table) {
        const QString name = QString::fromUtf8(r.name).leftJustified(24);
        if (r.figure->known())
            lines << QStringLiteral("%1 %2 ± %3 %4")
                         .arg(name, QLocale::c().toString(r.figure->value, 'f', r.decimals),
                              QLocale::c().toString(r.figure->sigma, 'f', r.decimals), QString::fromUtf8(r.unit));
        else
            lines << QStringLiteral("%1 refused: %2").arg(name, r.figure->refused);
    }
    lines << (losses ? QStringLiteral("Coast-down: %1").arg(correctionNote())
                     : QStringLiteral("Coast-down: none (%1); torque, power and I0 include the rig's losses")
                           .arg(noCoastReason));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray MotorFigures::summaryJson() const
{
    QJsonObject o;
    QJsonObject refused;
    o.insert(QStringLiteral("spin_up"), spinUp);
    o.insert(QStringLiteral("coast_down"), losses.has_value());
    const std::pair<const char*, const Figure*> figures[] = {{"kv_rpm_per_v", &kv},
                                                             {"resistance_ohm", &resistance},
                                                             {"no_load_current_a", &noLoadCurrent},
                                                             {"kt_mNm_per_a", &kt},
                                                             {"peak_torque_mNm", &peakTorque},
                                                             {"peak_torque_rpm", &peakTorqueRpm},
                                                             {"peak_power_w", &peakPower},
                                                             {"peak_power_rpm", &peakPowerRpm},
                                                             {"peak_efficiency_pct", &peakEfficiency},
                                                             {"peak_efficiency_rpm", &peakEfficiencyRpm}};
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
        o.insert(name, losses ? QJsonValue(losses->c[k]) : QJsonValue());
        o.insert(name + QStringLiteral("_sigma"),
                 losses ? QJsonValue(std::sqrt(std::max(0.0, losses->covariance[k][k]))) : QJsonValue());
        if (!losses)
            refused.insert(name, QStringLiteral("no coast-down: ") + noCoastReason);
    }
    o.insert(QStringLiteral("refused"), refused);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray MotorFigures::curvesCsv() const
{
    QByteArray out(kCurvesCsvHeader);
    out += '\n';
    const QLocale c = QLocale::c();
    for (const CorrectedPoint& p : curve) {
        out += c.toString(p.runTime, 'f', 2).toLatin1() + ',' + c.toString(p.rpm, 'f', 1).toLatin1() + ','
             + c.toString(p.torque, 'f', 3).toLatin1() + ',' + c.toString(p.correctedTorque, 'f', 3).toLatin1() + ','
             + c.toString(p.outputPower, 'f', 4).toLatin1() + ','
             + c.toString(p.correctedOutputPower, 'f', 4).toLatin1() + ',' + c.toString(p.efficiency, 'f', 2).toLatin1()
             + '\n';
    }
    return out;
}

} // namespace zelvar::curves
