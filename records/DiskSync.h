#pragma once

#include <QTimer>

#include <chrono>
#include <functional>

namespace zelvar {

class SequentialFiles;

// Puts the run file on the disk while a run is recorded. The receive handler
// hands each event's records to the system before it returns, which survives
// the program's crash but not a power cut: the system may hold them in memory
// for half a minute. Syncing on every event would cost a disk write 50 times a
// second; syncing on a timer, only when something was written, bounds the loss
// to the last interval at the cost of at most a few syncs a second.
class DiskSync {
public:
    static constexpr std::chrono::milliseconds kInterval{500};

    // `sync` puts a file number's data on the disk (SequentialFiles::SyncToDisk
    // when not given).
    DiskSync(SequentialFiles& files, int number, std::function<void(int)> sync = {});
    DiskSync(const DiskSync&) = delete;
    DiskSync& operator=(const DiskSync&) = delete;

    // From now on, every interval the file is synced when it is open and
    // something was written to it since the last sync (so an idle program
    // touches no disk); a failure is left to the file's next write, which
    // reports it through the handler that owns the file.
    void start();

    // One tick of the timer, for tests that drive it themselves.
    void tick();

private:
    SequentialFiles& files_;
    int number_;
    std::function<void(int)> sync_;
    QTimer timer_;
};

} // namespace zelvar
