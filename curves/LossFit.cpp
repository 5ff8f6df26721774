#include "curves/LossFit.h"

#include "curves/LeastSquares.h"
#include "curves/Units.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace zelvar::curves {

namespace {

QString number(double value, int digits = 3)
{
    return QLocale::c().toString(value, 'g', digits);
}

} // namespace

CoastDownSearch findCoastDown(const std::vector<ReportPoint>& rows, std::size_t spinUpLast, double inertia,
                              std::optional<double> maxLossAtTopMnm, const CoastDownSettings& settings)
{
    CoastDownSearch search;
    const std::size_t s = spinUpLast + 1;
    if (s >= rows.size()) {
        search.reason = QStringLiteral("the records end with the spin-up");
        return search;
    }
    if (rows[s].current != 0.0 || rows[s].rpm <= 0.0) {
        search.reason = rows[s].rpm <= 0.0 ? QStringLiteral("the flywheel stands right after the spin-up")
                                           : QStringLiteral("the current does not fall to 0 after the spin-up");
        return search;
    }
    // The stretch with the current at 0 and the speed never rising.
    std::size_t e = s;
    QString end = QStringLiteral("the end of the records");
    while (e + 1 < rows.size()) {
        const ReportPoint& next = rows[e + 1];
        if (next.current != 0.0) {
            end = QStringLiteral("the current coming back");
            break;
        }
        if (next.rpm > rows[e].rpm) {
            end = QStringLiteral("the speed rising");
            break;
        }
        if (next.rpm <= 0.0) {
            end = QStringLiteral("standstill");
            break;
        }
        ++e;
    }
    // The brake: the speed suddenly falls many times faster than the coast
    // lost it over the second before. The coast's deceleration only ever
    // falls with the speed, so a jump is something else taking hold.
    std::size_t back = s;
    std::size_t ahead = s;
    for (std::size_t k = s; k <= e; ++k) {
        if (rows[k].runTime - rows[s].runTime < 0.5)
            continue;
        while (back < k && rows[back].runTime < rows[k].runTime - 1.0)
            ++back;
        ahead = std::max(ahead, k);
        while (ahead <= e && rows[ahead].runTime < rows[k].runTime + settings.brakeLookAhead)
            ++ahead;
        if (ahead > e)
            break;
        const double backSeconds = rows[k].runTime - rows[back].runTime;
        const double aheadSeconds = rows[ahead].runTime - rows[k].runTime;
        if (backSeconds <= 0.0 || aheadSeconds <= 0.0)
            continue;
        const double backRate = (rows[back].rpm - rows[k].rpm) / backSeconds;
        const double drop = rows[k].rpm - rows[ahead].rpm;
        if (drop > settings.brakeJump * backRate * aheadSeconds + 2.0 * settings.rpmStep) {
            e = k;
            end = QStringLiteral("the brake");
            break;
        }
    }
    const double seconds = rows[e].runTime - rows[s].runTime;
    if (seconds < settings.minSeconds) {
        search.reason = QStringLiteral("the flywheel slowed with the current at 0 for only %1 s, ended by %2; a "
                                       "coast-down lasts at least %3 s, and a brake alone is none")
                            .arg(QLocale::c().toString(seconds, 'f', 2), end, number(settings.minSeconds));
        return search;
    }
    if (maxLossAtTopMnm) {
        // The deceleration over the coast's first second (or quarter).
        const double span = std::min(1.0, seconds / 4.0);
        std::size_t k = s;
        while (k < e && rows[k].runTime - rows[s].runTime < span)
            ++k;
        const double rate = (rows[s].rpm - rows[k].rpm) / (rows[k].runTime - rows[s].runTime);
        const double lossMnm = flywheelTorqueMnm(inertia, rate);
        const double limit = 1.5 * std::max(0.0, *maxLossAtTopMnm) + 3.0;
        if (lossMnm > limit) {
            search.reason = QStringLiteral("the flywheel slowed at %1 mN·m right after the spin-up, far more than "
                                           "the %2 mN·m the motor gave at top speed: a brake, not a coast-down")
                                .arg(number(lossMnm), number(std::max(0.0, *maxLossAtTopMnm)));
            return search;
        }
    }
    search.coast = CoastDown{s, e, rows[s].runTime, rows[e].runTime, end};
    return search;
}

