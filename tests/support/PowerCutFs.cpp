#define FUSE_USE_VERSION 31
#include "PowerCutFs.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fuse.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace zelvar::testing_support::powercut {

const char* kindName(OpKind kind)
{
    switch (kind) {
    case OpKind::Create:
        return "create";
    case OpKind::Mkdir:
        return "mkdir";
    case OpKind::Write:
        return "write";
    case OpKind::Truncate:
        return "truncate";
    case OpKind::Fsync:
        return "fsync";
    case OpKind::Fdatasync:
        return "fdatasync";
    case OpKind::FsyncDir:
        return "fsyncdir";
    case OpKind::Rename:
        return "rename";
    case OpKind::Unlink:
        return "unlink";
    case OpKind::Rmdir:
        return "rmdir";
    case OpKind::Chmod:
        return "chmod";
    }
    return "?";
}

std::string describe(const Operation& op, Clock::time_point origin)
{
    char time[32];
    std::snprintf(time, sizeof time, "+%.3fs", std::chrono::duration<double>(op.time - origin).count());
    std::string text = "#" + std::to_string(op.number) + " " + time + " " + kindName(op.kind) + " "
                     + (op.path.empty() ? "." : op.path);
    switch (op.kind) {
    case OpKind::Rename:
        text += " -> " + op.target;
        break;
    case OpKind::Write:
        text += " " + std::to_string(op.data.size()) + " bytes at " + std::to_string(op.offset);
        break;
    case OpKind::Truncate:
        text += " to " + std::to_string(op.offset);
        break;
    default:
        break;
    }
    return text;
}

namespace {

bool matches(const Operation& op, const CutPoint& point)
{
    return op.kind == point.kind && ::fnmatch(point.path.c_str(), op.path.c_str(), FNM_PATHNAME) == 0;
}

} // namespace

CutPoint cutPointOf(const std::vector<Operation>& log, std::size_t index, std::string pattern)
{
    CutPoint point{log[index].kind, pattern.empty() ? log[index].path : std::move(pattern), 0};
    for (std::size_t i = 0; i <= index; ++i)
        point.occurrence += matches(log[i], point);
    return point;
}

std::optional<std::size_t> find(const std::vector<Operation>& log, const CutPoint& point)
{
    int seen = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (matches(log[i], point) && ++seen == point.occurrence)
            return i;
    }
    return std::nullopt;
}

std::string describe(const CutPoint& point)
{
    return "after " + std::string(kindName(point.kind)) + " #" + std::to_string(point.occurrence) + " of "
         + (point.path.empty() ? "." : point.path);
}

// The model ----------------------------------------------------------------

int DurabilityModel::add(bool directory, unsigned mode)
{
    Node node;
    node.directory = directory;
    node.mode = node.durableMode = mode;
    nodes_.push_back(std::move(node));
    return static_cast<int>(nodes_.size() - 1);
}

void DurabilityModel::loadInto(int node, const QString& directory)
{
    const QFileInfoList entries = QDir(directory).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : entries) {
        struct stat st {};
        ::lstat(QFile::encodeName(info.absoluteFilePath()).constData(), &st);
        const int child = add(info.isDir(), st.st_mode & 07777);
        if (info.isDir()) {
            loadInto(child, info.absoluteFilePath());
        } else {
            QFile file(info.absoluteFilePath());
            if (file.open(QIODevice::ReadOnly))
                nodes_[child].data = nodes_[child].durableData = file.readAll().toStdString();
            bytes_ += nodes_[child].data.size();
        }
        const std::string name = QFile::encodeName(info.fileName()).toStdString();
        nodes_[node].entries[name] = nodes_[node].durableEntries[name] = child;
    }
}

DurabilityModel DurabilityModel::load(const QString& directory)
{
    DurabilityModel model;
    model.add(true, 0755);
    model.loadInto(0, directory);
    return model;
}

