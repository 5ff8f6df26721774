#include "curves/Smoothing.h"

#include "curves/Units.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>

namespace zelvar::curves {

namespace {

// Solves the normal equations of a small least-squares fit in place, with
// partial pivoting. False when the points cannot fix every coefficient (all
// at one x, say).
template <std::size_t N>
bool solve(std::array<std::array<double, N + 1>, N>& m, std::size_t n)
{
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        largest = std::max(largest, std::abs(m[i][i]));
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t row = col + 1; row < n; ++row) {
            if (std::abs(m[row][col]) > std::abs(m[pivot][col]))
                pivot = row;
        }
        if (std::abs(m[pivot][col]) <= 1e-12 * largest)
            return false;
        std::swap(m[pivot], m[col]);
        for (std::size_t row = 0; row < n; ++row) {
            if (row == col)
                continue;
            const double factor = m[row][col] / m[col][col];
            for (std::size_t k = col; k <= n; ++k)
                m[row][k] -= factor * m[col][k];
        }
    }
    for (std::size_t i = 0; i < n; ++i)
        m[i][n] /= m[i][i];
    return true;
}

constexpr int kMaxDegree = 4;

// The fit of one window, in u = (x - x0) / scale so that the sums stay of
// the order of the number of points whatever the unit of x.
LocalFit fitWindow(const std::vector<double>& x, const std::vector<double>& y, std::size_t lo, std::size_t hi,
                   double x0, int degree)
{
    double scale = 0.0;
    for (std::size_t k = lo; k <= hi; ++k)
        scale = std::max(scale, std::abs(x[k] - x0));
    if (scale == 0.0)
        scale = 1.0;
    for (int d = std::min(degree, kMaxDegree); d >= 0; --d) {
        const auto n = static_cast<std::size_t>(d + 1);
        // The normal equations, with the right-hand side in column n.
        std::array<std::array<double, kMaxDegree + 2>, kMaxDegree + 1> m{};
        for (std::size_t k = lo; k <= hi; ++k) {
            const double u = (x[k] - x0) / scale;
            std::array<double, 2 * kMaxDegree + 1> power{};
            power[0] = 1.0;
            for (std::size_t p = 1; p < 2 * n - 1; ++p)
                power[p] = power[p - 1] * u;
            for (std::size_t r = 0; r < n; ++r) {
                for (std::size_t c = 0; c < n; ++c)
                    m[r][c] += power[r + c];
                m[r][n] += power[r] * y[k];
            }
        }
        if (!solve<kMaxDegree + 1>(m, n))
            continue;
        return {m[0][n], d >= 1 ? m[1][n] / scale : 0.0};
    }
    return {y[lo], 0.0};
}

QString seconds(double value)
{
    return QLocale::c().toString(value, 'f', 2);
}

} // namespace

std::vector<LocalFit> localPolynomialFit(const std::vector<double>& x, const std::vector<double>& y, std::size_t first,
                                         std::size_t last, int halfWindow, int degree)
{
    std::vector<LocalFit> fits;
    if (first > last || last >= x.size() || last >= y.size())
        return fits;
    const std::size_t count = last - first + 1;
    const auto half = static_cast<std::size_t>(std::max(0, halfWindow));
    const std::size_t length = std::min(2 * half + 1, count);
    fits.reserve(count);
    for (std::size_t i = first; i <= last; ++i) {
        std::size_t lo = i >= first + half ? i - half : first;
        lo = std::min(lo, last + 1 - length);
        const std::size_t hi = lo + length - 1;
        const int fitDegree = std::min(std::max(0, degree), static_cast<int>(length) - 1);
        fits.push_back(fitWindow(x, y, lo, hi, x[i], fitDegree));
    }
    return fits;
}

std::optional<SmoothedSpinUp> smoothSpinUp(const std::vector<ReportPoint>& rows, double inertia,
                                           const SmoothingSettings& settings)
{
    const std::vector<FoundSpinUp> spinUps = findSpinUps(rows);
    const std::optional<std::size_t> picked = defaultSpinUp(spinUps);
    if (!picked)
        return std::nullopt;
    return smoothSpinUp(rows, spinUps[*picked].rows, inertia, settings);
}

