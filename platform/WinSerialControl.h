#pragma once

// The serial control on Windows: the Win32 communications API, as no Qt
// SerialPort is built for Windows here. Only compiled for Windows.

#include "platform/SerialControl.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QTimer;
struct _DCB;

namespace zelvar {

// The line of `settings` in a DCB that GetCommState filled: speed, framing,
// and a raw binary line without flow control, so that every byte value
// arrives as sent (XON and XOFF left on would swallow 0x11 and 0x13). DTR and
// RTS are raised through the DCB, as some adapters power the far end from
// them; a driver that cannot set them (Wine's on a pseudo-terminal) still
// takes the rest.
void applyLineSettings(_DCB& dcb, const SerialSettings& settings);

// Whether a Win32 error of a read or of a status call on an open port means
// the device is gone (docs/faults.md lists them with what gives each). Other
// errors refuse one request and leave the port usable.
bool isDeviceLossError(unsigned long error);

// "The pipe has been ended. (Windows error 109)": the system's text of a
// Win32 error, with its number.
QString win32ErrorText(unsigned long error);

// OnComm fires with kEventReceive when bytes arrive and at least one whole
// frame's worth (kReceiveThreshold bytes) waits; after each such event the
// port is left unread for kReceiveGroupingMs, while the driver's queue keeps
// what comes, and then read in one go: the same grouping as QtSerialControl.
//
// One overlapped read is kept pending while the port is watched. A thread of
// the control's own, started at opening and joined at closing, waits for its
// event and hands each completion to the event loop of the control's thread,
// one at a time. (A QWinEventNotifier's thread-pool callback may still run
// after the notifier is gone: under Wine it did, and crashed the program.)
// The read's timeouts make it wait for a first byte and end once the line
// has been quiet for kReadIntervalMs (or its buffer is full), on Windows and
// on Wine alike. A lost device ends the pending read with an error (ERROR_BROKEN_PIPE
// under Wine when the pseudo-terminal behind the port closes).
class WinSerialControl final : public SerialControl {
    Q_OBJECT

public:
    static constexpr unsigned long kReadIntervalMs = 2;
    static constexpr int kReadChunk = 4096;

    explicit WinSerialControl(QObject* parent = nullptr);
    ~WinSerialControl() override;

protected:
    void openDevice(const QString& deviceName, const SerialSettings& settings) override;
    void closeDevice() override;
    bool isOpen() const override;
    int bytesWaiting() const override;
    int readBytes(char* buffer, int maxLength) override;
    void discardInput() override;

private:
    struct Io;

    // Starts the next read; 0, or the Win32 error that refused it.
    unsigned long startRead();
    // Stops the pending read and waits until it has; 0, or the error the
    // read had ended with before it could be stopped.
    unsigned long stopRead();
    void onReadDone();
    void onReadError(unsigned long error);
    void raiseReceive();
    void endReceivePause();
    void closeHandle();
    void startWatching();
    void stopWatching();
    // The watching thread's loop, for the watch numbered `watch`.
    void watchReads(unsigned watch);

    std::unique_ptr<Io> io_;
    // Counts the watches: a completion handed over by an earlier one, still
    // queued when the port closed, is ignored.
    unsigned watch_ = 0;
    QTimer* receivePause_;
    // Retries a read that failed without losing the device.
    QTimer* readRetry_;
    QByteArray received_;
    bool reading_ = false;
};

} // namespace zelvar