LossFit fitLosses(const std::vector<ReportPoint>& rows, const CoastDown& coast, double inertia)
{
    LossFit fit;
    fit.coast = coast;
    const std::size_t first = coast.first;
    const std::size_t last = std::min(coast.last, rows.size() - 1);
    const std::size_t count = last - first + 1;
    fit.maxRpm = rows[first].rpm;
    fit.minRpm = rows[last].rpm;

    // The smoothed speed and its slope at evenly spread records: a couple of
    // thousand points fix three coefficients as well as every record would.
    // Each window is as short as lets the speed fall by kWindowRpm (fifteen
    // of its 100 RPM steps), between kMinHalf and kMaxHalf seconds either
    // side: near top speed, where the windage's deceleration changes fast,
    // a fraction of a second; near standstill, where friction alone slows
    // the flywheel by a step every second or so, several seconds.
    constexpr double kWindowRpm = 1500.0;
    constexpr double kMinHalf = 0.1, kMaxHalf = 3.0; // s
    const std::size_t stride = std::max<std::size_t>(1, count / 2000);
    std::vector<double> omega;
    std::vector<double> loss;
    double windowSum = 0.0, windowSecondsSum = 0.0;
    for (std::size_t i = first; i <= last; i += stride) {
        std::size_t lo = i, hi = i;
        for (;;) {
            const double seconds = rows[hi].runTime - rows[lo].runTime;
            const bool wide = seconds >= 2.0 * kMinHalf && rows[lo].rpm - rows[hi].rpm >= kWindowRpm;
            if (wide || seconds >= 2.0 * kMaxHalf || (lo == first && hi == last))
                break;
            // Widen on both sides, sliding inward at the ends of the coast.
            if (lo > first)
                --lo;
            else if (hi < last)
                ++hi;
            if (hi < last)
                ++hi;
            else if (lo > first)
                --lo;
        }
        const double scale = std::max(1e-9,
                                      std::max(rows[i].runTime - rows[lo].runTime, rows[hi].runTime - rows[i].runTime));
        NormalEquations<3> local;
        for (std::size_t k = lo; k <= hi; ++k) {
            const double u = (rows[k].runTime - rows[i].runTime) / scale;
            local.add({1.0, u, u * u}, rows[k].rpm);
        }
        const std::optional<Solution<3>> s = local.solve();
        if (!s)
            continue;
        windowSum += static_cast<double>(hi - lo + 1);
        windowSecondsSum += rows[hi].runTime - rows[lo].runTime;
        omega.push_back(s->b[0] * kRadPerSecondPerRpm);
        loss.push_back(-kMnmPerNm * inertia * s->b[1] / scale * kRadPerSecondPerRpm);
    }
    if (omega.empty())
        return fit;
    const double samples = static_cast<double>(omega.size());
    fit.windowRecords = static_cast<int>(std::lround(windowSum / samples));
    fit.windowSeconds = windowSecondsSum / samples;
    const double length = fit.windowRecords;

    // Neighbouring points share most of their window: their errors are not
    // independent, and the spread of the fit is counted per window.
    const double correlated = std::max(1.0, length / static_cast<double>(stride));
    const double topOmega = std::max(1e-9, *std::max_element(omega.begin(), omega.end()));
    const bool held = fit.maxRpm - fit.minRpm < 2.0 * 100.0;
    if (held) {
        // One speed: the loss there, and nothing of how it grows.
        fit.terms = 1;
        double sum = 0.0;
        for (double l : loss)
            sum += l;
        const double mean = sum / static_cast<double>(loss.size());
        double spread = 0.0;
        for (double l : loss)
            spread += (l - mean) * (l - mean);
        const double n = static_cast<double>(loss.size());
        fit.c = {mean, 0.0, 0.0};
        fit.covariance[0][0] = n > 1 ? spread / (n - 1) / n * correlated : 0.0;
        return fit;
    }
    NormalEquations<3> global;
    for (std::size_t k = 0; k < omega.size(); ++k) {
        const double u = omega[k] / topOmega;
        global.add({1.0, u, u * u}, loss[k]);
    }
    const std::optional<Solution<3>> s = global.solve();
    if (!s)
        return fit;
    const double scaleOf[3] = {1.0, 1.0 / topOmega, 1.0 / (topOmega * topOmega)};
    for (int r = 0; r < 3; ++r) {
        fit.c[r] = s->b[r] * scaleOf[r];
        for (int c = 0; c < 3; ++c)
            fit.covariance[r][c] = s->covariance[r][c] * scaleOf[r] * scaleOf[c] * correlated;
    }
    return fit;
}

double LossFit::torqueMnm(double rpm) const
{
    const double w = rpm * kRadPerSecondPerRpm;
    return c[0] + c[1] * w + c[2] * w * w;
}

double LossFit::sigmaMnm(double rpm) const
{
    const double w = rpm * kRadPerSecondPerRpm;
    const double g[3] = {1.0, w, w * w};
    double v = 0.0;
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col)
            v += g[r] * covariance[r][col] * g[col];
    }
    return std::sqrt(std::max(0.0, v));
}

bool LossFit::covers(double rpm) const
{
    // One step of the speed's 100 RPM resolution either side.
    return rpm >= minRpm - 100.0 && rpm <= maxRpm + 100.0;
}

QString LossFit::describe() const
{
    const QString coefficients =
        terms == 1 ? QStringLiteral("T_loss = %1 mN·m (the coast held one speed: c0 alone)").arg(number(c[0]))
                   : QStringLiteral("T_loss = %1 + %2·ω + %3·ω² mN·m (ω in rad/s)")
                         .arg(number(c[0]), number(c[1]), number(c[2]));
    return QStringLiteral("Loss fit from the coast-down %1 s to %2 s (%3 to %4 RPM, ended by %5): J·dω/dt of the "
                          "smoothed coast, %6")
        .arg(QLocale::c().toString(coast.startTime, 'f', 2), QLocale::c().toString(coast.endTime, 'f', 2),
             number(minRpm, 5), number(maxRpm, 5), coast.end, coefficients);
}

} // namespace zelvar::curves
