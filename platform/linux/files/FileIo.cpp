// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/files/FileIo.h"

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

int FileOps::Open(const std::string& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t FileOps::Write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int FileOps::Fsync(int fd) {
    return ::fsync(fd);
}

int FileOps::Close(int fd) {
    return ::close(fd);
}

int FileOps::Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str());
}

int FileOps::Unlink(const std::string& path) {
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

std::string ReadFileStart(const std::string& path, std::size_t limit) {
    UniqueFd fd;
    do {
        fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    } while (!fd && errno == EINTR);
    std::string text;
    struct stat info {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return text;
    char buffer[4096];
    while (text.size() < limit) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

FileContent ReadWholeFile(const std::string& path, std::size_t limit) {
    FileContent content;
    UniqueFd fd;
    do {
        fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    } while (!fd && errno == EINTR);
    if (!fd) {
        content.status =
            (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Failed;
        return content;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        content.status = ReadStatus::Failed;
        return content;
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
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
        const ssize_t got =
            ::read(fd.Get(), content.text.data() + done, content.text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            content.status = ReadStatus::Failed;
            content.text.clear();
            return content;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    content.text.resize(done);
    content.status = ReadStatus::Ok;
    return content;
}

std::string UserConfigHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        return config;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::string(home) + "/.config";
    return {};
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

FileLock::FileLock(const std::string& lockPath, std::chrono::milliseconds wait) {
    MakeDirectories(DirectoryOf(lockPath));
    do {
        m_fd.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
    } while (!m_fd && errno == EINTR);
    if (!m_fd) {
        m_error = errno;
        return;
    }
    // Polled rather than blocking: a blocked flock() cannot be given up after a while.
    const int fd = m_fd.Get();
    const auto deadline = Clock::now() + wait;
    const int queued = PollUntil(deadline, [&] { return SetQueueLock(fd, F_WRLCK); });
    if (queued == EWOULDBLOCK) {
        m_error = EWOULDBLOCK;
    } else {
        // A file system without record locks just has no waiting line.
        m_error =
            PollUntil(deadline, [&] { return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; });
        if (queued == 0)
            SetQueueLock(fd, F_UNLCK);
    }
    if (m_error == ENOLCK || m_error == EOPNOTSUPP || m_error == ENOSYS)
        m_error = 0; // a file system without locks: nobody can be waited for
    if (m_error != 0)
        m_fd.Reset();
}

namespace {

// Refuses to replace a file the process may not write, or one whose owner made it read-only
// (root's access() would not ask); otherwise takes over its permission bits and owner, so that
// the replacement looks as the file did. Returns 0 or an errno value.
int CheckReplaceable(const std::string& target, mode_t& mode, const struct stat*& old,
                     struct stat& info) {
    old = nullptr;
    if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    if ((info.st_mode & S_IWUSR) == 0 ||
        ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return EACCES;
    mode = info.st_mode & 07777;
    old = &info;
    return 0;
}

// Writes all of `content` to `fd`; 0 or an errno value.
int WriteAll(FileOps& ops, int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t wrote = ops.Write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return wrote < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

// Writes the temporary file and closes it, keeping the old file's owner and bits; 0 or an
// errno value.
int FillTemporary(FileOps& ops, UniqueFd fd, const std::string& content, mode_t mode,
                  const struct stat* old) {
    if (old != nullptr) {
        // The owner first: changing it clears set-id bits, which the mode then restores.
        if (::geteuid() == 0 && ::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
            // Keep our own ownership; the content is what matters.
        }
        ::fchmod(fd.Get(), mode); // the umask may have narrowed it
    }
    int error = WriteAll(ops, fd.Get(), content);
    if (error == 0 && ops.Fsync(fd.Get()) != 0)
        error = errno;
    if (ops.Close(fd.Release()) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace

int AtomicReplaceFile(FileOps& ops, const std::string& path, const std::string& content,
                      mode_t mode) {
    static std::atomic<unsigned> counter{0};
    std::string target;
    bool isLink = false;
    if (const int error = ResolveWriteTarget(path, target, isLink); error != 0)
        return error;
    const std::string dir = DirectoryOf(target);
    if (!isLink && !MakeDirectories(dir))
        return errno != 0 ? errno : EIO;
    struct stat info {};
    const struct stat* old = nullptr;
    if (const int error = CheckReplaceable(target, mode, old, info); error != 0)
        return error;

    const std::string temp =
        target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    UniqueFd fd(ops.Open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
    if (!fd)
        return errno != 0 ? errno : EIO;
    int error = FillTemporary(ops, std::move(fd), content, mode, old);
    if (error == 0 && ops.Rename(temp, target) != 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0) {
        ops.Unlink(temp);
        return error;
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

void RemoveStaleTemporaries(FileOps& ops, const std::string& path) {
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

} // namespace fb::linux_impl
