#include "curves/MotorFigures.h"

#include "curves/LeastSquares.h"
#include "curves/Units.h"

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

// Every figure refused for one reason, and the coast-down with them.
void refuseAll(MotorFigures& m, const QString& reason)
{
    for (Figure* f : {&m.kv, &m.resistance, &m.noLoadCurrent, &m.kt, &m.peakTorque, &m.peakTorqueRpm, &m.peakPower,
                      &m.peakPowerRpm, &m.peakEfficiency, &m.peakEfficiencyRpm, &m.supplyVoltage, &m.supplyResistance})
        refuse(*f, reason);
    m.noCoastReason = reason;
}

// Why the smoothed spin-up cannot be measured at all; empty when it can.
QString unmeasurable(const std::vector<ReportPoint>& rows, const std::optional<SmoothedSpinUp>& smoothed)
{
    if (!smoothed || smoothed->points.empty())
        return QStringLiteral("no spin-up in the report");
    const SpinUp range = smoothed->rows;
    if (range.last >= rows.size() || range.first > range.last
        || smoothed->points.size() != range.last - range.first + 1)
        return QStringLiteral("the spin-up's records are not at hand");
    return {};
}

// The powered records of the spin-up: a rig without losses holds its top
// speed through a coast, and those records belong to the coast.
struct PoweredRecords {
    std::vector<std::size_t> rows;
    std::size_t last = 0; // the last powered record; the spin-up's first when none is
};

PoweredRecords poweredRecords(const std::vector<ReportPoint>& rows, SpinUp range)
{
    PoweredRecords powered;
    powered.last = range.first;
    bool anyPowered = false;
    for (std::size_t i = range.first; i <= range.last; ++i) {
        if (rows[i].current > 0.0) {
            powered.last = i;
            anyPowered = true;
        }
    }
    for (std::size_t i = range.first; anyPowered && i <= powered.last; ++i) {
        if (rows[i].current > 0.0)
            powered.rows.push_back(i);
    }
    return powered;
}

// The smoothed spin-up up to its last powered record, not yet corrected.
std::vector<CorrectedPoint> uncorrectedCurve(const std::vector<ReportPoint>& rows, const SmoothedSpinUp& smoothed,
                                             std::size_t lastPowered)
{
    std::vector<CorrectedPoint> curve;
    const std::size_t first = smoothed.rows.first;
    for (std::size_t i = first; i <= lastPowered; ++i) {
        const SmoothedPoint& s = smoothed.points[i - first];
        CorrectedPoint p;
        p.runTime = s.runTime;
        p.rpm = s.rpm;
        p.torque = s.torque;
        p.correctedTorque = s.torque;
        p.outputPower = s.outputPower;
        p.correctedOutputPower = s.outputPower;
        p.inputPower = rows[i].inputPower;
        p.current = rows[i].current;
        curve.push_back(p);
    }
    return curve;
}

// Kv and R from V = I·R + RPM/Kv over the powered records, Kt from Kv, and
// the supply V = Vs − I·Rs over the same.
struct MotorLine {
    Figure kv, resistance, kt, supplyVoltage, supplyResistance;
    std::array<std::array<double, 2>, 2> kvRCovariance{};
    QString refused; // why the records fix no motor line; empty when they do
};

MotorLine fitMotorLine(const std::vector<ReportPoint>& rows, const std::vector<std::size_t>& powered)
{
    MotorLine line;
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
    if (!currentChanges || !fit || fit->b[1] <= 0.0) {
        line.refused = !currentChanges
                         ? QStringLiteral(
                               "the current never changes (%1 A to %2 A): the winding's drop cannot be told from "
                               "the back-EMF")
                               .arg(number(iLo), number(iHi))
                         : QStringLiteral("the voltage, current and speed fix no motor line");
        for (Figure* f : {&line.kv, &line.resistance, &line.kt, &line.supplyVoltage, &line.supplyResistance})
            refuse(*f, line.refused);
        return line;
    }
    const double slope = fit->b[1] / rpmScale; // V per RPM
    const double slopeSigma = std::sqrt(fit->covariance[1][1]) / rpmScale;
    line.kv = {1.0 / slope, slopeSigma / (slope * slope), {}};
    line.resistance = {fit->b[0] / iScale, std::sqrt(fit->covariance[0][0]) / iScale, {}};
    // d Kv = −Kv² d(slope): the covariance of (Kv, R).
    line.kvRCovariance[0][0] = line.kv.sigma * line.kv.sigma;
    line.kvRCovariance[1][1] = line.resistance.sigma * line.resistance.sigma;
    line.kvRCovariance[0][1] = line.kvRCovariance[1][0] = -line.kv.value * line.kv.value * fit->covariance[0][1]
                                                        / (iScale * rpmScale);
    const double kt = ktOfKv(line.kv.value) * kMnmPerNm;
    line.kt = {kt, kt * line.kv.sigma / line.kv.value, {}};
    if (sfit) {
        line.supplyVoltage = {sfit->b[0], std::sqrt(sfit->covariance[0][0]), {}};
        line.supplyResistance = {-sfit->b[1] / iScale, std::sqrt(sfit->covariance[1][1]) / iScale, {}};
    } else {
        refuse(line.supplyVoltage, QStringLiteral("the voltage against the current fixes no supply"));
        refuse(line.supplyResistance, line.supplyVoltage.refused);
    }
    return line;
}

