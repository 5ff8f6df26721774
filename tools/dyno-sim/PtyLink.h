#pragma once

#include <QByteArray>
#include <QString>

namespace zelvar::dynosim {

// The controller's end of the line: the master side of a new pseudo-terminal,
// raw, never blocking. The program opens the slave side by its device path
// like any serial port.
//
// A device nobody reads keeps about 16 KB and then takes no more; what it
// does not take is dropped, as a real adapter with no reader would. Frames
// never go out cut short: when the device takes only part of a write, the
// rest goes out first on the next one, and what comes meanwhile is dropped.
class PtyLink {
public:
    // Throws std::runtime_error with the system's reason.
    PtyLink();
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    QString devicePath() const { return path_; }
    bool isOpen() const { return master_ >= 0; }

    // True while some program holds the device open.
    bool readerPresent() const;

    // Writes `bytes` whole, or the part the device takes now with the rest
    // held back; false when the device took nothing (the bytes are dropped).
    // Every byte that goes out, held-back ones included, is appended to
    // `sent`, in line order.
    bool offer(const QByteArray& bytes, QByteArray& sent);
    // Writes what an earlier write left over, as far as the device takes it.
    void flushPending(QByteArray& sent);
    bool hasPending() const { return !pending_.isEmpty(); }

    // The device disappears: whatever its reader has not read yet is lost,
    // and the reader sees the line hang up.
    void close();

private:
    // How many bytes the device took; 0 when it takes none now.
    qsizetype write(const char* data, qsizetype size);

    int master_ = -1;
    QString path_;
    QByteArray pending_;
};

} // namespace zelvar::dynosim
