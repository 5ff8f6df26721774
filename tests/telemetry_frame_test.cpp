#include "link/TelemetryFrame.h"

#include <gtest/gtest.h>

#include <initializer_list>

using zelvar::TelemetryFrame;

namespace {

TelemetryFrame frameWith(std::initializer_list<std::pair<int, int>> bytes)
{
    TelemetryFrame f;
    f.bytes[0] = TelemetryFrame::kSync0;
    f.bytes[1] = TelemetryFrame::kSync1;
    f.bytes[11] = TelemetryFrame::RunSample;
    f.bytes[12] = TelemetryFrame::kTrailer;
    for (auto [pos, value] : bytes)
        f.bytes[static_cast<std::size_t>(pos)] = static_cast<std::uint8_t>(value);
    return f;
}

struct TickCase {
    int b2, b3, b4;
    int ticks;
    const char* runTime;
};

class TickCountTest : public testing::TestWithParam<TickCase> {};

TEST_P(TickCountTest, ByteTwoWeighs4096)
{
    const TickCase& c = GetParam();
    const TelemetryFrame f = frameWith({{2, c.b2}, {3, c.b3}, {4, c.b4}});
    EXPECT_EQ(f.tickCount(), c.ticks) << "bytes " << c.b2 << " " << c.b3 << " " << c.b4;
    EXPECT_EQ(zelvar::Decimal::fromDouble(f.runTime()).toString(), c.runTime);
}

INSTANTIATE_TEST_SUITE_P(Frames, TickCountTest,
                         testing::Values(TickCase{0x01, 0x00, 0x00, 4096, "40.96"},
                                         TickCase{0x00, 0x10, 0x00, 4096, "40.96"},
                                         TickCase{0xFF, 0xFF, 0xFF, 1110015, "11100.15"},
                                         TickCase{0x00, 0x01, 0xF4, 500, "5"}, TickCase{0x00, 0x00, 0x00, 0, "0"}));

TEST(TelemetryFrame, SampleValuesAreExactDecimals)
{
    const TelemetryFrame f = frameWith({{5, 0x04}, {6, 0xD2}, {7, 0x00}, {8, 0x7B}, {9, 0x00}, {10, 0x64}});
    EXPECT_EQ(f.outputVoltage().toString(), "12.34");
    EXPECT_EQ(f.outputCurrent().toString(), "12.3");
    EXPECT_EQ(f.rpm().toString(), "10000");

    const TelemetryFrame top = frameWith({{5, 0xFF}, {6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}});
    EXPECT_EQ(top.outputVoltage().toString(), "655.35");
    EXPECT_EQ(top.outputCurrent().toString(), "6553.5");
    EXPECT_EQ(top.rpm().toString(), "6553500");
}

TEST(TelemetryFrame, SetupValuesFollowTheControllersByteOrder)
{
    const TelemetryFrame f = frameWith(
        {{3, 0x01}, {4, 0x31}, {5, 0x09}, {6, 0x60}, {7, 0x77}, {8, 30}, {9, 2}, {10, 40}, {11, 0x50}});
    EXPECT_DOUBLE_EQ(f.flywheelRadius(), 30.5);
    EXPECT_DOUBLE_EQ(f.flywheelWeight(), 240.0);
    EXPECT_DOUBLE_EQ(f.escNeutral(), 1500.0);
    EXPECT_DOUBLE_EQ(f.interval(), 20.0);
    EXPECT_DOUBLE_EQ(f.escFull(), 2000.0);
}

TEST(TelemetryFrame, KindAndTrailerMustBothMatch)
{
    EXPECT_TRUE(frameWith({}).is(TelemetryFrame::RunSample));
    EXPECT_FALSE(frameWith({{11, 0x41}}).is(TelemetryFrame::RunSample));
    for (int kind : {0x40, 0x50, 0x60}) {
        const TelemetryFrame bad = frameWith({{11, kind}, {12, 0xFB}});
        EXPECT_FALSE(bad.is(static_cast<TelemetryFrame::Kind>(kind))) << "kind " << kind;
    }
}

} // namespace
