#pragma once

#include "link/TelemetryFrame.h"
#include "platform/FlywheelBoxes.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace zelvar {

class Clock;
class MainForm;
class SequentialFiles;
class SerialControl;
struct RunRecord;

// The decisions of the receive handler, as pure functions.
namespace receive {

// The interval rule's divisor: the interval box's milliseconds / 10, rounded
// half to even (20 -> 2, 15 -> 2, 25 -> 2). A box that holds no number, or a
// divisor of 0, throws RuntimeError: the frame cannot be judged.
std::int64_t intervalDivisor(const QString& intervalText, const QLocale& locale);

// True when the tick count is a whole multiple of the divisor.
bool passesInterval(int tickCount, std::int64_t divisor);

// A run sample is shown and recorded once per run time within one event.
bool isRunSampleToShow(const TelemetryFrame& frame, double lastShownRunTime, bool intervalPasses);

// A live sample is shown and recorded at most once a second of time of day
// within one event. Times are held in single precision, as the clock was.
bool isLiveSampleToShow(const TelemetryFrame& frame, float lastLiveDisplayTime, float now, bool intervalPasses);

} // namespace receive

// What a receive event did: handled what came, or ended in the recovery
// ("Error!") for `reason`.
struct ReceiveOutcome {
    bool recovered = false;
    QString reason;
    // The recovery ends a run: the flywheel and ESC boxes as it left them.
    std::optional<FlywheelBoxes> boxes;
};

// The receive handler of the serial host window: drains whole frames from the
// serial control, shows run and live samples in the read-out boxes and
// appends each shown sample to the run file (file number 10); set-up frames
// fill the set-up boxes. Any failure ends in the recovery: both lists
// enabled, "Start", "Error!", the port closed and the run file closed with
// every record written so far.
class FrameReceiver {
public:
    FrameReceiver(SerialControl& serial, MainForm& form, SequentialFiles& files, const Clock& clock,
                  const QLocale& locale = QLocale::system());

    // Connected to the serial control's OnComm. Never throws.
    ReceiveOutcome MSComm1_OnComm();

    // The reason of the last event's recovery; empty when that event had
    // none. For those that only see the event, not its outcome.
    QString lastError() const { return lastError_; }

    // Whether a synchronised frame came since forgetFrames(): the window
    // tells the operator when a run gets none. A flag, so that the receive
    // path pays nothing for it.
    bool frameSeen() const { return frameSeen_; }
    void forgetFrames() { frameSeen_ = false; }

    // The flywheel as the dyno's last set-up frame gave it, in mm and g;
    // none before the first. Stop may use other values, typed into the
    // boxes.
    struct DynoFlywheel {
        double radiusMm = 0.0;
        double weightG = 0.0;
    };
    std::optional<DynoFlywheel> dynoFlywheel() const { return dynoFlywheel_; }

    // Told of every sample once it is recorded, for a live chart. It
    // runs inside the receive event, so it must only store the record and
    // return; it must not throw.
    void setSampleObserver(std::function<void(const RunRecord&)> observer) { sampleObserver_ = std::move(observer); }

private:
    struct EventState {
        double lastShownRunTime = 0.0;
        float lastLiveDisplayTime = 0.0F;
    };

    void drain();
    std::uint8_t readByte();
    void handleFrame(const TelemetryFrame& frame, EventState& state);
    void showSample(const TelemetryFrame& frame, EventState& state);
    void applySetup(const TelemetryFrame& frame);
    void recover(const QString& reason);

    SerialControl& serial_;
    MainForm& form_;
    SequentialFiles& files_;
    const Clock& clock_;
    QLocale locale_;
    // A 0xD9 already taken as the start of the next frame: the stream's
    // position outlives the event, so a frame split across two arrivals after
    // a stray 0xD9 is not lost. It holds only while the stream it was taken
    // from goes on: once waiting bytes are discarded (Start empties the
    // buffer) the bytes that follow belong to no frame it started.
    bool syncTaken_ = false;
    std::uint64_t syncTakenInStream_ = 0;
    QString lastError_;
    bool frameSeen_ = false;
    std::optional<DynoFlywheel> dynoFlywheel_;
    std::function<void(const RunRecord&)> sampleObserver_;
};

} // namespace zelvar
