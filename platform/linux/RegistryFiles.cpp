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

std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
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

RegistryLock::RegistryLock(const std::string& lockPath) {
    MakeDirectories(DirectoryOf(lockPath));
    do {
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    int result;
    do {
        result = ::flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        error_ = errno;
        ::close(fd_);
        fd_ = -1;
    }
}

RegistryLock::~RegistryLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the last descriptor releases the lock
}

int AtomicReplaceFile(RegistryFileOps& ops, const std::string& path, const std::string& content,
                      mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const std::string target = ResolveLink(path);
    const std::string dir = DirectoryOf(target);
    if (!MakeDirectories(dir))
        return errno != 0 ? errno : EIO;

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        mode = old.st_mode & 07777;

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
    const std::string target = ResolveLink(path);
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
