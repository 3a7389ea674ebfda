// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The file primitives every file the program keeps is read and written with (the registry
// store, the start-up entry, the settings file): whole reads with a size limit, one lock rule
// with a bounded wait, and atomic replacement. Each step of a write goes through FileOps so that
// tests can make any one of them fail.

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/files/UniqueFd.h"

namespace fb::linux_impl {

// The system calls a write is made of. The defaults call the system; tests override a method to
// inject a failure (return -1 and set errno).
class FileOps {
public:
    virtual ~FileOps() = default;
    virtual int Open(const std::string& path, int flags, mode_t mode);
    virtual ssize_t Write(int fd, const void* data, std::size_t size);
    virtual int Fsync(int fd);
    virtual int Close(int fd);
    virtual int Rename(const std::string& from, const std::string& to);
    virtual int Unlink(const std::string& path);
};

// Identity of a file's current content as far as stat tells (a replaced file has a new inode,
// one rewritten in place a new change time).
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;

    bool operator==(const FileStamp&) const = default;
};

enum class ReadStatus { Ok, Missing, TooLarge, Failed };

struct FileContent {
    ReadStatus status = ReadStatus::Missing;
    std::string text;
    FileStamp stamp;
};

// The stamp of a regular file, or nothing when it is missing or not a regular file.
std::optional<FileStamp> StatRegularFile(const std::string& path);

// Reads a whole regular file of at most `limit` bytes. Never blocks on a FIFO, never follows a
// device; the file is closed before returning.
FileContent ReadWholeFile(const std::string& path, std::size_t limit);

// The start of a regular file, at most `limit` bytes; empty when it cannot be read. For the
// kernel's files (/proc, /sys), whose size the file system does not tell, and other small files
// where a cut-off end does no harm. Never blocks on a FIFO, never follows a device.
std::string ReadFileStart(const std::string& path, std::size_t limit);

// Creates the directory and its missing parents (mode 0700 for the ones created).
bool MakeDirectories(const std::string& dir);

std::string DirectoryOf(const std::string& path);

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config; empty when neither is known.
std::string UserConfigHome();

// The one lock rule of the program's files: an exclusive flock on a lock file beside them,
// held for the lifetime of this object. Another process may hold the lock for as long as it
// likes (a copy stopped in the middle of a save), so the lock is waited for at most `wait`;
// after that Held() is false and Busy() true. On a file system without locks the lock counts
// as held: there is nobody to wait for.
class FileLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{1000};

    explicit FileLock(const std::string& lockPath, std::chrono::milliseconds wait = kDefaultWait);
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return m_fd.Valid(); }
    // True when another process held the lock for the whole wait.
    bool Busy() const { return m_error == EWOULDBLOCK; }
    int Error() const { return m_error; }

private:
    UniqueFd m_fd; // closing the last descriptor releases the lock
    int m_error = 0;
};

// The file a write of `path` replaces: `path` itself, or the file a symbolic link at `path`
// names, also when that file does not exist yet (a dangling link) as long as its directory
// does. Returns 0 or an errno value; `isLink` tells whether `path` is a link.
int ResolveWriteTarget(const std::string& path, std::string& target, bool& isLink);

// Replaces `path` with `content`: a temporary file beside it, written, flushed with fsync and
// renamed over the old one, then the directory flushed. A failure before the rename leaves the
// old file untouched and removes the temporary file. Returns 0 or an errno value. A symbolic link
// at `path` is followed, dangling or not, so that the file it names is written and the link
// stays. The replaced file's permission bits (and owner, for root) are kept; a new file gets
// `mode` as the umask allows. A file the process may not write, or whose owner has no write
// permission, is never replaced (EACCES), even for root.
int AtomicReplaceFile(FileOps& ops, const std::string& path, const std::string& content,
                      mode_t mode);

// Removes temporary files that a write of `path` left behind when its process died. Only to be
// called under the lock that every writer of `path` holds.
void RemoveStaleTemporaries(FileOps& ops, const std::string& path);

} // namespace fb::linux_impl
