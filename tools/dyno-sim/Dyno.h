#pragma once

#include "tools/dyno-sim/MotorModel.h"
#include "tools/dyno-sim/WindingHeat.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace zelvar::dynosim {

// The controller's clock: one tick is 10 ms.
inline constexpr double kTickSeconds = 0.01;

// A run is a spin-up from standstill: the flywheel stands for the idle time,
// the motor is powered for the spin time, then disconnected while the
// flywheel coasts for the coast time (only the rig's losses slow it: the
// coast-down that measures them), then the brake brings the flywheel to
// standstill within the brake time. Runs follow one another `repeat` times
// (0: without end); after the last the flywheel stands.
struct RunSchedule {
    int idleTicks = 100;
    int spinTicks = 500;
    int brakeTicks = 100;
    int repeat = 0;
    int coastTicks = 0;

    int cycleTicks() const { return idleTicks + spinTicks + coastTicks + brakeTicks; }
    // Ticks until the last run has ended; -1 when the runs have no end.
    long long totalTicks() const;
    // The run a tick belongs to, from 0; the flywheel standing after the
    // last run belongs to the last.
    int runAt(long long tick) const;
};

// Each run may have a supply of its own: run k (from 0) is fed by volts[k];
// past the end of the list the last one holds, or in a sweep the list starts
// over. Without a list every run has the motor's supply.
struct RunSupplies {
    std::vector<double> volts; // open circuit
    bool sweep = false;

    // The open supply of run `run`; `otherwise` without a list.
    double of(int run, double otherwise) const;
};

enum class Phase { Idle, SpinUp, Coast, Brake };

// The dyno at one tick: the model's true values at that instant, the drive
// being the one that holds from this tick to the next.
struct TickState {
    int tick = 0;
    Phase phase = Phase::Idle;
    double rpm = 0.0;
    double terminalVoltage = 0.0;   // V; the open supply's while coasting, 0 while the motor is off
    double current = 0.0;           // A
    double torque = 0.0;            // N m that accelerates the flywheel, J dw/dt: negative while it slows
    double outputPower = 0.0;       // W, torque * speed
    double inputPower = 0.0;        // W, into the motor's terminals
    double motorTorque = 0.0;       // N m from the motor's shaft; 0 while it is not powered
    double lossTorque = 0.0;        // N m the rig's friction and windage take
    double motorOutputPower = 0.0;  // W, motor torque * speed
    double windingResistance = 0.0; // ohm, the winding's now (warmer than the cold one's with --heating)
    double supplyVoltage = 0.0;     // V, the open supply of this tick's run

    // tick / 100 rather than tick * 0.01: the nearest double to the decimal
    // run time, as the program computes it.
    double time() const { return tick / 100.0; }
};

// The model's true values, one CSV line per tick, in the report's units:
// time_s, rpm, torque_mNm, output_power_W, input_power_W, voltage_V, current_A,
// motor_torque_mNm, loss_torque_mNm, motor_output_power_W,
// winding_resistance_ohm, supply_V. Newer columns come after older ones so
// that readers of the first seven (or ten) keep reading them where they were.
QByteArray truthHeader();
QByteArray truthLine(const TickState& state);

class Dyno {
public:
    // With `heating` the winding warms with its I^2 R loss and cools between
    // runs; without, its resistance stays the motor's.
    Dyno(const MotorParameters& motor, const Flywheel& flywheel, const RunSchedule& schedule,
         const RigLosses& losses = {}, const std::optional<HeatingParameters>& heating = std::nullopt,
         const RunSupplies& supplies = {});

    const MotorModel& model() const { return model_; }
    const RunSchedule& schedule() const { return schedule_; }

    int tick() const { return tick_; }
    Phase phase() const { return phaseAt(tick_); }
    TickState state() const;

    // Moves the model on to the next tick.
    void advance();

private:
    Phase phaseAt(int tick) const;
    double brakeRate() const;

    MotorModel model_;
    RunSchedule schedule_;
    RunSupplies supplies_;
    double coldResistance_;
    double baseSupply_;
    std::optional<WindingHeat> heat_;
    int tick_ = 0;
    double brakeRate_ = 0.0; // rad/s^2 while braking, else 0
};

} // namespace zelvar::dynosim