// The coast-down after the last powered record and the losses fitted to
// it, or why there is none.
struct Losses {
    std::optional<LossFit> fit;
    QString noCoastReason;
};

Losses coastDownLosses(const std::vector<ReportPoint>& rows, std::size_t lastPowered, double inertia, const Figure& kt,
                       double torqueAtTop)
{
    // The most the losses can take at top speed is what the motor gave
    // there, Kt·I, less what still accelerated the flywheel.
    std::optional<double> maxLoss;
    if (kt.known())
        maxLoss = kt.value * rows[lastPowered].current - torqueAtTop;
    const CoastDownSearch search = findCoastDown(rows, lastPowered, inertia, maxLoss);
    Losses losses;
    if (search.coast)
        losses.fit = fitLosses(rows, *search.coast, inertia);
    else
        losses.noCoastReason = search.reason;
    return losses;
}

// The losses added to the torque and power where the coast-down covered
// the speed, and the efficiency of the corrected power.
void correctForLosses(std::vector<CorrectedPoint>& curve, const std::optional<LossFit>& losses)
{
    if (losses) {
        for (CorrectedPoint& p : curve) {
            if (!losses->covers(p.rpm))
                continue;
            p.corrected = true;
            p.correctedTorque = p.torque + losses->torqueMnm(p.rpm);
            p.correctedOutputPower = powerW(p.correctedTorque, p.rpm);
        }
    }
    for (CorrectedPoint& p : curve)
        p.efficiency = p.inputPower > 0.0 ? std::clamp(p.correctedOutputPower / p.inputPower * 100.0, 0.0, 100.0) : 0.0;
}

// I0 from the corrected torque against the current: I − T/Kt at the
// records where the torque is below a quarter of its peak (towards top
// speed, where an error of the smoothed torque is smallest against Kt) and
// the correction applies, their mean with a fifth cut off either side (a
// median would snap to the current's 0.1 A steps). With the spread of the
// torque about the motor line that I0 and Kt draw.
struct NoLoadCurrent {
    Figure i0;
    double residualSigma = 0.0; // mN·m
};

NoLoadCurrent noLoadCurrentOf(const std::vector<CorrectedPoint>& curve, double kt, bool lossesFitted, int windowRecords)
{
    double peak = 0.0;
    for (const CorrectedPoint& p : curve)
        peak = std::max(peak, p.correctedTorque);
    std::vector<double> i0;
    for (const CorrectedPoint& p : curve) {
        if ((!lossesFitted || p.corrected) && p.correctedTorque <= 0.25 * peak)
            i0.push_back(p.current - p.correctedTorque / kt);
    }
    if (i0.size() < kMinRecords) {
        i0.clear();
        for (const CorrectedPoint& p : curve)
            i0.push_back(p.current - p.correctedTorque / kt);
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
    // Neighbouring records share the smoothing's window: their errors are
    // not independent.
    const double independent = static_cast<double>(i0.size()) / std::max(1, windowRecords);
    NoLoadCurrent result;
    result.i0 = {mean, spread / std::sqrt(std::max(1.0, independent)), {}};
    const double median = mean;
    double sum = 0.0;
    for (const CorrectedPoint& p : curve) {
        const double r = p.correctedTorque - kt * (p.current - median);
        sum += r * r;
    }
    result.residualSigma = std::sqrt(sum / static_cast<double>(curve.size()));
    return result;
}

// The peaks of the corrected curves, uncertain by the spread about the
// motor line and the loss fit's own at their speed.
struct Peaks {
    Figure torque, torqueRpm, power, powerRpm;
};

Peaks peaksOf(const std::vector<CorrectedPoint>& curve, double residualSigma, const std::optional<LossFit>& losses)
{
    const auto torqueOf = [](const CorrectedPoint& p) { return p.correctedTorque; };
    const auto powerOf = [](const CorrectedPoint& p) { return p.correctedOutputPower; };
    Peaks peaks;
    Figure torque, torqueRpm, power, powerRpm;
    peakOf(curve, torqueOf, 0.0, torque, torqueRpm);
    const double lossSigmaAtTorque = losses ? losses->sigmaMnm(torqueRpm.value) : 0.0;
    const double torqueSigma = std::hypot(residualSigma, lossSigmaAtTorque);
    peakOf(curve, torqueOf, torqueSigma, peaks.torque, peaks.torqueRpm);
    peakOf(curve, powerOf, 0.0, power, powerRpm);
    const double lossSigmaAtPower = losses ? losses->sigmaMnm(powerRpm.value) : 0.0;
    const double powerSigma = powerW(std::hypot(residualSigma, lossSigmaAtPower), powerRpm.value);
    peakOf(curve, powerOf, powerSigma, peaks.power, peaks.powerRpm);
    return peaks;
}

// The peak efficiency from the fitted model, within the speeds the run
// reached (near top speed the measured torque is too small to divide by),
// each parameter moved by its standard uncertainty for the figure's: Kv and
// R with their covariance.
struct PeakEfficiency {
    Figure value, rpm;
};

PeakEfficiency modelPeakEfficiency(const MotorLine& line, const Figure& noLoadCurrent,
                                   const std::vector<CorrectedPoint>& curve)
{
    const Model model{line.kv.value, line.resistance.value, noLoadCurrent.value, line.supplyVoltage.value,
                      std::max(0.0, line.supplyResistance.value)};
    double top = 0.0;
    for (const CorrectedPoint& p : curve)
        top = std::max(top, p.rpm);
    const auto [best, at] = model.peak(top);
    const auto moved = [&](double dKv, double dR, double dI0) {
        Model changed = model;
        changed.kv += dKv;
        changed.r += dR;
        changed.i0 += dI0;
        return changed.peak(top);
    };
    const double h[2] = {std::max(1e-9, line.kv.sigma), std::max(1e-12, line.resistance.sigma)};
    const auto pKv = moved(h[0], 0, 0), pR = moved(0, h[1], 0), pI0 = moved(0, 0, noLoadCurrent.sigma);
    const double g[2] = {(pKv.first - best) / h[0], (pR.first - best) / h[1]};
    const double gr[2] = {(pKv.second - at) / h[0], (pR.second - at) / h[1]};
    double ve = (pI0.first - best) * (pI0.first - best), vr = (pI0.second - at) * (pI0.second - at);
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            ve += g[a] * line.kvRCovariance[a][b] * g[b];
            vr += gr[a] * line.kvRCovariance[a][b] * gr[b];
        }
    }
    return {{best, std::sqrt(std::max(0.0, ve)), {}}, {at, std::sqrt(std::max(0.0, vr)), {}}};
}

} // namespace

