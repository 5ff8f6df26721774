// The simulated dyno's line faults and its command line: each fault flag does
// what it says and nothing else, a seed replays a pattern, and every option
// is checked before anything is opened.

#include "tools/dyno-sim/FaultPlan.h"
#include "tools/dyno-sim/FrameEncoder.h"
#include "tools/dyno-sim/SimOptions.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelvar::dynosim {
namespace {

constexpr int kTicks = 2000;

// What the controller sends for `kTicks` ticks: a set-up frame every 100
// ticks, a run sample every tick, each tick's sample distinct.
std::vector<std::vector<TelemetryFrame>> ticksOfFrames()
{
    std::vector<std::vector<TelemetryFrame>> ticks;
    for (int tick = 0; tick < kTicks; ++tick) {
        std::vector<TelemetryFrame> frames;
        if (tick % 100 == 0)
            frames.push_back(setupFrame({}));
        frames.push_back(sampleFrame(TelemetryFrame::RunSample, tick, {1200, 50, tick % 300}));
        ticks.push_back(frames);
    }
    return ticks;
}

QByteArray bytesOf(const TelemetryFrame& frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.bytes.data()), TelemetryFrame::kSize);
}

QByteArray cleanStream()
{
    QByteArray out;
    for (const auto& frames : ticksOfFrames())
        for (const TelemetryFrame& f : frames)
            out += bytesOf(f);
    return out;
}

int frameCount()
{
    return static_cast<int>(cleanStream().size() / TelemetryFrame::kSize);
}

struct Played {
    QByteArray stream;
    std::vector<Delivery> deliveries; // one entry per tick; empty while held back
    FaultCounts counts;
};

Played play(const FaultOptions& options)
{
    FaultPlan plan(options);
    Played r;
    for (const auto& frames : ticksOfFrames()) {
        r.deliveries.push_back(plan.push(frames));
        r.stream += r.deliveries.back().bytes;
    }
    r.stream += plan.flush().bytes;
    r.counts = plan.counts();
    return r;
}

std::vector<QByteArray> framesOf(const QByteArray& stream)
{
    std::vector<QByteArray> frames;
    for (qsizetype at = 0; at + TelemetryFrame::kSize <= stream.size(); at += TelemetryFrame::kSize)
        frames.push_back(stream.mid(at, TelemetryFrame::kSize));
    return frames;
}

// Expected count of a fault with chance p over n frames: within five standard
// deviations, which a fixed seed either meets or never does.
void expectAbout(long long count, double p, int n, const char* what)
{
    const double mean = p * n;
    const double sd = std::sqrt(n * p * (1 - p));
    EXPECT_NEAR(static_cast<double>(count), mean, 5 * sd) << what;
    EXPECT_GT(count, 0) << what;
}

TEST(FaultPlan, WithoutFaultsEachTickGoesOutWholeAndUnchanged)
{
    const Played r = play({});
    EXPECT_EQ(r.stream, cleanStream());
    for (std::size_t tick = 0; tick < r.deliveries.size(); ++tick)
        ASSERT_EQ(r.deliveries[tick].frames, tick % 100 == 0 ? 2 : 1) << "tick " << tick;
}

TEST(FaultPlan, StrayBytesComeBetweenFramesThatStayIntact)
{
    const Played r = play({.stray = 0.1, .seed = 11});
    const std::vector<QByteArray> expected = framesOf(cleanStream());
    qsizetype at = 0;
    long long stray = 0;
    int gaps = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const qsizetype found = r.stream.indexOf(expected[i], at);
        ASSERT_GE(found, 0) << "frame " << i << " is not in the stream intact";
        const qsizetype gap = found - at;
        ASSERT_LE(gap, 4) << "before frame " << i;
        stray += gap;
        gaps += gap > 0 ? 1 : 0;
        at = found + TelemetryFrame::kSize;
    }
    EXPECT_EQ(at, r.stream.size()) << "nothing after the last frame";
    EXPECT_EQ(stray, r.counts.strayBytes);
    expectAbout(gaps, 0.1, frameCount(), "frames with stray bytes before them");
    EXPECT_GT(r.stream.count('\xD9'), cleanStream().count('\xD9') + gaps / 8)
        << "stray bytes include false frame starts";
}

