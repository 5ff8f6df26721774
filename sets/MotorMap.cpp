#include "sets/MotorMap.h"

#include "curves/ReportLoader.h"
#include "curves/Units.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvar::sets {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

QString fixed(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

double lerp(double a, double b, double t)
{
    return a + (b - a) * t;
}

// The mean of `values` weighted by the inverse of their variances, or the
// plain mean where any of them has no uncertainty.
double weightedMean(const std::vector<curves::Figure>& figures)
{
    double sum = 0.0, weights = 0.0;
    bool plain = false;
    for (const curves::Figure& f : figures)
        plain = plain || !(f.sigma > 0.0);
    for (const curves::Figure& f : figures) {
        const double w = plain ? 1.0 : 1.0 / (f.sigma * f.sigma);
        sum += w * f.value;
        weights += w;
    }
    return sum / weights;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

bool sameSupply(double a, double b)
{
    return std::abs(a - b) <= std::max(kSupplyTolerance, 0.02 * std::max(std::abs(a), std::abs(b)));
}

QString spinUpName(const SweepSpinUp& s)
{
    return s.spinUps > 1 ? QStringLiteral("%1, spin-up %2").arg(s.run).arg(s.spinUp + 1) : s.run;
}

} // namespace

std::optional<double> startSupply(const std::vector<curves::ReportPoint>& rows, const curves::MotorFigures& figures,
                                  QString& note)
{
    if (!rows.empty() && rows.front().current == 0.0 && rows.front().voltage > 0.0) {
        note = QStringLiteral("the open supply at the start");
        return rows.front().voltage;
    }
    if (figures.supplyVoltage.known() && figures.supplyVoltage.value > 0.0) {
        note = QStringLiteral("the spin-up's voltage at no current");
        return figures.supplyVoltage.value;
    }
    note = figures.supplyVoltage.known() ? QStringLiteral("the records show no supply voltage")
                                         : figures.supplyVoltage.refused;
    return std::nullopt;
}

std::vector<SweepSpinUp> sweepOfReport(const QString& path, const QString& run)
{
    curves::LoadRequest request;
    request.points = false;
    curves::ReportCurves first = curves::loadReport(path, request);
    std::vector<SweepSpinUp> sweep;
    const std::size_t count = first.spinUps.size();
    for (std::size_t k = 0; k < count; ++k) {
        curves::ReportCurves curves;
        if (first.spinUp == k) {
            curves = std::move(first);
            first = {};
        } else {
            request.spinUp = k;
            curves = curves::loadReport(path, request);
        }
        SweepSpinUp s;
        s.run = run;
        s.spinUp = k;
        s.spinUps = count;
        s.figures = curves::measureMotor(curves);
        s.supply = startSupply(curves.report.rows, s.figures, s.supplyNote);
        sweep.push_back(std::move(s));
    }
    return sweep;
}

double MotorModel::current(double torqueMnm) const
{
    return torqueMnm / curves::kMnmPerNm / curves::ktOfKv(kv) + noLoadCurrent;
}

double MotorModel::efficiency(double rpm, double torqueMnm) const
{
    if (torqueMnm <= 0.0 || rpm <= 0.0)
        return 0.0;
    const double i = current(torqueMnm);
    const double terminal = i * resistance + rpm / kv;
    const double input = terminal * i;
    const double shaft = curves::powerW(torqueMnm, rpm);
    return input > 0.0 ? std::clamp(100.0 * shaft / input, 0.0, 100.0) : 0.0;
}

double MotorModel::supplyFor(double rpm, double torqueMnm) const
{
    return current(torqueMnm) * (resistance + supplyResistance) + rpm / kv;
}

double MotorModel::torqueOnLine(double supply, double rpm) const
{
    const double i = (supply - rpm / kv) / (resistance + supplyResistance);
    return curves::ktOfKv(kv) * (i - noLoadCurrent) * curves::kMnmPerNm;
}

BestPoint bestOnLine(const MotorModel& model, double supply, double lowRpm, double topRpm)
{
    constexpr int kSteps = 1000;
    BestPoint best{supply, lowRpm, model.torqueOnLine(supply, lowRpm), 0.0};
    for (int k = 0; k <= kSteps; ++k) {
        const double rpm = lerp(lowRpm, topRpm, static_cast<double>(k) / kSteps);
        const double torque = model.torqueOnLine(supply, rpm);
        const double e = model.efficiency(rpm, torque);
        if (e > best.efficiency)
            best = {supply, rpm, torque, e};
    }
    return best;
}

bool MotorMap::covers(double rpm, double torqueMnm) const
{
    if (supplies.size() < 2 || torqueMnm < 0.0)
        return false;
    const double s = model.supplyFor(rpm, torqueMnm);
    if (s < supplies.front().supply || s > supplies.back().supply)
        return false;
    // Between two measured supplies the lines' ends are joined straight: the
    // speed they start at, and the torque they come down to at top speed.
    std::size_t k = 0;
    while (k + 2 < supplies.size() && s > supplies[k + 1].supply)
        ++k;
    const SupplyLevel& a = supplies[k];
    const SupplyLevel& b = supplies[k + 1];
    const double t = (s - a.supply) / (b.supply - a.supply);
    return rpm >= lerp(a.lowRpm, b.lowRpm, t) && torqueMnm >= lerp(a.floorMnm, b.floorMnm, t);
}

MotorMap motorMap(const std::vector<SweepSpinUp>& sweep, const MapSettings& settings)
{
    MotorMap map;
    // The spin-ups that give the motor's model and a supply.
    std::vector<const SweepSpinUp*> used;
    for (const SweepSpinUp& s : sweep) {
        const curves::MotorFigures& f = s.figures;
        QString why;
        if (!f.kv.known())
            why = f.kv.refused;
        else if (!f.resistance.known())
            why = f.resistance.refused;
        else if (!f.noLoadCurrent.known())
            why = f.noLoadCurrent.refused;
        else if (!s.supply)
            why = s.supplyNote;
        else if (f.curve.empty())
            why = QStringLiteral("no powered records");
        if (why.isEmpty())
            used.push_back(&s);
        else
            map.leftOut << QStringLiteral("%1: %2").arg(spinUpName(s), why);
    }
    if (used.empty()) {
        map.refused = sweep.empty() ? QStringLiteral("no spin-up in the runs")
                                    : QStringLiteral("no spin-up gives the motor's figures");
        return map;
    }

    std::vector<curves::Figure> kv, r, i0;
    std::vector<double> rs;
    for (const SweepSpinUp* s : used) {
        kv.push_back(s->figures.kv);
        r.push_back(s->figures.resistance);
        i0.push_back(s->figures.noLoadCurrent);
        if (s->figures.supplyResistance.known())
            rs.push_back(std::max(0.0, s->figures.supplyResistance.value));
    }
    map.model = {weightedMean(kv), weightedMean(r), weightedMean(i0), rs.empty() ? 0.0 : median(rs)};

    // The lines, and the spin-ups grouped by supply, lowest first.
    std::sort(used.begin(), used.end(),
              [](const SweepSpinUp* a, const SweepSpinUp* b) { return *a->supply < *b->supply; });
    std::vector<std::vector<const SweepSpinUp*>> groups;
    for (const SweepSpinUp* s : used) {
        if (groups.empty() || !sameSupply(*groups.back().front()->supply, *s->supply))
            groups.emplace_back();
        groups.back().push_back(s);
    }
    for (const auto& group : groups) {
        SupplyLevel level;
        level.spinUps = group.size();
        level.lowRpm = std::numeric_limits<double>::infinity();
        level.floorMnm = std::numeric_limits<double>::infinity();
        double sum = 0.0;
        for (const SweepSpinUp* s : group) {
            sum += *s->supply;
            MeasuredLine line{spinUpName(*s), *s->supply, {}};
            for (const curves::CorrectedPoint& p : s->figures.curve) {
                line.points.push_back({p.rpm, p.correctedTorque});
                level.lowRpm = std::min(level.lowRpm, p.rpm);
                level.topRpm = std::max(level.topRpm, p.rpm);
                level.floorMnm = std::min(level.floorMnm, p.correctedTorque);
            }
            map.lines.push_back(std::move(line));
        }
        level.supply = sum / static_cast<double>(group.size());
        level.lowRpm = std::max(0.0, level.lowRpm);
        level.floorMnm = std::max(0.0, level.floorMnm);
        level.best = bestOnLine(map.model, level.supply, level.lowRpm, level.topRpm);
        map.supplies.push_back(level);
    }
    if (map.supplies.size() < 2) {
        map.refused = QStringLiteral("a map needs runs at two supply voltages or more; the spin-ups all ran at %1 V")
                          .arg(fixed(map.supplies.front().supply, 2));
        return map;
    }

    // The grid over the speeds and torques the lines reach.
    double topRpm = 0.0, topTorque = 0.0;
    for (const SupplyLevel& level : map.supplies)
        topRpm = std::max(topRpm, level.topRpm);
    for (const MeasuredLine& line : map.lines) {
        for (const ContourPoint& p : line.points)
            topTorque = std::max(topTorque, p.y);
    }
    const SupplyLevel& highest = map.supplies.back();
    topTorque = std::max(topTorque, map.model.torqueOnLine(highest.supply, highest.lowRpm));
    const std::size_t columns = std::max<std::size_t>(2, settings.columns);
    const std::size_t rows = std::max<std::size_t>(2, settings.rows);
    for (std::size_t c = 0; c < columns; ++c)
        map.grid.x.push_back(topRpm * static_cast<double>(c) / static_cast<double>(columns - 1));
    for (std::size_t k = 0; k < rows; ++k)
        map.grid.y.push_back(topTorque * static_cast<double>(k) / static_cast<double>(rows - 1));
    map.grid.values.assign(columns * rows, kNaN);
    double lowest = 100.0, best = 0.0;
    for (std::size_t k = 0; k < rows; ++k) {
        for (std::size_t c = 0; c < columns; ++c) {
            if (!map.covers(map.grid.x[c], map.grid.y[k]))
                continue;
            const double e = map.model.efficiency(map.grid.x[c], map.grid.y[k]);
            map.grid.values[k * columns + c] = e;
            lowest = std::min(lowest, e);
            best = std::max(best, e);
        }
    }
    for (double level : contourLevels(lowest, best, settings.levelStep, settings.maxLevels)) {
        std::vector<ContourLine> lines = contourLines(map.grid, level);
        map.contours.insert(map.contours.end(), std::make_move_iterator(lines.begin()),
                            std::make_move_iterator(lines.end()));
    }
    return map;
}

QByteArray mapCsv(const MotorMap& map)
{
    QByteArray csv = QByteArrayLiteral("rpm,torque_mNm,efficiency_pct\r\n");
    const Grid& g = map.grid;
    for (std::size_t c = 0; c < g.columns(); ++c) {
        for (std::size_t k = 0; k < g.rows(); ++k) {
            const double e = g.at(c, k);
            csv += fixed(g.x[c], 1).toLatin1() + ',' + fixed(g.y[k], 3).toLatin1() + ','
                 + (std::isnan(e) ? QByteArray() : fixed(e, 2).toLatin1()) + "\r\n";
        }
    }
    return csv;
}

QStringList bestPointLines(const MotorMap& map)
{
    QStringList lines;
    for (const SupplyLevel& level : map.supplies) {
        lines << QStringLiteral("%1 V: %2 % at %3 RPM, %4 mN·m (%5)")
                     .arg(fixed(level.supply, 2), fixed(level.best.efficiency, 1), fixed(level.best.rpm, 0),
                          fixed(level.best.torqueMnm, 1),
                          level.spinUps == 1 ? QStringLiteral("1 spin-up")
                                             : QStringLiteral("%1 spin-ups").arg(level.spinUps));
    }
    return lines;
}

} // namespace zelvar::sets