MotorFigures measureMotor(const Report& report, const std::optional<SmoothedSpinUp>& smoothed)
{
    MotorFigures m;
    const std::vector<ReportPoint>& rows = report.rows;
    if (const QString reason = unmeasurable(rows, smoothed); !reason.isEmpty()) {
        refuseAll(m, reason);
        return m;
    }
    const PoweredRecords powered = poweredRecords(rows, smoothed->rows);
    m.poweredRecords = powered.rows.size();
    if (powered.rows.size() < kMinRecords) {
        refuseAll(m, QStringLiteral("too few records with the motor powered (%1, at least %2 needed)")
                         .arg(powered.rows.size())
                         .arg(kMinRecords));
        return m;
    }
    m.curve = uncorrectedCurve(rows, *smoothed, powered.last);

    const MotorLine line = fitMotorLine(rows, powered.rows);
    m.kv = line.kv;
    m.resistance = line.resistance;
    m.kt = line.kt;
    m.supplyVoltage = line.supplyVoltage;
    m.supplyResistance = line.supplyResistance;
    if (!line.refused.isEmpty()) {
        for (Figure* f : {&m.noLoadCurrent, &m.peakEfficiency, &m.peakEfficiencyRpm})
            refuse(*f, line.refused);
    }

    Losses losses = coastDownLosses(rows, powered.last, report.inertia(), m.kt, m.curve.back().torque);
    m.losses = std::move(losses.fit);
    m.noCoastReason = losses.noCoastReason;
    correctForLosses(m.curve, m.losses);

    double residualSigma = 0.0;
    if (m.kt.known()) {
        const NoLoadCurrent i0 = noLoadCurrentOf(m.curve, m.kt.value, m.losses.has_value(), smoothed->windowRecords);
        m.noLoadCurrent = i0.i0;
        residualSigma = i0.residualSigma;
    }

    const Peaks peaks = peaksOf(m.curve, residualSigma, m.losses);
    m.peakTorque = peaks.torque;
    m.peakTorqueRpm = peaks.torqueRpm;
    m.peakPower = peaks.power;
    m.peakPowerRpm = peaks.powerRpm;

    if (m.kv.known() && m.noLoadCurrent.known() && m.supplyVoltage.known()) {
        const PeakEfficiency efficiency = modelPeakEfficiency(line, m.noLoadCurrent, m.curve);
        m.peakEfficiency = efficiency.value;
        m.peakEfficiencyRpm = efficiency.rpm;
    } else if (m.peakEfficiency.known()) {
        const QString reason = QStringLiteral("the motor model is not known: ") + m.noLoadCurrent.refused;
        refuse(m.peakEfficiency, reason);
        refuse(m.peakEfficiencyRpm, reason);
    }
    return m;
}

} // namespace zelvar::curves
