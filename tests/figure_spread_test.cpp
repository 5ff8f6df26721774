#include "sets/FigureSpread.h"

#include "CaseNames.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using zelvar::sets::figureSpreads;
using zelvar::sets::spreadOf;

struct SpreadCase {
    const char* name;
    std::vector<double> values;
    double mean;
    double deviation; // NAN: none
    double range;
};

void PrintTo(const SpreadCase& c, std::ostream* os)
{
    *os << c.name;
}

class SpreadOfValues : public testing::TestWithParam<SpreadCase> {};

TEST_P(SpreadOfValues, GivesTheMeanTheSampleDeviationAndTheRange)
{
    const SpreadCase& c = GetParam();
    const auto s = spreadOf(c.values);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->count, c.values.size());
    EXPECT_DOUBLE_EQ(s->mean, c.mean);
    if (std::isnan(c.deviation))
        EXPECT_FALSE(s->standardDeviation.has_value()) << "one value has no deviation";
    else
        EXPECT_NEAR(s->standardDeviation.value_or(-1.0), c.deviation, 1e-9);
    EXPECT_DOUBLE_EQ(s->range(), c.range);
}

INSTANTIATE_TEST_SUITE_P(Values, SpreadOfValues,
                         testing::Values(SpreadCase{"OneValue", {7.5}, 7.5, NAN, 0.0},
                                         SpreadCase{"FourValues", {1, 2, 3, 4}, 2.5, std::sqrt(5.0 / 3.0), 3.0},
                                         SpreadCase{"AllTheSame", {3, 3, 3}, 3.0, 0.0, 0.0},
                                         // A mean far from 0 must not eat the deviation's digits.
                                         SpreadCase{"FarFromZero", {1e9 + 1, 1e9 + 2, 1e9 + 3}, 1e9 + 2, 1.0, 2.0}),
                         zelvar::testing_support::CaseName());

TEST(SpreadOfValues, NoValuesNoSpread)
{
    EXPECT_FALSE(spreadOf({}).has_value());
}

zelvar::curves::MotorFigures motor(double kv, double kvSigma, const QString& peakPowerRefused = {})
{
    zelvar::curves::MotorFigures m;
    m.kv = {kv, kvSigma, {}};
    m.peakPower = {50.0, 0.1, peakPowerRefused};
    return m;
}

const zelvar::sets::FigureRowSpread& row(const std::vector<zelvar::sets::FigureRowSpread>& rows, const QString& name)
{
    for (const auto& r : rows) {
        if (r.name == name)
            return r;
    }
    throw std::runtime_error("no row " + name.toStdString());
}

TEST(FigureSpreads, FollowTheRowsOfEveryPrintoutWithTheMeanToTheDigitsItsDeviationSupports)
{
    const auto rows = figureSpreads({motor(1000, 2), motor(1010, 2), motor(1020, 2, "no spin-up")});
    ASSERT_EQ(rows.size(), zelvar::curves::figureRows({}).size());
    const auto& kv = row(rows, "Kv");
    EXPECT_EQ(kv.unit, "RPM/V");
    EXPECT_EQ(kv.spread->count, 3u);
    EXPECT_EQ(kv.text.value, "1010") << "σ 10 leaves no decimal worth showing";
    EXPECT_EQ(kv.text.sigma, "± 10");
    const auto& power = row(rows, "Peak output power");
    EXPECT_EQ(power.refused, 1u) << "the run that refused it does not count";
    EXPECT_EQ(power.spread->count, 2u);
    EXPECT_EQ(power.text.value, "50.00") << "no deviation below the last digit";
    EXPECT_TRUE(power.text.sigma.isEmpty());
}

TEST(FigureSpreads, OfOneRunAreItsOwnFigures)
{
    const auto rows = figureSpreads({motor(1234.56, 0.3)});
    const auto own = zelvar::curves::figureRows(motor(1234.56, 0.3));
    EXPECT_EQ(row(rows, "Kv").text.value, own.front().text.value);
    EXPECT_EQ(row(rows, "Kv").text.sigma, own.front().text.sigma);
}

} // namespace