int DurabilityModel::resolve(const std::string& path) const
{
    int node = 0;
    std::size_t start = 0;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const auto& entries = nodes_[node].entries;
        const auto it = entries.find(path.substr(start, end - start));
        if (it == entries.end())
            return -1;
        node = it->second;
        start = end + 1;
    }
    return node;
}

std::pair<int, std::string> DurabilityModel::parentOf(const std::string& path) const
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {0, path};
    return {resolve(path.substr(0, slash)), path.substr(slash + 1)};
}

void DurabilityModel::apply(const Operation& op)
{
    const auto [parent, name] = parentOf(op.path);
    const int node = resolve(op.path);
    const auto setData = [&](std::string data) {
        bytes_ = bytes_ - nodes_[node].data.size() + data.size();
        nodes_[node].data = std::move(data);
    };
    switch (op.kind) {
    case OpKind::Create:
    case OpKind::Mkdir:
        if (parent >= 0) {
            const int child = add(op.kind == OpKind::Mkdir, op.mode);
            nodes_[parent].entries[name] = child;
        }
        break;
    case OpKind::Write:
        if (node >= 0) {
            std::string data = nodes_[node].data;
            const auto end = static_cast<std::size_t>(op.offset) + op.data.size();
            if (data.size() < end)
                data.resize(end, '\0');
            data.replace(static_cast<std::size_t>(op.offset), op.data.size(), op.data);
            setData(std::move(data));
        }
        break;
    case OpKind::Truncate:
        if (node >= 0) {
            std::string data = nodes_[node].data;
            data.resize(static_cast<std::size_t>(op.offset), '\0');
            setData(std::move(data));
        }
        break;
    case OpKind::Fsync:
    case OpKind::Fdatasync:
        if (node >= 0) {
            nodes_[node].durableData = nodes_[node].data;
            nodes_[node].durableMode = nodes_[node].mode;
        }
        break;
    case OpKind::FsyncDir:
        if (node >= 0)
            nodes_[node].durableEntries = nodes_[node].entries;
        break;
    case OpKind::Rename: {
        const auto [toParent, toName] = parentOf(op.target);
        if (parent >= 0 && node >= 0 && toParent >= 0) {
            nodes_[parent].entries.erase(name);
            nodes_[toParent].entries[toName] = node;
        }
        break;
    }
    case OpKind::Unlink:
    case OpKind::Rmdir:
        if (parent >= 0)
            nodes_[parent].entries.erase(name);
        break;
    case OpKind::Chmod:
        if (node >= 0)
            nodes_[node].mode = op.mode;
        break;
    }
}

std::optional<std::string> DurabilityModel::current(const std::string& path) const
{
    const int node = resolve(path);
    if (node < 0 || nodes_[node].directory)
        return std::nullopt;
    return nodes_[node].data;
}

void DurabilityModel::writeInto(int node, const QString& directory) const
{
    for (const auto& [name, child] : nodes_[node].durableEntries) {
        const QString path = QDir(directory).filePath(QFile::decodeName(name.c_str()));
        const QByteArray native = QFile::encodeName(path);
        if (nodes_[child].directory) {
            ::mkdir(native.constData(), 0755);
            writeInto(child, path);
        } else {
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                const std::string& data = nodes_[child].durableData;
                file.write(data.data(), static_cast<qint64>(data.size()));
            }
        }
        ::chmod(native.constData(), nodes_[child].durableMode);
    }
}

void DurabilityModel::writeDurable(const QString& directory) const
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory.toStdString(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    writeInto(0, directory);
}

DurabilityModel replay(DurabilityModel initial, const std::vector<Operation>& log, std::size_t count)
{
    for (std::size_t i = 0; i < count && i < log.size(); ++i)
        initial.apply(log[i]);
    return initial;
}

// The mounted file system ----------------------------------------------------

