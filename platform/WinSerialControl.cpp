#include "platform/WinSerialControl.h"

#include <QTimer>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

namespace zelvar {

struct WinSerialControl::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    char chunk[kReadChunk];
    // The watcher's: `stop` (manual reset) ends it; `taken` (auto reset)
    // tells it the event loop has dealt with the completion it handed over.
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE taken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread watcher;
};

void applyLineSettings(DCB& dcb, const SerialSettings& settings)
{
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    switch (settings.parity) {
    case 'E':
        dcb.Parity = EVENPARITY;
        break;
    case 'O':
        dcb.Parity = ODDPARITY;
        break;
    case 'M':
        dcb.Parity = MARKPARITY;
        break;
    case 'S':
        dcb.Parity = SPACEPARITY;
        break;
    default:
        dcb.Parity = NOPARITY;
        break;
    }
    switch (settings.stopBits) {
    case SerialSettings::StopBits::OneAndHalf:
        dcb.StopBits = ONE5STOPBITS;
        break;
    case SerialSettings::StopBits::Two:
        dcb.StopBits = TWOSTOPBITS;
        break;
    case SerialSettings::StopBits::One:
        dcb.StopBits = ONESTOPBIT;
        break;
    }
    dcb.fBinary = TRUE;
    // Checked parity would replace or drop a byte with a parity error; the
    // receiver's frame checks deal with a damaged frame.
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Otherwise a framing error would stop every read until ClearCommError.
    dcb.fAbortOnError = FALSE;
}

bool isDeviceLossError(unsigned long error)
{
    switch (error) {
    // Wine, when the pseudo-terminal behind the port closes: the pending
    // read ends with ERROR_BROKEN_PIPE, and every read and status call after
    // it fails with that or ERROR_NOT_READY (measured with Wine 8.0).
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
    // Windows' USB serial drivers, when the adapter is pulled: the open
    // handle refuses everything (ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND),
    // or the device reports itself gone.
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    // A read we did not cancel, aborted by the driver: it aborts pending
    // reads when its device goes away.
    case ERROR_OPERATION_ABORTED:
        return true;
    default:
        return false;
    }
}

QString win32ErrorText(unsigned long error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed() : QString();
    if (text != nullptr)
        LocalFree(text);
    if (message.isEmpty())
        return QStringLiteral("Windows error %1").arg(error);
    return QStringLiteral("%1 (Windows error %2)").arg(message).arg(error);
}

namespace {

QString openRefusal(unsigned long error, const QString& device)
{
    // A COM port is opened by one program at a time; Windows refuses the
    // others with ERROR_ACCESS_DENIED.
    if (error == ERROR_ACCESS_DENIED) {
        return QStringLiteral("%1 is in use by another program; close it there, or pick another COM port (%2)")
            .arg(device, win32ErrorText(error));
    }
    return win32ErrorText(error);
}

} // namespace

WinSerialControl::WinSerialControl(QObject* parent)
    : SerialControl(parent), io_(std::make_unique<Io>()), receivePause_(new QTimer(this)), readRetry_(new QTimer(this))
{
    // Manual reset: the event stays set until the next read starts, and
    // ReadFile resets it itself when it starts one.
    io_->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    receivePause_->setSingleShot(true);
    connect(receivePause_, &QTimer::timeout, this, [this] { endReceivePause(); });
    readRetry_->setSingleShot(true);
    readRetry_->setInterval(100);
    connect(readRetry_, &QTimer::timeout, this, [this] {
        if (const unsigned long error = startRead())
            onReadError(error);
    });
}

WinSerialControl::~WinSerialControl()
{
    closeHandle();
    stopWatching();
    CloseHandle(io_->read.hEvent);
    CloseHandle(io_->stop);
    CloseHandle(io_->taken);
}

void WinSerialControl::openDevice(const QString& deviceName, const SerialSettings& settings)
{
    const std::wstring path = deviceName.toStdWString();
    // No sharing: a port is one program's.
    HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        throw openFailure(deviceName, openRefusal(GetLastError(), deviceName));
    io_->port = port;

    const auto fail = [&](const QString& what) {
        const DWORD error = GetLastError();
        closeHandle();
        return openFailure(deviceName, QStringLiteral("%1: %2").arg(what, win32ErrorText(error)));
    };
    // Room for a few hundred milliseconds at the line rate while a handler
    // or a receive pause keeps the port unread; drivers may keep their own.
    SetupComm(port, 16 * 1024, 4096);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb))
        throw fail(QStringLiteral("cannot read the line settings"));
    applyLineSettings(dcb, settings);
    if (!SetCommState(port, &dcb))
        throw fail(QStringLiteral("cannot set the line up"));
    // A read waits for its first byte, then ends when the line has been quiet
    // for kReadIntervalMs. (The documented "return at once" and "wait for one
    // byte" settings, an interval of MAXDWORD, are read differently by Wine:
    // at once is a wait there, and the wait never ends.)
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    if (!SetCommTimeouts(port, &timeouts))
        throw fail(QStringLiteral("cannot set the read timeouts"));

    received_.clear();
    startWatching();
    if (const unsigned long error = startRead()) {
        closeHandle();
        throw openFailure(deviceName, win32ErrorText(error));
    }
}

void WinSerialControl::closeDevice()
{
    closeHandle();
}

void WinSerialControl::closeHandle()
{
    receivePause_->stop();
    readRetry_->stop();
    if (io_->port == INVALID_HANDLE_VALUE)
        return;
    stopRead();
    stopWatching();
    CloseHandle(io_->port);
    io_->port = INVALID_HANDLE_VALUE;
    received_.clear();
}

