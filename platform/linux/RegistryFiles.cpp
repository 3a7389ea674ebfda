// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/RegistryFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace fb::linux_impl {

namespace {

std::int64_t Nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStamp StampOf(const struct stat& info) {
    return FileStamp{info.st_dev, info.st_ino, info.st_size, Nanoseconds(info.st_mtim),
                     Nanoseconds(info.st_ctim)};
}

// Closes a descriptor at the end of a scope unless released.
class FdCloser {
public:
    FdCloser(RegistryFileOps& ops, int fd)
        : ops_(ops)
        , fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0)
            ops_.Close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    int Release() { return std::exchange(fd_, -1); }

private:
    RegistryFileOps& ops_;
    int fd_;
};

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ReadLink(const std::string& link) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length <= 0)
        return {};
    target.resize(static_cast<std::size_t>(length));
    if (target.front() != '/')
        target = DirectoryOf(link) + "/" + target;
    return target;
}

// Follows a chain of links that ends at a name that does not exist yet.
int ResolveDanglingLink(const std::string& path, std::string& target) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        const std::string next = ReadLink(current);
        if (next.empty())
            return errno != 0 ? errno : EINVAL;
        struct stat info {};
        if (::lstat(next.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode))
                return ENOENT; // exists after all: a directory on the way went missing
            current = next;
            continue;
        }
        if (errno != ENOENT)
            return errno;
        // Where the user pointed the link, but no directories are made up for it.
        if (!IsDirectory(DirectoryOf(next)))
            return ENOENT;
        target = next;
        return 0;
    }
    return ELOOP;
}

// The path temporaries of a write of `path` are named after.
std::string TargetOrPath(const std::string& path) {
    std::string target;
    bool isLink = false;
    return ResolveWriteTarget(path, target, isLink) == 0 ? target : path;
}

} // namespace

int RegistryFileOps::Open(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t RegistryFileOps::Write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int RegistryFileOps::Fsync(int fd) {
    return ::fsync(fd);
}

int RegistryFileOps::Close(int fd) {
    return ::close(fd);
}

int RegistryFileOps::Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str());
}

int RegistryFileOps::Unlink(const std::string& path) {
    return ::unlink(path.c_str());
}

int ResolveWriteTarget(const std::string& path, std::string& target, bool& isLink) {
    struct stat info {};
    isLink = ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    if (!isLink) {
        target = path;
        return 0;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved != nullptr) {
        target = resolved;
        std::free(resolved);
        return 0;
    }
    if (errno != ENOENT)
        return errno;
    return ResolveDanglingLink(path, target);
}

std::optional<FileStamp> StatRegularFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return StampOf(info);
}

FileContent ReadWholeFile(const std::string& path, std::size_t limit) {
    FileContent content;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        content.status =
            (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Failed;
        return content;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        content.status = ReadStatus::Failed;
        return content;
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        ::close(fd);
        content.status = ReadStatus::TooLarge;
        return content;
    }
    content.stamp = StampOf(info);
    content.text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done == content.text.size()) {
            // The file may have grown since fstat: read on, within the limit.
            if (content.text.size() >= limit)
                break;
            content.text.resize(std::min(limit, content.text.size() + 4096));
        }
        const ssize_t got = ::read(fd, content.text.data() + done, content.text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            content.status = ReadStatus::Failed;
            content.text.clear();
            return content;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    content.text.resize(done);
    ::close(fd);
    content.status = ReadStatus::Ok;
    return content;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool MakeDirectories(const std::string& dir) {
    if (dir.empty())
        return false;
    struct stat info {};
    if (::stat(dir.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && !MakeDirectories(parent))
        return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

namespace {

using Clock = std::chrono::steady_clock;

// Tries `attempt` (0, or an errno value) until it succeeds, fails otherwise than with
// EWOULDBLOCK, or the deadline passes. Returns the last result.
template <typename Attempt> int PollUntil(Clock::time_point deadline, Attempt attempt) {
    std::chrono::milliseconds pause{1};
    for (;;) {
        const int result = attempt();
        if (result == EINTR)
            continue;
        const auto now = Clock::now();
        if (result != EWOULDBLOCK || now >= deadline)
            return result;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds{10});
    }
}

// The waiting line in front of the lock: a record lock on the lock file's first byte, which is
// independent of the flock. Without it a writer that only polls could wait forever behind one
// that takes the lock again right after releasing it.
int SetQueueLock(int fd, short type) {
    struct ::flock record {};
    record.l_type = type;
    record.l_whence = SEEK_SET;
    record.l_start = 0;
    record.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &record) == 0)
        return 0;
    return (errno == EAGAIN || errno == EACCES) ? EWOULDBLOCK : errno;
}

} // namespace

