#include "link/FrameReceiver.h"

#include "platform/Clock.h"
#include "platform/MainForm.h"
#include "platform/NumberText.h"
#include "platform/Recovery.h"
#include "platform/RuntimeError.h"
#include "platform/SerialControl.h"
#include "records/RunFiles.h"
#include "records/RunRecord.h"
#include "records/SequentialFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zelvar {

namespace receive {

std::int64_t intervalDivisor(const QString& intervalText, const QLocale& locale)
{
    const Decimal divisor = (readBox(intervalText, locale) / Decimal(10)).roundHalfEven();
    if (divisor.isZero())
        throw RuntimeError("the interval \"" + intervalText.toStdString() + "\" gives a divisor of 0");
    // Beyond any tick count the rule can only fail; clamp so that it fits.
    const double value = std::clamp(divisor.toDouble(), -1e15, 1e15);
    return static_cast<std::int64_t>(value);
}

bool passesInterval(int tickCount, std::int64_t divisor)
{
    return tickCount % std::llabs(divisor) == 0;
}

bool isRunSampleToShow(const TelemetryFrame& frame, double lastShownRunTime, bool intervalPasses)
{
    return frame.is(TelemetryFrame::RunSample) && frame.runTime() != lastShownRunTime && intervalPasses
        && frame.tickCount() != 0;
}

bool isLiveSampleToShow(const TelemetryFrame& frame, float lastLiveDisplayTime, float now, bool intervalPasses)
{
    // A time of day earlier than the stored one (past midnight) counts as
    // less than a second.
    const bool secondPassed = lastLiveDisplayTime == 0.0F || now - lastLiveDisplayTime >= 1.0F;
    return frame.is(TelemetryFrame::LiveSample) && secondPassed && intervalPasses && frame.tickCount() != 0;
}

} // namespace receive

FrameReceiver::FrameReceiver(SerialControl& serial, MainForm& form, SequentialFiles& files, const Clock& clock,
                             const QLocale& locale)
    : serial_(serial), form_(form), files_(files), clock_(clock), locale_(locale)
{
}

ReceiveOutcome FrameReceiver::MSComm1_OnComm()
{
    lastError_.clear();
    try {
        if (serial_.CommEvent() != SerialControl::kEventReceive)
            return {};
        // The records of one event reach the system together, before the
        // handler returns: one system call per event rather than per record.
        SequentialFiles::WriteBatch batch(files_);
        drain();
        batch.commit();
    } catch (const std::exception& e) {
        recover(QString::fromStdString(e.what()));
        return {true, lastError_, readFlywheelBoxes(form_, locale_)};
    }
    return {};
}

std::uint8_t FrameReceiver::readByte()
{
    char byte = 0;
    if (serial_.InputTo(&byte) != 1)
        throw RuntimeError("the serial control returned no byte");
    return static_cast<std::uint8_t>(byte);
}

void FrameReceiver::drain()
{
    EventState state;
    TelemetryFrame frame;
    if (syncTaken_ && syncTakenInStream_ != serial_.inputBreaks())
        syncTaken_ = false;
    // A pass needs a whole frame waiting, one byte less when its 0xD9 was
    // taken already.
    while (serial_.InBufferCount() >= TelemetryFrame::kSize - (syncTaken_ ? 1 : 0)) {
        serial_.setInputLen(1);
        if (!syncTaken_) {
            if (readByte() != TelemetryFrame::kSync0)
                continue;
            syncTaken_ = true;
            syncTakenInStream_ = serial_.inputBreaks();
        }
        const std::uint8_t second = readByte();
        if (second == TelemetryFrame::kSync0)
            continue; // this 0xD9 starts the next frame
        syncTaken_ = false;
        if (second != TelemetryFrame::kSync1)
            continue;

        // The body is read as exactly 11 bytes so that frames waiting behind
        // it are kept.
        constexpr int kBody = TelemetryFrame::kSize - 2;
        serial_.setInputLen(kBody);
        if (serial_.InputTo(reinterpret_cast<char*>(frame.bytes.data()) + 2) != kBody)
            throw RuntimeError("the serial control returned a short frame body");
        frame.bytes[0] = TelemetryFrame::kSync0;
        frame.bytes[1] = TelemetryFrame::kSync1;
        frameSeen_ = true;
        handleFrame(frame, state);
    }
}

void FrameReceiver::handleFrame(const TelemetryFrame& frame, EventState& state)
{
    // The interval rule is judged for every synchronised frame, whatever its
    // kind: a bad interval box stops the receiver at the next frame.
    const std::int64_t divisor = receive::intervalDivisor(form_.Text1(Box::Interval).text(), locale_);
    const bool intervalPasses = receive::passesInterval(frame.tickCount(), divisor);

    if (receive::isRunSampleToShow(frame, state.lastShownRunTime, intervalPasses)) {
        showSample(frame, state);
        return;
    }
    if (frame.kind() == TelemetryFrame::LiveSample) {
        const auto now = static_cast<float>(clock_.secondsSinceMidnight());
        if (receive::isLiveSampleToShow(frame, state.lastLiveDisplayTime, now, intervalPasses)) {
            showSample(frame, state);
            return;
        }
    }
    if (frame.is(TelemetryFrame::DynoSetup))
        applySetup(frame);
}

void FrameReceiver::showSample(const TelemetryFrame& frame, EventState& state)
{
    const RunRecord record{Decimal::scaled(frame.tickCount(), 2), frame.outputVoltage(), frame.outputCurrent(),
                           frame.rpm()};
    state.lastShownRunTime = frame.runTime();
    form_.Text1(Box::RunTime).setText(boxText(record.runTime, locale_));
    form_.Text1(Box::OutputVoltage).setText(boxText(record.outputVoltage, locale_));
    form_.Text1(Box::OutputCurrent).setText(boxText(record.outputCurrent, locale_));
    form_.Text1(Box::Rpm).setText(boxText(record.rpm, locale_));
    if (frame.kind() == TelemetryFrame::LiveSample)
        state.lastLiveDisplayTime = static_cast<float>(clock_.secondsSinceMidnight());
    record.write(files_, runfiles::kRunFileNumber);
    if (sampleObserver_)
        sampleObserver_(record);
}

void FrameReceiver::applySetup(const TelemetryFrame& frame)
{
    form_.Text1(Box::FlywheelRadius).setText(boxText(frame.flywheelRadius(), locale_));
    form_.Text1(Box::FlywheelWeight).setText(boxText(frame.flywheelWeight(), locale_));
    form_.Text1(Box::EscNeutral).setText(boxText(frame.escNeutral(), locale_));
    form_.Text1(Box::EscFull).setText(boxText(frame.escFull(), locale_));
    form_.Text1(Box::Interval).setText(boxText(frame.interval(), locale_));
    dynoFlywheel_ = DynoFlywheel{frame.flywheelRadius(), frame.flywheelWeight()};
}

void FrameReceiver::recover(const QString& reason)
{
    lastError_ = reason;
    syncTaken_ = false;
    showIdleAfterError(form_, serial_);
    // The run file keeps every record written; freeing its number lets the
    // next Start bind it again.
    files_.Close(runfiles::kRunFileNumber);
}

} // namespace zelvar