struct CorruptionCase {
    const char* name;
    FaultOptions options;
    int position;                                       // the byte a fault changes
    std::function<bool(std::uint8_t)> isBad;            // the changed byte is a fault
    std::function<long long(const FaultCounts&)> count; // as the plan counts them
    double chance;
};

TEST(FaultPlan, BadTrailersAndKindsChangeOnlyThatByteOfAFrame)
{
    const CorruptionCase cases[] = {
        {"bad trailer",
         {.badTrailer = 0.05, .seed = 3},
         12,
         [](std::uint8_t b) { return b != 0xFA; },
         [](const FaultCounts& c) { return c.badTrailers; },
         0.05},
        {"bad kind",
         {.badKind = 0.05, .seed = 4},
         11,
         [](std::uint8_t b) { return b != 0x40 && b != 0x50 && b != 0x60; },
         [](const FaultCounts& c) { return c.badKinds; },
         0.05},
    };
    for (const CorruptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Played r = play(c.options);
        const std::vector<QByteArray> sent = framesOf(r.stream);
        const std::vector<QByteArray> clean = framesOf(cleanStream());
        ASSERT_EQ(sent.size(), clean.size()) << "one frame sent for every frame, none added";
        long long bad = 0;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            QByteArray restored = sent[i];
            const auto changed = static_cast<std::uint8_t>(sent[i][c.position]);
            if (changed != static_cast<std::uint8_t>(clean[i][c.position])) {
                EXPECT_TRUE(c.isBad(changed)) << "frame " << i << " byte " << int(changed);
                ++bad;
                restored[c.position] = clean[i][c.position];
            }
            ASSERT_EQ(restored, clean[i]) << "frame " << i << " changed elsewhere";
        }
        EXPECT_EQ(bad, c.count(r.counts));
        expectAbout(bad, c.chance, frameCount(), c.name);
    }
}

TEST(FaultPlan, DuplicatedFramesFollowTheirOriginal)
{
    const Played r = play({.duplicate = 0.05, .seed = 5});
    const std::vector<QByteArray> sent = framesOf(r.stream);
    const std::vector<QByteArray> clean = framesOf(cleanStream());
    ASSERT_EQ(sent.size() * TelemetryFrame::kSize, static_cast<std::size_t>(r.stream.size()));
    std::vector<QByteArray> once;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (i > 0 && sent[i] == sent[i - 1])
            continue; // no two frames of the clean stream are alike back to back
        once.push_back(sent[i]);
    }
    EXPECT_EQ(once, clean);
    EXPECT_EQ(static_cast<long long>(sent.size() - clean.size()), r.counts.duplicates);
    expectAbout(r.counts.duplicates, 0.05, frameCount(), "duplicates");
}

TEST(FaultPlan, BurstsDeliverTheFramesOfSeveralTicksInOneWrite)
{
    for (const int burst : {2, 7}) {
        SCOPED_TRACE("burst " + std::to_string(burst));
        const Played r = play({.burstTicks = burst});
        EXPECT_EQ(r.stream, cleanStream());
        for (std::size_t tick = 0; tick < r.deliveries.size(); ++tick) {
            const bool due = (tick + 1) % static_cast<std::size_t>(burst) == 0;
            ASSERT_EQ(r.deliveries[tick].bytes.isEmpty(), !due) << "tick " << tick;
            if (due) {
                int setups = 0;
                for (std::size_t t = tick + 1 - static_cast<std::size_t>(burst); t <= tick; ++t)
                    setups += t % 100 == 0 ? 1 : 0;
                ASSERT_EQ(r.deliveries[tick].frames, burst + setups) << "tick " << tick;
            }
        }
    }
}