RegistryLock::RegistryLock(const std::string& lockPath, std::chrono::milliseconds wait) {
    MakeDirectories(DirectoryOf(lockPath));
    do {
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    // Polled rather than blocking: a blocked flock() cannot be given up after a while.
    const auto deadline = Clock::now() + wait;
    const int queued = PollUntil(deadline, [&] { return SetQueueLock(fd_, F_WRLCK); });
    if (queued == EWOULDBLOCK) {
        error_ = EWOULDBLOCK;
    } else {
        // A file system without record locks just has no waiting line.
        error_ =
            PollUntil(deadline, [&] { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; });
        if (queued == 0)
            SetQueueLock(fd_, F_UNLCK);
    }
    if (error_ == 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

RegistryLock::~RegistryLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the last descriptor releases the lock
}

int AtomicReplaceFile(RegistryFileOps& ops, const std::string& path, const std::string& content,
                      mode_t mode) {
    static std::atomic<unsigned> counter{0};
    std::string target;
    bool isLink = false;
    if (const int error = ResolveWriteTarget(path, target, isLink); error != 0)
        return error;
    const std::string dir = DirectoryOf(target);
    if (!isLink && !MakeDirectories(dir))
        return errno != 0 ? errno : EIO;

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // A file its owner made read-only is not to be rewritten; root's open() would not ask.
        if ((old.st_mode & S_IWUSR) == 0)
            return EACCES;
        mode = old.st_mode & 07777;
    }

    const std::string temp =
        target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int fd = ops.Open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    FdCloser closer(ops, fd);
    const auto fail = [&](int error) {
        ops.Close(closer.Release());
        ops.Unlink(temp);
        return error != 0 ? error : EIO;
    };
    ::fchmod(fd, mode); // the umask may have narrowed it

    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t wrote = ops.Write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return fail(wrote < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(wrote);
    }
    if (ops.Fsync(fd) != 0)
        return fail(errno);
    if (ops.Close(closer.Release()) != 0) {
        const int error = errno;
        ops.Unlink(temp);
        return error != 0 ? error : EIO;
    }
    if (ops.Rename(temp, target) != 0) {
        const int error = errno;
        ops.Unlink(temp);
        return error != 0 ? error : EIO;
    }
    // The new file is in place; make its directory entry durable too. A failure here cannot
    // undo the rename, and every reader already sees the new content, so it is not reported.
    const int dirFd = ops.Open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dirFd >= 0) {
        ops.Fsync(dirFd);
        ops.Close(dirFd);
    }
    return 0;
}

void RemoveStaleTemporaries(RegistryFileOps& ops, const std::string& path) {
    const std::string target = TargetOrPath(path);
    const std::string dir = DirectoryOf(target);
    const std::string prefix = target.substr(target.find_last_of('/') + 1) + ".tmp-";
    DIR* stream = ::opendir(dir.c_str());
    if (stream == nullptr)
        return;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(stream)) {
        if (std::string_view(entry->d_name).substr(0, prefix.size()) == prefix)
            stale.push_back(dir + "/" + entry->d_name);
    }
    ::closedir(stream);
    for (const auto& name : stale)
        ops.Unlink(name);
}

std::string SetFileAside(const std::string& path) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string base = path + ".corrupt-" + stamp;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string name = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
            return name;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return {};
        // A file system without RENAME_NOREPLACE: a hard link never replaces either.
        if (::link(path.c_str(), name.c_str()) == 0) {
            ::unlink(path.c_str());
            return name;
        }
        if (errno != EEXIST)
            return {};
    }
    return {};
}

} // namespace fb::linux_impl
