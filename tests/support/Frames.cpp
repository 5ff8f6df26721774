#include "Frames.h"

namespace zelvar::testing_support {

QByteArray bytesOf(const TelemetryFrame& frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.bytes.data()), TelemetryFrame::kSize);
}

QByteArray frameBytes(int kind, int ticks, const dynosim::SampleCode& code, int trailer)
{
    TelemetryFrame frame = dynosim::sampleFrame(static_cast<TelemetryFrame::Kind>(kind), ticks, code);
    frame.bytes[12] = static_cast<std::uint8_t>(trailer);
    return bytesOf(frame);
}

namespace {

dynosim::SampleCode atSpeed(int rpmHundreds)
{
    dynosim::SampleCode code = kSampleValues;
    code.rpm = rpmHundreds;
    return code;
}

} // namespace

QByteArray runSample(int ticks, int rpmHundreds)
{
    return frameBytes(TelemetryFrame::RunSample, ticks, atSpeed(rpmHundreds));
}

QByteArray liveSample(int ticks, int rpmHundreds)
{
    return frameBytes(TelemetryFrame::LiveSample, ticks, atSpeed(rpmHundreds));
}

QByteArray setupFrame(const dynosim::SetupCode& code)
{
    return bytesOf(dynosim::setupFrame(code));
}

} // namespace zelvar::testing_support