std::optional<SmoothedSpinUp> smoothSpinUp(const std::vector<ReportPoint>& rows, SpinUp spinUp, double inertia,
                                           const SmoothingSettings& settings)
{
    if (spinUp.first >= spinUp.last || spinUp.last >= rows.size())
        return std::nullopt;
    const std::size_t first = spinUp.first;
    const std::size_t last = spinUp.last;

    std::vector<double> steps;
    for (std::size_t i = first + 1; i <= last; ++i) {
        const double step = rows[i].runTime - rows[i - 1].runTime;
        if (step > 0.0)
            steps.push_back(step);
    }
    if (steps.empty())
        return std::nullopt;
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    const double step = steps[steps.size() / 2];

    const double low = rows[first].rpm;
    const double target = low + (1.0 - std::exp(-1.0)) * (rows[last].rpm - low);
    std::size_t reached = first;
    while (reached < last && rows[reached].rpm < target)
        ++reached;
    const double riseTime = rows[reached].runTime - rows[first].runTime;
    const int half = std::clamp(static_cast<int>(std::lround(settings.windowShare * riseTime / step)),
                                settings.minHalfWindow, settings.maxHalfWindow);

    std::vector<double> t(rows.size());
    std::vector<double> rpm(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        t[i] = rows[i].runTime;
        rpm[i] = rows[i].rpm;
    }
    const std::vector<LocalFit> fits = localPolynomialFit(t, rpm, first, last, half, settings.degree);

    SmoothedSpinUp smoothed;
    smoothed.rows = spinUp;
    smoothed.windowRecords = static_cast<int>(
        std::min<std::size_t>(2 * static_cast<std::size_t>(half) + 1, last - first + 1));
    smoothed.windowSeconds = (smoothed.windowRecords - 1) * step;
    smoothed.degree = std::min(settings.degree, smoothed.windowRecords - 1);
    smoothed.points.reserve(fits.size());
    for (std::size_t k = 0; k < fits.size(); ++k) {
        const ReportPoint& row = rows[first + k];
        SmoothedPoint p;
        p.runTime = row.runTime;
        p.rpm = fits[k].value;
        p.torque = flywheelTorqueMnm(inertia, fits[k].slope);
        p.outputPower = powerW(p.torque, p.rpm);
        p.inputPower = row.inputPower;
        // Near top speed the output power is a small difference of 100 RPM
        // steps and the input a few amperes in 0.1 A steps: their ratio can
        // leave the range a motor can have, and is held to it.
        p.efficiency = row.inputPower > 0.0 ? std::clamp(p.outputPower / row.inputPower * 100.0, 0.0, 100.0) : 0.0;
        smoothed.points.push_back(p);
    }
    double peak = 0.0;
    for (const SmoothedPoint& p : smoothed.points)
        peak = std::max(peak, p.torque);
    smoothed.efficiencyTorqueShare = settings.efficiencyTorqueShare;
    for (SmoothedPoint& p : smoothed.points)
        p.efficiencyResolved = peak > 0.0 && p.torque >= settings.efficiencyTorqueShare * peak;
    return smoothed;
}

QString SmoothedSpinUp::method() const
{
    static const char* const kDegrees[] = {"constant", "linear", "quadratic", "cubic", "quartic"};
    const char* degreeName = kDegrees[std::clamp(degree, 0, kMaxDegree)];
    return QStringLiteral("Smoothed: local %1 least-squares fit of RPM against run time (Savitzky-Golay), "
                          "window %2 records (%3 s), differentiated; torque = J·dω/dt")
        .arg(QLatin1String(degreeName))
        .arg(windowRecords)
        .arg(seconds(windowSeconds));
}

QString SmoothedSpinUp::edges() const
{
    if (points.empty())
        return {};
    return QStringLiteral("Spin-up %1 s to %2 s, from the last record at its lowest speed to the last at top "
                          "speed; at both ends the window slides inward and takes no record from outside it")
        .arg(seconds(points.front().runTime), seconds(points.back().runTime));
}

QString SmoothedSpinUp::efficiencyNote() const
{
    return QStringLiteral("Smoothed: smoothed output power over recorded input power, drawn where the smoothed "
                          "torque is above %1 % of its peak;\nbelow it the 100 RPM steps no longer resolve the "
                          "output power")
        .arg(QLocale::c().toString(100.0 * efficiencyTorqueShare, 'g', 3));
}

} // namespace zelvar::curves