TEST(FaultPlan, ASeedReplaysItsFaultPatternAndAnotherSeedGivesAnother)
{
    const FaultOptions all{
        .stray = 0.1, .badTrailer = 0.05, .badKind = 0.05, .duplicate = 0.05, .burstTicks = 3, .seed = 42};
    FaultOptions other = all;
    other.seed = 43;
    EXPECT_EQ(play(all).stream, play(all).stream);
    EXPECT_NE(play(all).stream, play(other).stream);
}

// The command line.

ParseResult parse(const QStringList& arguments)
{
    return parseArguments(QStringList{"dyno-sim"} + arguments);
}

TEST(SimOptions, ValuesAreTakenInTheUnitsTheyAreGivenIn)
{
    const ParseResult r = parse({"--radius",
                                 "30.5",
                                 "--weight",
                                 "180.2",
                                 "--esc-neutral",
                                 "1450",
                                 "--esc-full",
                                 "1950",
                                 "--interval",
                                 "30",
                                 "--kv",
                                 "1800",
                                 "--resistance",
                                 "0.08",
                                 "--no-load-current",
                                 "0.7",
                                 "--supply",
                                 "7.4",
                                 "--supply-resistance",
                                 "0",
                                 "--friction",
                                 "2.5",
                                 "--windage",
                                 "30",
                                 "--idle",
                                 "0.25",
                                 "--spin",
                                 "3",
                                 "--coast",
                                 "1.5",
                                 "--brake",
                                 "0",
                                 "--repeat",
                                 "2",
                                 "--kind",
                                 "live",
                                 "--pace",
                                 "line",
                                 "--baud",
                                 "57600",
                                 "--stray",
                                 "0.01",
                                 "--burst",
                                 "4",
                                 "--vanish-after",
                                 "2.5",
                                 "--seed",
                                 "99",
                                 "--com",
                                 "7",
                                 "--wait-for-reader"});
    ASSERT_EQ(r.action, ParseResult::Action::Run) << r.text.toStdString();
    const SimOptions& o = r.options;
    EXPECT_EQ(o.setup, (SetupCode{305, 1802, 29, 39, 3}));
    EXPECT_EQ(o.flywheel.radiusMm, 30.5);
    EXPECT_EQ(o.flywheel.weightG, 180.2);
    EXPECT_EQ(o.motor.kv, 1800);
    EXPECT_EQ(o.motor.supplyResistance, 0.0);
    EXPECT_EQ(o.schedule.idleTicks, 25);
    EXPECT_EQ(o.schedule.spinTicks, 300);
    EXPECT_EQ(o.schedule.coastTicks, 150);
    EXPECT_EQ(o.schedule.brakeTicks, 0);
    EXPECT_EQ(o.losses.friction, 0.0025);
    EXPECT_NEAR(o.losses.torque(10000 * 2 * kPi / 60, 0.0), 0.0025 + 0.030, 1e-15) << "windage given at 10000 RPM";
    EXPECT_EQ(o.schedule.repeat, 2);
    EXPECT_EQ(o.kind, TelemetryFrame::LiveSample);
    EXPECT_EQ(o.pace, Pace::Line);
    EXPECT_EQ(o.lineBytesPerSecond(), 5760);
    EXPECT_EQ(o.faults.burstTicks, 4);
    EXPECT_EQ(o.vanishTick, 250);
    EXPECT_TRUE(o.seedGiven);
    EXPECT_EQ(o.faults.seed, 99u);
    EXPECT_EQ(o.comPort, 7);
    EXPECT_TRUE(o.waitForReader);
    EXPECT_EQ(o.lastTick(), 2 * 475 - 1) << "two runs of 0.25 + 3 + 1.5 + 0 s";
}

