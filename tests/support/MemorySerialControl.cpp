#include "MemorySerialControl.h"

#include <algorithm>
#include <cstring>

namespace zelvar {

namespace {

// Read bytes are dropped from the front of the buffer once there are this
// many of them and they outnumber the unread ones: each byte is then moved at
// most once more, however the reads are sliced.
constexpr qsizetype kCompactAfter = 4096;

} // namespace

MemorySerialControl::MemorySerialControl(QObject* parent) : SerialControl(parent) {}

void MemorySerialControl::feed(const QByteArray& bytes, bool raise)
{
    if (!open_)
        return;
    buffer_.append(bytes);
    if (raise && bytesWaiting() >= kReceiveThreshold)
        raiseEvent(kEventReceive);
}

void MemorySerialControl::loseDevice(const QString& reason)
{
    reportDeviceLoss(reason);
}

void MemorySerialControl::setPortMissing(int port, bool missing)
{
    if (missing)
        missing_.insert(port);
    else
        missing_.remove(port);
}

void MemorySerialControl::setPortBusy(int port, bool busy)
{
    if (busy)
        busy_.insert(port);
    else
        busy_.remove(port);
}

void MemorySerialControl::openDevice(const QString& deviceName, const SerialSettings& settings)
{
    if (missing_.contains(CommPort()))
        throw openFailure(deviceName, QStringLiteral("No such file or directory"));
    if (busy_.contains(CommPort()))
        throw openFailure(deviceName, QStringLiteral("Device or resource busy"));
    open_ = true;
    openedDevice_ = deviceName;
    openedSettings_ = settings;
}

void MemorySerialControl::closeDevice()
{
    open_ = false;
    discardInput();
}

int MemorySerialControl::readBytes(char* buffer, int maxLength)
{
    const qsizetype count = std::min<qsizetype>(maxLength, buffer_.size() - readPos_);
    if (count <= 0)
        return 0;
    std::memcpy(buffer, buffer_.constData() + readPos_, static_cast<size_t>(count));
    readPos_ += count;
    if (readPos_ == buffer_.size()) {
        // resize() rather than clear(): keeps the allocation for the next feed.
        buffer_.resize(0);
        readPos_ = 0;
    } else if (readPos_ >= kCompactAfter && readPos_ * 2 >= buffer_.size()) {
        buffer_.remove(0, readPos_);
        readPos_ = 0;
    }
    return static_cast<int>(count);
}

void MemorySerialControl::discardInput()
{
    buffer_.resize(0);
    readPos_ = 0;
}

} // namespace zelvar
