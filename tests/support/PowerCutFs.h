#pragma once

// A file system for tests that can lose power. It passes every operation to
// a backing directory and keeps track of what a disk would not yet hold:
// a file's data (and size and mode) since its last fsync or fdatasync, and a
// directory's entries (create, mkdir, rename, unlink, rmdir) since that
// directory's own fsync. A cut throws all of that away, as a power cut would,
// and leaves the backing directory as the disk would be once the power came
// back. The model is the strict one of LazyFS and ALICE: nothing is put on
// the disk for free, not a new file's name by the sync of its data, not a
// rename by ext4's heuristics.
//
// Every operation that changes something or puts something on the disk is
// logged with its number, kind, path and time, and with what it wrote, so
// that any point of a recorded session can be cut again offline (replay())
// and a cut found live can be replayed by kind and path (CutPoint), which
// threads make steadier than a bare number.
//
// Built on libfuse3; mounting needs /dev/fuse and the right to mount (root,
// or fusermount3 installed setuid).

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zelvar::testing_support::powercut {

enum class OpKind { Create, Mkdir, Write, Truncate, Fsync, Fdatasync, FsyncDir, Rename, Unlink, Rmdir, Chmod };
const char* kindName(OpKind kind);

using Clock = std::chrono::steady_clock;

struct Operation {
    std::uint64_t number = 0; // from 1, in the order the file system served them
    OpKind kind = OpKind::Write;
    std::string path;   // relative to the root: "runs/2026-12-07_14-03-21/run.json"
    std::string target; // a rename's new path
    Clock::time_point time;
    std::int64_t offset = 0; // a write's offset; a truncate's new size
    std::string data;        // what a write wrote
    unsigned mode = 0;       // of a create, a mkdir, a chmod
};

// "#412 +3.012s rename runs/x/run.json.0a1b2c -> runs/x/run.json", the time
// counted from `origin`.
std::string describe(const Operation& op, Clock::time_point origin);

// The `occurrence`th operation (from 1) of `kind` on a path that matches
// `path`, a shell pattern ("runs/*/run.json.*"): names a program makes up
// anew each time (temporary files, folders named by the time) are given as
// patterns, so that the point is found again in another recording.
struct CutPoint {
    OpKind kind = OpKind::Write;
    std::string path;
    int occurrence = 1;
};
// The point of the operation at `index`, its path given as `pattern` (the
// path itself when empty).
CutPoint cutPointOf(const std::vector<Operation>& log, std::size_t index, std::string pattern = {});
// The index in `log` of the point; none when it does not occur.
std::optional<std::size_t> find(const std::vector<Operation>& log, const CutPoint& point);
std::string describe(const CutPoint& point);

// A tree as the system sees it and as the disk holds it.
class DurabilityModel {
public:
    // Everything in `directory`, all of it on the disk.
    static DurabilityModel load(const QString& directory);

    // Applies an operation that succeeded.
    void apply(const Operation& op);
    // Replaces what `directory` holds by what the disk holds.
    void writeDurable(const QString& directory) const;
    // A file's content as the system sees it; none when there is no file.
    std::optional<std::string> current(const std::string& path) const;
    // The bytes of every file's content as the system sees it.
    std::uint64_t currentBytes() const { return bytes_; }

private:
    struct Node {
        bool directory = false;
        unsigned mode = 0644;
        std::string data;
        std::map<std::string, int> entries;
        unsigned durableMode = 0644;
        std::string durableData;
        std::map<std::string, int> durableEntries;
    };
    int resolve(const std::string& path) const;
    std::pair<int, std::string> parentOf(const std::string& path) const;
    int add(bool directory, unsigned mode);
    void loadInto(int node, const QString& directory);
    void writeInto(int node, const QString& directory) const;

    std::vector<Node> nodes_;
    std::uint64_t bytes_ = 0;
};

// What the disk holds after a cut that followed the first `count`
// operations of `log`, starting from `initial`.
DurabilityModel replay(DurabilityModel initial, const std::vector<Operation>& log, std::size_t count);

// Why FUSE cannot be mounted here; empty when it can (tried, not guessed).
QString unavailableReason();

// The file system mounted on `mountPoint` over `backing`, served by a
// thread of this process, and unmounted at the end of the scope.
class PowerCutFs {
public:
    PowerCutFs(const QString& backing, const QString& mountPoint);
    ~PowerCutFs();
    PowerCutFs(const PowerCutFs&) = delete;
    PowerCutFs& operator=(const PowerCutFs&) = delete;

    // Empty when mounted; else why not.
    QString error() const { return error_; }
    QString mountPoint() const { return mountPoint_; }
    Clock::time_point mountedAt() const { return origin_; }
    // The backing directory as it was mounted, for replay().
    const DurabilityModel& initial() const { return initial_; }

    std::vector<Operation> log() const;
    std::uint64_t operations() const;

    // The power is cut once operation `count` is done, at `when`, on
    // `signal` (the handler is the process's until the file system goes),
    // or now. From then on every operation fails with EIO and the backing
    // directory holds what the disk would.
    void cutAfter(std::uint64_t count);
    void cutAt(const CutPoint& point);
    void cutAtTime(Clock::time_point when);
    void cutOnSignal(int signal);
    void cutNow();
    bool isCut() const;
    // The number of operations done when the power went.
    std::uint64_t operationsBeforeCut() const;

    // Writes that would take the content of all files past `bytes` fail
    // with ENOSPC; none: no limit.
    void setQuota(std::optional<std::uint64_t> bytes);
    std::uint64_t usedBytes() const;
    // Every change fails with EROFS.
    void setReadOnly(bool readOnly);

    struct Served; // what the FUSE handlers reach

private:
    void watch();
    void cutLocked();

    QString backing_;
    QString mountPoint_;
    QString error_;
    Clock::time_point origin_;
    DurabilityModel initial_;
    std::unique_ptr<Served> served_;
    std::thread loop_;
    std::thread watcher_;
    std::atomic<bool> stopWatching_{false};
    int signal_ = 0;
};

} // namespace zelvar::testing_support::powercut