// A set of runs: their supplies, one list or a sweep, and a warming winding.
TEST(SimOptions, RunsOfASetTakeTheirSuppliesAndTheWindingsHeating)
{
    struct Case {
        QStringList arguments;
        double firstSupply;
        std::vector<double> supplies; // the schedule's list
        bool sweep;
        int repeat;
        std::optional<HeatingParameters> heating;
    };
    const Case cases[] = {
        {{}, 12, {}, false, 0, std::nullopt},
        {{"--supply", "7.4"}, 7.4, {}, false, 0, std::nullopt},
        {{"--supply", "8, 12,16", "--repeat", "5"}, 8, {8, 12, 16}, false, 5, std::nullopt},
        {{"--supplies", "8,12,16"}, 8, {8, 12, 16}, true, 3, std::nullopt},
        {{"--supplies", "8,12,16", "--repeat", "0"}, 8, {8, 12, 16}, true, 0, std::nullopt},
        {{"--supplies", "11.1", "--repeat", "4"}, 11.1, {11.1}, true, 4, std::nullopt},
        {{"--heating"}, 12, {}, false, 0, HeatingParameters{}},
        {{"--heating", "--heat-capacity", "25", "--cooling-time", "90"}, 12, {}, false, 0, HeatingParameters{25, 90}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ParseResult r = parse(c.arguments);
        ASSERT_EQ(r.action, ParseResult::Action::Run) << r.text.toStdString();
        const SimOptions& o = r.options;
        EXPECT_EQ(o.motor.supplyVoltage, c.firstSupply);
        EXPECT_EQ(o.supplies.volts, c.supplies);
        EXPECT_EQ(o.supplies.sweep, c.sweep);
        EXPECT_EQ(o.schedule.repeat, c.repeat);
        ASSERT_EQ(o.heating.has_value(), c.heating.has_value());
        if (c.heating) {
            EXPECT_EQ(o.heating->heatCapacity, c.heating->heatCapacity);
            EXPECT_EQ(o.heating->coolingSeconds, c.heating->coolingSeconds);
        }
    }
}

TEST(SimOptions, TheStreamEndsWithItsDurationElseWithTheRunsElseAtTheLastTickCount)
{
    struct Case {
        QStringList arguments;
        long long lastTick;
    };
    const Case cases[] = {
        {{}, -1},
        {{"--repeat", "1"}, 699},
        {{"--repeat", "1", "--duration", "2"}, 199},
        {{"--duration", "30"}, 2999},
        {{"--duration", "11100.15"}, kMaxTick - 1},
    };
    for (const Case& c : cases) {
        const ParseResult r = parse(c.arguments);
        ASSERT_EQ(r.action, ParseResult::Action::Run) << r.text.toStdString();
        EXPECT_EQ(r.options.lastTick(), c.lastTick) << c.arguments.join(' ').toStdString();
    }
}

TEST(SimOptions, BadValuesAreRefusedWithOneLineNamingTheOption)
{
    struct Case {
        QStringList arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--radius", "30.55"}, "--radius: 30.55 is not a multiple of 0.1 mm"},
        {{"--radius", "0"}, "cannot be spun up"},
        {{"--weight", "7000"}, "--weight: 7000 is too large (at most 6553.5)"},
        {{"--esc-neutral", "1525"}, "--esc-neutral: 1525 is not a multiple of 50 us"},
        {{"--esc-full", "13000"}, "--esc-full: 13000 is too large"},
        {{"--interval", "25"}, "--interval: 25 is not a multiple of 10 ms"},
        {{"--kv", "0"}, "--kv: 0 is too small (more than 0)"},
        {{"--kv", "fast"}, "--kv: \"fast\" is not a number"},
        {{"--resistance", "-1"}, "--resistance: -1 is too small"},
        {{"--supply", "700"}, "--supply: 700 is too large (at most 655.35)"},
        {{"--no-load-current", "200"}, "is not below the stall current"},
        {{"--resistance", "0.0001", "--supply-resistance", "0"}, "more than the 6553.5 A a frame carries"},
        {{"--friction", "-1"}, "--friction: -1 is too small (at least 0)"},
        {{"--friction", "lots"}, "--friction: \"lots\" is not a number"},
        {{"--friction", "1e6"}, "--friction: 1e6 is too large (at most 1000)"},
        {{"--friction", "500"}, "--friction: 500 mN m is not below the motor's stall torque"},
        {{"--windage", "-0.5"}, "--windage: -0.5 is too small (at least 0)"},
        {{"--windage", "nan"}, "--windage: \"nan\" is not a number"},
        {{"--windage", "5000"}, "--windage: 5000 is too large (at most 1000)"},
        {{"--spin", "0"}, "--spin: 0 is too small"},
        {{"--coast", "-1"}, "--coast: -1 is too small (at least 0)"},
        {{"--coast", "long"}, "--coast: \"long\" is not a number"},
        {{"--coast", "20000"}, "--coast: 20000 is too large"},
        {{"--repeat", "1.5"}, "--repeat: \"1.5\" is not a whole number"},
        {{"--duration", "20000"}, "--duration: 20000 is too large"},
        {{"--kind", "setup"}, "--kind: \"setup\" is neither run nor live"},
        {{"--pace", "fast"}, "--pace: \"fast\" is neither real nor line"},
        {{"--stray", "1.5"}, "--stray: 1.5 is too large (at most 1)"},
        {{"--bad-kind", "-0.1"}, "--bad-kind: -0.1 is too small"},
        {{"--burst", "0"}, "--burst: 0 is out of range"},
        {{"--vanish-after", "0"}, "--vanish-after: 0 is too small (more than 0)"},
        {{"--seed", "-3"}, "--seed: \"-3\" is not a whole number"},
        {{"--com", "0"}, "--com: 0 is out of range"},
        {{"--supply", "8,,12"}, "--supply: \"\" is not a number"},
        {{"--supply", "8,700"}, "--supply: 700 is too large (at most 655.35)"},
        {{"--supply", "8,12,16", "--repeat", "2"}, "--supply: 3 supplies for 2 runs (--repeat)"},
        {{"--supplies", "8,0"}, "--supplies: 0 is too small (more than 0)"},
        {{"--supplies", "8,twelve"}, "--supplies: \"twelve\" is not a number"},
        {{"--supplies", "0.01,12"}, "is not below the stall current of 0.0952380952381 A at 0.01 V"},
        {{"--supplies", "8,12", "--friction", "300"},
         "--friction: 300 mN m is not below the motor's stall torque of 289."},
        {{"--supplies", "8,12", "--friction", "300"}, "mN m at 8 V: the flywheel would not turn"},
        {{"--supply", "12", "--supplies", "8,12"}, "--supply and --supplies: give the runs' supplies with one"},
        {{"--heat-capacity", "50"}, "--heat-capacity: only with --heating"},
        {{"--cooling-time", "60"}, "--cooling-time: only with --heating"},
        {{"--heating", "--heat-capacity", "0"}, "--heat-capacity: 0 is too small (more than 0)"},
        {{"--heating", "--cooling-time", "soon"}, "--cooling-time: \"soon\" is not a number"},
        {{"--frobnicate"}, "Unknown option 'frobnicate'"},
        {{"--radius"}, "Missing value after '--radius'"},
        {{"extra"}, "unexpected argument \"extra\""},
    };
    for (const Case& c : cases) {
        const ParseResult r = parse(c.arguments);
        EXPECT_EQ(r.action, ParseResult::Action::Error) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(r.text.contains(QString::fromUtf8(c.message)))
            << c.arguments.join(' ').toStdString() << "\n  expected: " << c.message
            << "\n  actual:   " << r.text.toStdString();
        EXPECT_FALSE(r.text.contains('\n')) << r.text.toStdString();
    }
}

} // namespace
} // namespace zelvar::dynosim