struct PowerCutFs::Served {
    mutable std::mutex mutex;
    int root = -1; // the backing directory
    QString backing;
    DurabilityModel model;
    std::vector<Operation> log;
    bool cut = false;
    std::uint64_t cutCount = 0;
    std::optional<std::uint64_t> cutAfter;
    std::optional<CutPoint> cutPoint;
    std::optional<Clock::time_point> cutTime;
    std::optional<std::uint64_t> quota;
    bool readOnly = false;
    struct fuse* fuse = nullptr;

    void cutNow()
    {
        if (cut)
            return;
        cut = true;
        cutCount = log.size();
        model.writeDurable(backing);
    }

    // Logs and applies an operation that succeeded, and cuts when it is
    // the point asked for.
    void done(Operation op)
    {
        op.number = log.size() + 1;
        op.time = Clock::now();
        model.apply(op);
        log.push_back(std::move(op));
        if (cutAfter && log.size() >= *cutAfter)
            cutNow();
        else if (cutPoint && find(log, *cutPoint) == log.size() - 1)
            cutNow();
    }
};

namespace {

std::atomic<bool> signalled{false};

void onSignal(int)
{
    signalled = true;
}

PowerCutFs::Served& served()
{
    return *static_cast<PowerCutFs::Served*>(fuse_get_context()->private_data);
}

// The path below the root: "" for the root itself.
std::string relative(const char* path)
{
    return path && path[0] == '/' ? std::string(path + 1) : std::string(path ? path : "");
}

const char* at(const std::string& rel)
{
    return rel.empty() ? "." : rel.c_str();
}

// Runs a handler under the lock: EIO once the power is gone.
template <typename F>
int guarded(F&& handler)
{
    PowerCutFs::Served& s = served();
    const std::lock_guard lock(s.mutex);
    if (s.cut)
        return -EIO;
    return handler(s);
}

template <typename F>
int changing(F&& handler)
{
    return guarded([&](PowerCutFs::Served& s) { return s.readOnly ? -EROFS : handler(s); });
}

Operation op(OpKind kind, std::string path, std::int64_t offset = 0, std::string data = {}, unsigned mode = 0)
{
    Operation o;
    o.kind = kind;
    o.path = std::move(path);
    o.offset = offset;
    o.data = std::move(data);
    o.mode = mode;
    return o;
}

int result(int rc)
{
    return rc < 0 ? -errno : 0;
}

unsigned modeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_mode & 07777 : 0644;
}

void* pcInit(struct fuse_conn_info*, struct fuse_config* config)
{
    // No cache of names or attributes in the kernel, and every read and write
    // served here as asked, so that what the program sees is what is logged.
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->hard_remove = 1;
    config->direct_io = 1;
    return fuse_get_context()->private_data;
}

int pcGetattr(const char* path, struct stat* st, struct fuse_file_info* fi)
{
    return guarded([&](PowerCutFs::Served& s) {
        if (fi)
            return result(::fstat(static_cast<int>(fi->fh), st));
        return result(::fstatat(s.root, at(relative(path)), st, AT_SYMLINK_NOFOLLOW));
    });
}

int pcAccess(const char* path, int mask)
{
    return guarded([&](PowerCutFs::Served& s) {
        if (s.readOnly && (mask & W_OK))
            return -EROFS;
        return result(::faccessat(s.root, at(relative(path)), mask, 0));
    });
}

int pcReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
              enum fuse_readdir_flags)
{
    return guarded([&](PowerCutFs::Served& s) {
        const int fd = ::openat(s.root, at(relative(path)), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return -errno;
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return -errno;
        }
        while (const dirent* entry = ::readdir(dir))
            fill(buffer, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        ::closedir(dir);
        return 0;
    });
}

int pcOpen(const char* path, struct fuse_file_info* fi)
{
    return guarded([&](PowerCutFs::Served& s) {
        const bool writes = (fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC);
        if (s.readOnly && writes)
            return -EROFS;
        const std::string rel = relative(path);
        const int fd = ::openat(s.root, at(rel), fi->flags & ~(O_CREAT | O_EXCL | O_NOCTTY));
        if (fd < 0)
            return -errno;
        fi->fh = static_cast<std::uint64_t>(fd);
        if (fi->flags & O_TRUNC)
            s.done(op(OpKind::Truncate, rel));
        return 0;
    });
}

int pcCreate(const char* path, mode_t mode, struct fuse_file_info* fi)
{
    return changing([&](PowerCutFs::Served& s) {
        const std::string rel = relative(path);
        const int fd = ::openat(s.root, at(rel), fi->flags | O_CREAT, mode);
        if (fd < 0)
            return -errno;
        fi->fh = static_cast<std::uint64_t>(fd);
        s.done(op(OpKind::Create, rel, 0, {}, modeOf(fd)));
        return 0;
    });
}

int pcRead(const char*, char* buffer, size_t size, off_t offset, struct fuse_file_info* fi)
{
    return guarded([&](PowerCutFs::Served&) {
        const ssize_t n = ::pread(static_cast<int>(fi->fh), buffer, size, offset);
        return n < 0 ? -errno : static_cast<int>(n);
    });
}

int pcWrite(const char* path, const char* buffer, size_t size, off_t offset, struct fuse_file_info* fi)
{
    return changing([&](PowerCutFs::Served& s) {
        const int fd = static_cast<int>(fi->fh);
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return -errno;
        const auto end = static_cast<std::uint64_t>(offset) + size;
        const std::uint64_t growth = end > static_cast<std::uint64_t>(st.st_size) ? end - st.st_size : 0;
        if (s.quota && s.model.currentBytes() + growth > *s.quota)
            return -ENOSPC;
        const ssize_t n = ::pwrite(fd, buffer, size, offset);
        if (n < 0)
            return -errno;
        if (path)
            s.done(op(OpKind::Write, relative(path), offset, std::string(buffer, static_cast<std::size_t>(n))));
        return static_cast<int>(n);
    });
}

int pcTruncate(const char* path, off_t size, struct fuse_file_info* fi)
{
    return changing([&](PowerCutFs::Served& s) {
        const std::string rel = relative(path);
        const int rc = fi ? ::ftruncate(static_cast<int>(fi->fh), size)
                          : ::truncate(QFile::encodeName(QDir(s.backing).filePath(QString::fromStdString(rel))), size);
        if (rc != 0)
            return -errno;
        s.done(op(OpKind::Truncate, rel, size));
        return 0;
    });
}

// The backing directory is not the disk that loses power: syncing it would
// only slow the tests, so a sync is a record in the model alone.
int pcFsync(const char* path, int datasync, struct fuse_file_info*)
{
    return guarded([&](PowerCutFs::Served& s) {
        if (path)
            s.done(op(datasync ? OpKind::Fdatasync : OpKind::Fsync, relative(path)));
        return 0;
    });
}

int pcFsyncdir(const char* path, int, struct fuse_file_info*)
{
    return guarded([&](PowerCutFs::Served& s) {
        s.done(op(OpKind::FsyncDir, relative(path)));
        return 0;
    });
}

int pcMkdir(const char* path, mode_t mode)
{
    return changing([&](PowerCutFs::Served& s) {
        const std::string rel = relative(path);
        if (::mkdirat(s.root, at(rel), mode) != 0)
            return -errno;
        struct stat st {};
        ::fstatat(s.root, at(rel), &st, 0);
        s.done(op(OpKind::Mkdir, rel, 0, {}, st.st_mode & 07777));
        return 0;
    });
}

int pcUnlink(const char* path)
{
    return changing([&](PowerCutFs::Served& s) {
        const std::string rel = relative(path);
        if (::unlinkat(s.root, at(rel), 0) != 0)
            return -errno;
        s.done(op(OpKind::Unlink, rel));
        return 0;
    });
}

int pcRmdir(const char* path)
{
    return changing([&](PowerCutFs::Served& s) {
        const std::string rel = relative(path);
        if (::unlinkat(s.root, at(rel), AT_REMOVEDIR) != 0)
            return -errno;
        s.done(op(OpKind::Rmdir, rel));
        return 0;
    });
}

int pcRename(const char* from, const char* to, unsigned int flags)
{
    return changing([&](PowerCutFs::Served& s) {
        if (flags != 0)
            return -EINVAL; // nothing here needs RENAME_NOREPLACE or RENAME_EXCHANGE
        const std::string source = relative(from), target = relative(to);
        if (::renameat(s.root, at(source), s.root, at(target)) != 0)
            return -errno;
        Operation renamed = op(OpKind::Rename, source);
        renamed.target = target;
        s.done(std::move(renamed));
        return 0;
    });
}

int pcChmod(const char* path, mode_t mode, struct fuse_file_info*)
{
    return changing([&](PowerCutFs::Served& s) {
        const std::string rel = relative(path);
        if (::fchmodat(s.root, at(rel), mode, 0) != 0)
            return -errno;
        s.done(op(OpKind::Chmod, rel, 0, {}, static_cast<unsigned>(mode & 07777)));
        return 0;
    });
}

int pcChown(const char* path, uid_t uid, gid_t gid, struct fuse_file_info*)
{
    return changing([&](PowerCutFs::Served& s) { return result(::fchownat(s.root, at(relative(path)), uid, gid, 0)); });
}

int pcUtimens(const char* path, const struct timespec times[2], struct fuse_file_info* fi)
{
    return changing([&](PowerCutFs::Served& s) {
        if (fi)
            return result(::futimens(static_cast<int>(fi->fh), times));
        return result(::utimensat(s.root, at(relative(path)), times, 0));
    });
}

int pcRelease(const char*, struct fuse_file_info* fi)
{
    ::close(static_cast<int>(fi->fh));
    return 0;
}

int pcStatfs(const char*, struct statvfs* st)
{
    return guarded([&](PowerCutFs::Served& s) { return result(::fstatvfs(s.root, st)); });
}

fuse_operations handlers()
{
    fuse_operations ops{};
    ops.init = pcInit;
    ops.getattr = pcGetattr;
    ops.access = pcAccess;
    ops.readdir = pcReaddir;
    ops.open = pcOpen;
    ops.create = pcCreate;
    ops.read = pcRead;
    ops.write = pcWrite;
    ops.truncate = pcTruncate;
    ops.fsync = pcFsync;
    ops.fsyncdir = pcFsyncdir;
    ops.mkdir = pcMkdir;
    ops.unlink = pcUnlink;
    ops.rmdir = pcRmdir;
    ops.rename = pcRename;
    ops.chmod = pcChmod;
    ops.chown = pcChown;
    ops.utimens = pcUtimens;
    ops.release = pcRelease;
    ops.statfs = pcStatfs;
    return ops;
}

} // namespace

