#include "tools/dyno-sim/SimOptions.h"

#include <QCommandLineParser>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

namespace zelvar::dynosim {

long long SimOptions::lastTick() const
{
    long long last = kMaxTick;
    if (durationTicks > 0)
        last = std::min(last, durationTicks - 1);
    else if (schedule.totalTicks() > 0)
        last = std::min(last, schedule.totalTicks() - 1);
    else
        return -1;
    return last;
}

namespace {

// A bad value: the message becomes the program's one line of complaint.
struct BadValue : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QString describe(double value)
{
    return QLocale::c().toString(value, 'g', 12);
}

class Reader {
public:
    explicit Reader(const QCommandLineParser& parser) : parser_(parser) {}

    std::optional<double> number(const QString& name, double least, double most, bool leastIncluded = true)
    {
        if (!parser_.isSet(name))
            return std::nullopt;
        const QString text = parser_.value(name);
        bool ok = false;
        const double value = QLocale::c().toDouble(text.trimmed(), &ok);
        if (!ok || !std::isfinite(value))
            fail(name, QStringLiteral("\"%1\" is not a number").arg(text));
        if (value < least || (!leastIncluded && value == least))
            fail(name, QStringLiteral("%1 is too small (%2 %3)")
                           .arg(text, leastIncluded ? QStringLiteral("at least") : QStringLiteral("more than"),
                                describe(least)));
        if (value > most)
            fail(name, QStringLiteral("%1 is too large (at most %2)").arg(text, describe(most)));
        return value;
    }

    // A list of numbers separated by commas, such as 8,12,16.
    std::optional<std::vector<double>> numbers(const QString& name, double least, double most,
                                               bool leastIncluded = true)
    {
        if (!parser_.isSet(name))
            return std::nullopt;
        const QString text = parser_.value(name);
        std::vector<double> values;
        for (const QString& part : text.split(QLatin1Char(','))) {
            bool ok = false;
            const double value = QLocale::c().toDouble(part.trimmed(), &ok);
            if (!ok || !std::isfinite(value))
                fail(name, QStringLiteral("\"%1\" is not a number").arg(part.trimmed()));
            if (value < least || (!leastIncluded && value == least))
                fail(name,
                     QStringLiteral("%1 is too small (%2 %3)")
                         .arg(part.trimmed(), leastIncluded ? QStringLiteral("at least") : QStringLiteral("more than"),
                              describe(least)));
            if (value > most)
                fail(name, QStringLiteral("%1 is too large (at most %2)").arg(part.trimmed(), describe(most)));
            values.push_back(value);
        }
        return values;
    }

    std::optional<long long> integer(const QString& name, long long least, long long most)
    {
        if (!parser_.isSet(name))
            return std::nullopt;
        const QString text = parser_.value(name);
        bool ok = false;
        const qlonglong value = text.trimmed().toLongLong(&ok);
        if (!ok)
            fail(name, QStringLiteral("\"%1\" is not a whole number").arg(text));
        if (value < least || value > most)
            fail(name, QStringLiteral("%1 is out of range (%2 to %3)").arg(text).arg(least).arg(most));
        return value;
    }

    // A value the set-up frame carries as a whole number of `step`s.
    std::optional<int> steps(const QString& name, double step, int most, const QString& unit)
    {
        const std::optional<double> value = number(name, 0.0, most * step);
        if (!value)
            return std::nullopt;
        const double count = *value / step;
        if (std::abs(count - std::round(count)) > 1e-6)
            fail(name, QStringLiteral("%1 is not a multiple of %2 %3 (the set-up frame's step)")
                           .arg(parser_.value(name), describe(step), unit));
        return static_cast<int>(std::lround(count));
    }

    // Seconds, counted in whole ticks.
    std::optional<long long> ticks(const QString& name, double least, bool leastIncluded = true)
    {
        const std::optional<double> seconds = number(name, least, kMaxTick * kTickSeconds, leastIncluded);
        if (!seconds)
            return std::nullopt;
        return std::llround(*seconds / kTickSeconds);
    }

    std::optional<double> chance(const QString& name) { return number(name, 0.0, 1.0); }