bool WinSerialControl::isOpen() const
{
    return io_->port != INVALID_HANDLE_VALUE;
}

int WinSerialControl::bytesWaiting() const
{
    return static_cast<int>(received_.size());
}

int WinSerialControl::readBytes(char* buffer, int maxLength)
{
    const int count = std::min(maxLength, static_cast<int>(received_.size()));
    std::memcpy(buffer, received_.constData(), static_cast<size_t>(count));
    received_.remove(0, count);
    return count;
}

void WinSerialControl::discardInput()
{
    // What the pending read has taken would land after the purge: it goes
    // too. A read that had already failed tells of the device's loss, which
    // this call then throws rather than OnComm raising it later.
    const bool wasReading = reading_;
    unsigned long error = stopRead();
    if (error == 0 && !PurgeComm(io_->port, PURGE_RXCLEAR | PURGE_RXABORT))
        error = GetLastError();
    received_.clear();
    if (error == 0 && wasReading)
        error = startRead();
    if (error == 0)
        return;
    const QString reason = win32ErrorText(error);
    if (isDeviceLossError(error)) {
        closeHandle();
        throw RuntimeError(QStringLiteral("serial device lost: %1: %2").arg(deviceName(), reason).toStdString());
    }
    // Paused, the pause's end starts the next read.
    if (wasReading && !reading_)
        readRetry_->start();
    throw RuntimeError(
        QStringLiteral("cannot empty the input buffer of %1: %2").arg(deviceName(), reason).toStdString());
}

unsigned long WinSerialControl::startRead()
{
    DWORD count = 0;
    // Done at once or pending, the read sets its event when it is over.
    if (!ReadFile(io_->port, io_->chunk, kReadChunk, &count, &io_->read) && GetLastError() != ERROR_IO_PENDING)
        return GetLastError();
    reading_ = true;
    return 0;
}

unsigned long WinSerialControl::stopRead()
{
    if (!reading_)
        return 0;
    reading_ = false;
    CancelIoEx(io_->port, &io_->read);
    DWORD count = 0;
    if (!GetOverlappedResult(io_->port, &io_->read, &count, TRUE)) {
        const DWORD error = GetLastError();
        ResetEvent(io_->read.hEvent);
        return error == ERROR_OPERATION_ABORTED ? 0 : error;
    }
    ResetEvent(io_->read.hEvent);
    return 0;
}

void WinSerialControl::startWatching()
{
    ResetEvent(io_->stop);
    ResetEvent(io_->taken);
    io_->watcher = std::thread([this, watch = ++watch_] { watchReads(watch); });
}

void WinSerialControl::stopWatching()
{
    ++watch_;
    if (!io_->watcher.joinable())
        return;
    SetEvent(io_->stop);
    io_->watcher.join();
}

void WinSerialControl::watchReads(unsigned watch)
{
    // WaitForMultipleObjects names the first of the objects that are set:
    // `stop` comes first, so it wins.
    const HANDLE readOrStop[] = {io_->stop, io_->read.hEvent};
    const HANDLE takenOrStop[] = {io_->stop, io_->taken};
    while (WaitForMultipleObjects(2, readOrStop, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        QMetaObject::invokeMethod(
            this,
            [this, watch] {
                if (watch != watch_)
                    return;
                onReadDone();
                // The handler may have closed the port, or opened it again
                // with a watcher of its own.
                if (watch == watch_)
                    SetEvent(io_->taken);
            },
            Qt::QueuedConnection);
        // The event stays set until the loop has collected the read.
        if (WaitForMultipleObjects(2, takenOrStop, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return;
    }
}

void WinSerialControl::onReadDone()
{
    // The watcher may report a read that closing or emptying has already
    // collected.
    if (!reading_)
        return;
    DWORD count = 0;
    if (!GetOverlappedResult(io_->port, &io_->read, &count, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return;
        reading_ = false;
        ResetEvent(io_->read.hEvent);
        onReadError(error);
        return;
    }
    reading_ = false;
    ResetEvent(io_->read.hEvent);
    received_.append(io_->chunk, static_cast<qsizetype>(count));

    // As everywhere, only an arrival raises the event: bytes a handler left
    // waiting wait for the next one.
    if (count > 0 && received_.size() >= kReceiveThreshold) {
        raiseReceive();
        return;
    }
    if (const unsigned long error = startRead())
        onReadError(error);
}

void WinSerialControl::onReadError(unsigned long error)
{
    if (!isOpen())
        return;
    const QString reason = win32ErrorText(error);
    if (isDeviceLossError(error)) {
        runFromEventLoop("device loss", [this, &reason] { reportDeviceLoss(reason); });
        return;
    }
    // A request the driver refused (out of resources, say): the device is
    // still there, so try again shortly rather than spin or give up.
    qWarning("serial control: reading %s failed, trying again: %s", qPrintable(deviceName()), qPrintable(reason));
    readRetry_->start();
}

void WinSerialControl::raiseReceive()
{
    runFromEventLoop("receive event", [this] { raiseEvent(kEventReceive); });
    // The handler may have closed the port, or closed and opened it again;
    // a port opened again reads already.
    if (!isOpen() || reading_)
        return;
    receivePause_->start(kReceiveGroupingMs);
}

void WinSerialControl::endReceivePause()
{
    if (!isOpen() || reading_)
        return;
    if (const unsigned long error = startRead())
        onReadError(error);
}

std::unique_ptr<SerialControl> makeSystemSerialControl()
{
    return std::make_unique<WinSerialControl>();
}

} // namespace zelvar