PowerCutFs::PowerCutFs(const QString& backing, const QString& mountPoint)
    : backing_(QDir(backing).absolutePath()), mountPoint_(QDir(mountPoint).absolutePath()), origin_(Clock::now()),
      initial_(DurabilityModel::load(backing_)), served_(std::make_unique<Served>())
{
    served_->backing = backing_;
    served_->model = initial_;
    served_->root = ::open(QFile::encodeName(backing_).constData(), O_RDONLY | O_DIRECTORY);
    if (served_->root < 0) {
        error_ = QStringLiteral("cannot open %1: %2").arg(backing_, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        error_ = QStringLiteral("cannot use /dev/fuse: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    const char* argv[] = {"powercut", "-o", "fsname=powercut,subtype=powercut"};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    const fuse_operations ops = handlers();
    served_->fuse = fuse_new(&args, &ops, sizeof ops, served_.get());
    fuse_opt_free_args(&args);
    if (!served_->fuse) {
        error_ = QStringLiteral("libfuse would not set up the file system");
        return;
    }
    if (fuse_mount(served_->fuse, QFile::encodeName(mountPoint_).constData()) != 0) {
        fuse_destroy(served_->fuse);
        served_->fuse = nullptr;
        error_ = QStringLiteral("cannot mount a FUSE file system on %1 (it needs root, or fusermount3 set up)")
                     .arg(mountPoint_);
        return;
    }
    loop_ = std::thread([fuse = served_->fuse] { fuse_loop(fuse); });
    watcher_ = std::thread([this] { watch(); });
}

PowerCutFs::~PowerCutFs()
{
    if (signal_ != 0)
        std::signal(signal_, SIG_DFL);
    stopWatching_ = true;
    if (watcher_.joinable())
        watcher_.join();
    if (served_->fuse) {
        fuse_exit(served_->fuse);
        fuse_unmount(served_->fuse);
        loop_.join();
        fuse_destroy(served_->fuse);
    }
    if (served_->root >= 0)
        ::close(served_->root);
}

void PowerCutFs::watch()
{
    while (!stopWatching_) {
        {
            const std::lock_guard lock(served_->mutex);
            if ((served_->cutTime && Clock::now() >= *served_->cutTime) || signalled.exchange(false))
                served_->cutNow();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::vector<Operation> PowerCutFs::log() const
{
    const std::lock_guard lock(served_->mutex);
    return served_->log;
}

std::uint64_t PowerCutFs::operations() const
{
    const std::lock_guard lock(served_->mutex);
    return served_->log.size();
}

void PowerCutFs::cutAfter(std::uint64_t count)
{
    const std::lock_guard lock(served_->mutex);
    served_->cutAfter = count;
    if (served_->log.size() >= count)
        served_->cutNow();
}

void PowerCutFs::cutAt(const CutPoint& point)
{
    const std::lock_guard lock(served_->mutex);
    served_->cutPoint = point;
}

void PowerCutFs::cutAtTime(Clock::time_point when)
{
    const std::lock_guard lock(served_->mutex);
    served_->cutTime = when;
}

void PowerCutFs::cutOnSignal(int signal)
{
    signalled = false;
    signal_ = signal;
    std::signal(signal, onSignal);
}

void PowerCutFs::cutNow()
{
    const std::lock_guard lock(served_->mutex);
    served_->cutNow();
}

bool PowerCutFs::isCut() const
{
    const std::lock_guard lock(served_->mutex);
    return served_->cut;
}

std::uint64_t PowerCutFs::operationsBeforeCut() const
{
    const std::lock_guard lock(served_->mutex);
    return served_->cutCount;
}

void PowerCutFs::setQuota(std::optional<std::uint64_t> bytes)
{
    const std::lock_guard lock(served_->mutex);
    served_->quota = bytes;
}

std::uint64_t PowerCutFs::usedBytes() const
{
    const std::lock_guard lock(served_->mutex);
    return served_->model.currentBytes();
}

void PowerCutFs::setReadOnly(bool readOnly)
{
    const std::lock_guard lock(served_->mutex);
    served_->readOnly = readOnly;
}

QString unavailableReason()
{
    static const QString reason = [] {
        QTemporaryDir backing, mount;
        if (!backing.isValid() || !mount.isValid())
            return QStringLiteral("no temporary folder to try a mount in");
        PowerCutFs fs(backing.path(), mount.path());
        if (!fs.error().isEmpty())
            return fs.error();
        // Mounted is not yet served: a file made through it must land in the
        // backing directory.
        QFile probe(QDir(mount.path()).filePath(QStringLiteral("probe")));
        if (!probe.open(QIODevice::WriteOnly) || !QFile::exists(QDir(backing.path()).filePath(QStringLiteral("probe"))))
            return QStringLiteral("the FUSE mount does not serve files: %1").arg(probe.errorString());
        return QString();
    }();
    return reason;
}

} // namespace zelvar::testing_support::powercut