    [[noreturn]] static void fail(const QString& name, const QString& why)
    {
        throw BadValue(QStringLiteral("--%1: %2").arg(name, why).toStdString());
    }

private:
    const QCommandLineParser& parser_;
};

template <class T, class U>
void assign(T& target, const std::optional<U>& value)
{
    if (value)
        target = static_cast<T>(*value);
}

QCommandLineOption option(const char* name, const char* help, const char* valueName = nullptr,
                          const QString& defaultShown = {})
{
    QString text = QString::fromUtf8(help);
    if (!defaultShown.isEmpty())
        text += QStringLiteral(" Default: %1.").arg(defaultShown);
    if (valueName == nullptr)
        return QCommandLineOption(QString::fromLatin1(name), text);
    return QCommandLineOption(QString::fromLatin1(name), text, QString::fromLatin1(valueName));
}

void addOptions(QCommandLineParser& parser)
{
    const SimOptions d;
    const auto num = [](double v) { return describe(v); };
    parser.addOptions({
        // The flywheel and the controller's set-up frame.
        option("radius", "Flywheel radius in mm, in steps of 0.1 mm.", "MM", num(d.flywheel.radiusMm)),
        option("weight", "Flywheel weight in g, in steps of 0.1 g.", "G", num(d.flywheel.weightG)),
        option("esc-neutral", "ESC neutral timing in us, in steps of 50 us (set-up frame only).", "US",
               num(d.setup.escNeutral * 50)),
        option("esc-full", "ESC full-throttle timing in us, in steps of 50 us (set-up frame only).", "US",
               num(d.setup.escFull * 50)),
        option("interval",
               "Sampling interval in ms sent in the set-up frame, in steps of 10 ms (the program records "
               "samples whose tick count is a multiple of interval/10; 0 makes its receiver fail).",
               "MS", num(d.setup.interval * 10)),
        // The motor and its supply.
        option("kv", "Motor speed constant in RPM per volt.", "RPM/V", num(d.motor.kv)),
        option("resistance", "Motor winding resistance in ohm.", "OHM", num(d.motor.windingResistance)),
        option("no-load-current", "Motor no-load current in A (its friction and iron losses).", "A",
               num(d.motor.noLoadCurrent)),
        option("supply",
               "Supply voltage in V, open circuit. A list such as 8,12,16 gives the runs one each, in order; the "
               "last holds for the runs after it.",
               "V[,V...]", num(d.motor.supplyVoltage)),
        option("supplies",
               "A sweep in one stream: one spin-up at each of these open-circuit supply voltages in V, in order, "
               "such as 8,12,16. Without --repeat the stream is one sweep; with it the runs start the list over.",
               "V,V..."),
        option("supply-resistance", "Internal resistance of the supply in ohm.", "OHM", num(d.motor.supplyResistance)),
        // The winding's warmth.
        option("heating",
               "The winding warms with its I^2 R loss and cools toward the ambient between runs, its resistance "
               "growing by 0.39 % per kelvin as copper's does; --resistance is the cold winding's. Off by default: "
               "the resistance stays the same."),
        option("heat-capacity", "With --heating: the heat capacity of the winding and the iron around it, in J/K.",
               "J/K", num(HeatingParameters{}.heatCapacity)),
        option("cooling-time", "With --heating: the time constant in s in which the winding cools toward the ambient.",
               "S", num(HeatingParameters{}.coolingSeconds)),
        // The rig.
        option("friction",
               "Bearing friction of the rig in mN m, up to 1000 and below the motor's stall torque: a constant "
               "torque against the rotation while the flywheel turns (it holds a standing flywheel, never turns "
               "it).",
               "MNM", QStringLiteral("0")),
        option("windage",
               "The air's drag torque on the flywheel at 10000 RPM in mN m, up to 1000; it grows with the square "
               "of the RPM.",
               "MNM", QStringLiteral("0")),
        // The runs.
        option("idle", "Standstill before each spin-up, in s (10 ms steps).", "S",
               num(d.schedule.idleTicks * kTickSeconds)),
        option("spin", "How long the motor is powered in each run, in s.", "S",
               num(d.schedule.spinTicks * kTickSeconds)),
        option("coast",
               "After each spin the motor is disconnected for this long, in s: the current reads 0, the voltage "
               "the open supply's, and only the rig's friction and windage slow the flywheel.",
               "S", QStringLiteral("0")),
        option("brake",
               "Time in which the brake stops the flywheel after each spin (and coast), in s; sooner where the "
               "rig's friction and windage alone slow it faster.",
               "S", num(d.schedule.brakeTicks * kTickSeconds)),
        option("repeat", "Number of runs; 0 repeats them without end.", "N", QStringLiteral("0")),
        option("duration",
               "Ends the stream after this much run time, in s; 0 ends it after the last run (with "
               "--repeat 0, never). The tick count stops at 1110015 (11100.15 s): the stream ends there in "
               "any case.",
               "S", QStringLiteral("0")),
        // The stream.
        option("kind", "Sample frames to send: run (RunSample, 0x40) or live (LiveSample, 0x60).", "run|live",
               QStringLiteral("run")),
        option("pace",
               "real: one tick every 10 ms of wall time; line: frames back to back at the baud rate "
               "(886 frames/s at 115200), the run time then runs faster than the clock.",
               "real|line", QStringLiteral("real")),
        option("baud", "Line rate for --pace line, 8N1.", "BAUD", QString::number(d.baud)),
        // Faults.
        option("stray", "Chance per frame of 1 to 4 stray bytes before it (0 to 1).", "P", QStringLiteral("0")),
        option("bad-trailer", "Chance per frame that its trailer is not 0xFA.", "P", QStringLiteral("0")),
        option("bad-kind", "Chance per frame that its kind byte is none of 0x40, 0x50, 0x60.", "P",
               QStringLiteral("0")),
        option("duplicate", "Chance per frame that it is sent twice in a row.", "P", QStringLiteral("0")),
        option("burst", "Deliver the frames of N ticks together, in one write.", "N", QStringLiteral("1")),
        option("vanish-after", "The device disappears (the pseudo-terminal closes) after this much run time, in s.",
               "S"),
        option("seed", "Seed of the fault pattern: the same seed gives the same faults.", "N",
               QStringLiteral("a fresh one, printed at start")),
        // Where things go.
        option("com", "COM port number shown in the ZELVAR_COM<n> line.", "N", QString::number(d.comPort)),
        option("link-file", "Write the ZELVAR_COM<n>=<device> line to FILE once the device is ready.", "FILE"),
        option("wait-for-reader", "Start the runs only when a program opens the device (until then nothing is sent)."),
        option("out",
               "Also write every byte sent on the line to FILE (frames dropped for a full buffer are "
               "not in it).",
               "FILE"),
        option("truth",
               "Write the model's true values per tick to FILE as CSV: time_s, rpm, torque_mNm (the net "
               "torque that accelerates the flywheel), output_power_W, input_power_W, voltage_V, current_A, "
               "motor_torque_mNm, loss_torque_mNm (the rig's friction and windage), motor_output_power_W, "
               "winding_resistance_ohm (the winding's, warming with --heating), supply_V (the open supply of the "
               "run).",
               "FILE"),
    });
}

void readOptions(const QCommandLineParser& parser, SimOptions& o)
{
    Reader read(parser);

    if (const auto radius = read.steps(QStringLiteral("radius"), 0.1, 65535, QStringLiteral("mm"))) {
        o.setup.radiusTenthsMm = *radius;
        o.flywheel.radiusMm = *radius / 10.0;
    }
    if (const auto weight = read.steps(QStringLiteral("weight"), 0.1, 65535, QStringLiteral("g"))) {
        o.setup.weightTenthsG = *weight;
        o.flywheel.weightG = *weight / 10.0;
    }
    if (o.setup.radiusTenthsMm == 0 || o.setup.weightTenthsG == 0)
        throw BadValue("--radius and --weight: a flywheel of radius or weight 0 cannot be spun up");
    assign(o.setup.escNeutral, read.steps(QStringLiteral("esc-neutral"), 50, 255, QStringLiteral("us")));
    assign(o.setup.escFull, read.steps(QStringLiteral("esc-full"), 50, 255, QStringLiteral("us")));
    assign(o.setup.interval, read.steps(QStringLiteral("interval"), 10, 255, QStringLiteral("ms")));

    const double big = std::numeric_limits<double>::max();
    assign(o.motor.kv, read.number(QStringLiteral("kv"), 0.0, big, false));
    assign(o.motor.windingResistance, read.number(QStringLiteral("resistance"), 0.0, big, false));
    assign(o.motor.noLoadCurrent, read.number(QStringLiteral("no-load-current"), 0.0, big));
    // The frame carries at most 655.35 V.
    const bool sweep = parser.isSet(QStringLiteral("supplies"));
    const QString supplyName = sweep ? QStringLiteral("supplies") : QStringLiteral("supply");
    if (sweep && parser.isSet(QStringLiteral("supply")))
        throw BadValue("--supply and --supplies: give the runs' supplies with one of them");
    const std::vector<double> supplies =
        read.numbers(supplyName, 0.0, 655.35, false).value_or(std::vector<double>{o.motor.supplyVoltage});
    o.motor.supplyVoltage = supplies.front();
    if (supplies.size() > 1 || sweep) {
        o.supplies.volts = supplies;
        o.supplies.sweep = sweep;
    }
    assign(o.motor.supplyResistance, read.number(QStringLiteral("supply-resistance"), 0.0, big));

    // Every supply must give a motor the frames can carry; the cold winding
    // draws the most current, and a warm one only less.
    const auto at = [&](double volts) {
        return supplies.size() > 1 ? QStringLiteral(" at %1 V").arg(describe(volts)) : QString();
    };
    std::vector<MotorModel> models;
    for (const double volts : supplies) {
        MotorParameters motor = o.motor;
        motor.supplyVoltage = volts;
        const MotorModel& model = models.emplace_back(motor, o.flywheel);
        if (model.stallCurrent() > 6553.5)
            throw BadValue(QStringLiteral("--%1 and --resistance: the stall current of %2 A%3 is more than the "
                                          "6553.5 A a frame carries")
                               .arg(supplyName, describe(model.stallCurrent()), at(volts))
                               .toStdString());
        if (o.motor.noLoadCurrent >= model.stallCurrent())
            throw BadValue(QStringLiteral("--no-load-current: %1 A is not below the stall current of %2 A%3: the "
                                          "motor would not turn")
                               .arg(describe(o.motor.noLoadCurrent), describe(model.stallCurrent()), at(volts))
                               .toStdString());
        if (model.noLoadRpm() > 6553500.0)
            throw BadValue(QStringLiteral("--kv and --%1: the no-load speed of %2 RPM%3 is more than the 6553500 "
                                          "RPM a frame carries")
                               .arg(supplyName, describe(model.noLoadRpm()), at(volts))
                               .toStdString());
    }

    // Far beyond the losses of any small motor's rig: a larger value is a
    // slip of the unit.
    constexpr double kMostLossMnm = 1000.0;
    const double friction = read.number(QStringLiteral("friction"), 0.0, kMostLossMnm).value_or(0.0);
    const double windage = read.number(QStringLiteral("windage"), 0.0, kMostLossMnm).value_or(0.0);
    for (std::size_t i = 0; i < models.size(); ++i) {
        const double stallTorque = models[i].stallTorque();
        if (friction >= 1000.0 * stallTorque)
            throw BadValue(QStringLiteral("--friction: %1 mN m is not below the motor's stall torque of %2 mN m%3: "
                                          "the flywheel would not turn")
                               .arg(describe(friction), describe(1000.0 * stallTorque), at(supplies[i]))
                               .toStdString());
    }
    o.losses = RigLosses::fromMeasured(friction, windage);

    assign(o.schedule.idleTicks, read.ticks(QStringLiteral("idle"), 0.0));
    assign(o.schedule.spinTicks, read.ticks(QStringLiteral("spin"), kTickSeconds));
    assign(o.schedule.coastTicks, read.ticks(QStringLiteral("coast"), 0.0));
    assign(o.schedule.brakeTicks, read.ticks(QStringLiteral("brake"), 0.0));
    assign(o.schedule.repeat, read.integer(QStringLiteral("repeat"), 0, 1000000));
    const auto count = static_cast<int>(supplies.size());
    if (sweep && !parser.isSet(QStringLiteral("repeat")))
        o.schedule.repeat = count;
    if (o.schedule.repeat > 0 && o.schedule.repeat < count)
        Reader::fail(supplyName, QStringLiteral("%1 supplies for %2 runs (--repeat): some would never be used")
                                     .arg(count)
                                     .arg(o.schedule.repeat));

    if (parser.isSet(QStringLiteral("heating"))) {
        HeatingParameters heating;
        assign(heating.heatCapacity, read.number(QStringLiteral("heat-capacity"), 0.0, big, false));
        assign(heating.coolingSeconds, read.number(QStringLiteral("cooling-time"), 0.0, big, false));
        o.heating = heating;
    } else {
        for (const char* name : {"heat-capacity", "cooling-time"})
            if (parser.isSet(QString::fromLatin1(name)))
                Reader::fail(QString::fromLatin1(name), QStringLiteral("only with --heating"));
    }
    assign(o.durationTicks, read.ticks(QStringLiteral("duration"), 0.0));
    assign(o.vanishTick, read.ticks(QStringLiteral("vanish-after"), 0.0, false));

    if (parser.isSet(QStringLiteral("kind"))) {
        const QString kind = parser.value(QStringLiteral("kind"));
        if (kind == QLatin1String("run"))
            o.kind = TelemetryFrame::RunSample;
        else if (kind == QLatin1String("live"))
            o.kind = TelemetryFrame::LiveSample;
        else
            Reader::fail(QStringLiteral("kind"), QStringLiteral("\"%1\" is neither run nor live").arg(kind));
    }
    if (parser.isSet(QStringLiteral("pace"))) {
        const QString pace = parser.value(QStringLiteral("pace"));
        if (pace == QLatin1String("real"))
            o.pace = Pace::RealTime;
        else if (pace == QLatin1String("line"))
            o.pace = Pace::Line;
        else
            Reader::fail(QStringLiteral("pace"), QStringLiteral("\"%1\" is neither real nor line").arg(pace));
    }
    assign(o.baud, read.integer(QStringLiteral("baud"), 50, 100000000));

    assign(o.faults.stray, read.chance(QStringLiteral("stray")));
    assign(o.faults.badTrailer, read.chance(QStringLiteral("bad-trailer")));
    assign(o.faults.badKind, read.chance(QStringLiteral("bad-kind")));
    assign(o.faults.duplicate, read.chance(QStringLiteral("duplicate")));
    assign(o.faults.burstTicks, read.integer(QStringLiteral("burst"), 1, 100000));
    if (parser.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        o.faults.seed = parser.value(QStringLiteral("seed")).trimmed().toULongLong(&ok);
        if (!ok)
            Reader::fail(QStringLiteral("seed"), QStringLiteral("\"%1\" is not a whole number of 0 or more")
                                                     .arg(parser.value(QStringLiteral("seed"))));
        o.seedGiven = true;
    }

    assign(o.comPort, read.integer(QStringLiteral("com"), 1, 999));
    o.waitForReader = parser.isSet(QStringLiteral("wait-for-reader"));
    o.linkFile = parser.value(QStringLiteral("link-file"));
    o.outFile = parser.value(QStringLiteral("out"));
    o.truthFile = parser.value(QStringLiteral("truth"));
}

} // namespace

ParseResult parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated dyno controller. A brushed DC motor spins the flywheel up from standstill;\n"
                       "the controller streams its telemetry frames on a new pseudo-terminal, which the\n"
                       "program opens like any serial port: run it with the printed ZELVAR_COM<n>=<device>\n"
                       "line in its environment. Sent: a set-up frame (flywheel, ESC, interval) at the start\n"
                       "and once a second of run time, and one sample frame every 10 ms tick (run time,\n"
                       "voltage, current, RPM, rounded to the frame's 0.01 V, 0.1 A and 100 RPM). Frames that\n"
                       "find the device's buffer full (nobody reading) are dropped, as a real adapter does.\n"
                       "The tick count runs on from the start of the stream, across runs. The stream ends\n"
                       "with its duration or on Ctrl-C, and the device closes (a program still reading it\n"
                       "sees the device disappear). Faults are chosen with the options below; --seed\n"
                       "replays a fault pattern. By default the rig has no losses of its own; --friction\n"
                       "and --windage give it some, and --coast lets the flywheel coast down on them\n"
                       "between each spin and its brake. For a set of runs, --supply with a list or\n"
                       "--supplies feeds them from several supply voltages, and --heating lets the\n"
                       "winding warm from run to run."));
    parser.addHelpOption();
    parser.addVersionOption();
    addOptions(parser);

    ParseResult result;
    if (!parser.parse(arguments)) {
        result.text = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        result.action = ParseResult::Action::Help;
        result.text = parser.helpText();
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        result.action = ParseResult::Action::Version;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.text = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst());
        return result;
    }
    try {
        readOptions(parser, result.options);
    } catch (const BadValue& e) {
        result.text = QString::fromStdString(e.what());
        return result;
    }
    result.action = ParseResult::Action::Run;
    return result;
}

} // namespace zelvar::dynosim
