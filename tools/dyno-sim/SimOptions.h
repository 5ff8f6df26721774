#pragma once

#include "link/TelemetryFrame.h"
#include "tools/dyno-sim/Dyno.h"
#include "tools/dyno-sim/FaultPlan.h"
#include "tools/dyno-sim/FrameEncoder.h"
#include "tools/dyno-sim/MotorModel.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace zelvar::dynosim {

enum class Pace {
    RealTime, // one tick every 10 ms of wall time
    Line,     // frames back to back, as fast as the line's baud rate carries them
};

// Everything the command line chooses, checked and in the units the
// simulator works in.
struct SimOptions {
    MotorParameters motor;
    Flywheel flywheel;
    RigLosses losses;
    SetupCode setup;
    RunSchedule schedule;
    RunSupplies supplies;                     // a list for --supply V,V... and --supplies; else empty
    std::optional<HeatingParameters> heating; // --heating
    TelemetryFrame::Kind kind = TelemetryFrame::RunSample;
    Pace pace = Pace::RealTime;
    int baud = 115200;
    long long durationTicks = 0; // 0: until the runs end (or without end)
    long long vanishTick = -1;   // the device disappears at this tick; -1: never
    FaultOptions faults;
    bool seedGiven = false;
    int comPort = 3;
    bool waitForReader = false;
    QString linkFile;
    QString outFile;
    QString truthFile;

    // The last tick streamed, or -1 when the stream has no end of its own.
    long long lastTick() const;
    // 8N1: ten bits on the line per byte.
    double lineBytesPerSecond() const { return baud / 10.0; }
};

struct ParseResult {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Error;
    SimOptions options;
    // The help text, or one line saying what is wrong.
    QString text;
};

// `arguments` as the program got them, the program name first. Needs a
// QCoreApplication for the help text.
ParseResult parseArguments(const QStringList& arguments);

} // namespace zelvar::dynosim
