// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/IniProfile.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fb::linux_impl {
namespace {

// ---------------------------------------------------------------------------------------------
// Text helpers

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The part of a C-level string before its first NUL.
std::string_view CString(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

// A value as a reader sees it: up to a NUL, without blanks and without one pair of
// enclosing quotes.
std::string_view ReadableValue(std::string_view raw) {
    std::string_view value = Trim(CString(raw));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

// ---------------------------------------------------------------------------------------------
// Lines

// What a line is, and where its name and value are.
struct Shape {
    enum class Kind { Other, Section, Key };

    Kind kind = Kind::Other;
    std::size_t nameStart = 0;
    std::size_t nameLength = 0;
    std::size_t valueStart = 0; // Key: first byte of the value (after '=' and blanks)
};

// Finds out what the line (without its line end) is; `first` skips a byte order mark at the
// start of the file.
Shape Classify(std::string_view text, std::size_t first = 0) {
    Shape shape;
    while (first < text.size() && IsBlank(text[first]))
        ++first;
    if (first == text.size() || text[first] == ';')
        return shape; // blank line or comment
    if (text[first] == '[') {
        const std::size_t close = text.find(']', first + 1);
        if (close == std::string_view::npos)
            return shape; // not a header: kept as it is, starts no section
        const std::string_view name = Trim(text.substr(first + 1, close - first - 1));
        shape.kind = Shape::Kind::Section;
        shape.nameStart =
            name.empty() ? first + 1 : static_cast<std::size_t>(name.data() - text.data());
        shape.nameLength = name.size();
        return shape;
    }
    const std::size_t equals = text.find('=', first);
    if (equals == std::string_view::npos)
        return shape;
    const std::string_view name = Trim(text.substr(first, equals - first));
    if (name.empty())
        return shape;
    shape.kind = Shape::Kind::Key;
    shape.nameStart = static_cast<std::size_t>(name.data() - text.data());
    shape.nameLength = name.size();
    std::size_t value = equals + 1;
    while (value < text.size() && IsBlank(text[value]))
        ++value;
    shape.valueStart = value;
    return shape;
}

// Splits the content into lines: `visit(text, end, offset)` for each, where `text` lacks the
// line end ("\n", "\r\n", or "" for a last line without a newline) and `offset` is where the
// line starts in `content`.
template <typename Visit> void ForEachLine(std::string_view content, Visit&& visit) {
    std::size_t offset = 0;
    while (offset < content.size()) {
        const std::size_t newline = content.find('\n', offset);
        if (newline == std::string_view::npos) {
            visit(content.substr(offset), std::string_view(), offset);
            return;
        }
        std::size_t textEnd = newline;
        if (textEnd > offset && content[textEnd - 1] == '\r')
            --textEnd;
        visit(content.substr(offset, textEnd - offset),
              content.substr(textEnd, newline + 1 - textEnd), offset);
        offset = newline + 1;
    }
}

// The shape of a line of the file: the first line may start with a byte order mark.
Shape ClassifyInFile(std::string_view text, std::size_t offset) {
    const bool byteOrderMark =
        offset == 0 && text.substr(0, kByteOrderMark.size()) == kByteOrderMark;
    return Classify(text, byteOrderMark ? kByteOrderMark.size() : 0);
}

// ---------------------------------------------------------------------------------------------
// The file as a list of lines, each kept with its own line end so that a rewrite reproduces
// every line it does not change byte for byte.

struct Line {
    std::string text; // without its line end
    std::string end;  // "\n", "\r\n" or "" (last line without a newline)
    Shape shape;
    std::string_view Name() const {
        return std::string_view(text).substr(shape.nameStart, shape.nameLength);
    }
    bool Is(Shape::Kind kind) const { return shape.kind == kind; }
};

class Document {
public:
    explicit Document(std::string_view content) {
        ForEachLine(content, [this](std::string_view text, std::string_view end,
                                    std::size_t offset) {
            lines_.push_back({std::string(text), std::string(end), ClassifyInFile(text, offset)});
        });
    }

    void Set(std::string_view section, std::string_view key, std::string_view value) {
        const std::optional<std::size_t> header = FindSection(section);
        if (!header) {
            TerminateLastLine();
            Append(NewLine("[" + std::string(section) + "]"));
            Append(NewLine(std::string(key) + "=" + std::string(value)));
            return;
        }
        std::size_t insertAfter = *header;
        for (std::size_t i = *header + 1; i < lines_.size(); ++i) {
            Line& line = lines_[i];
            if (line.Is(Shape::Kind::Section))
                break;
            if (line.Is(Shape::Kind::Key) && SameName(line.Name(), key)) {
                Replace(line, value);
                return;
            }
            if (!Trim(line.text).empty())
                insertAfter = i;
        }
        Line added = NewLine(std::string(key) + "=" + std::string(value));
        if (lines_[insertAfter].end.empty())
            lines_[insertAfter].end = LineEnd();
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                      std::move(added));
    }

    std::string Text() const {
        std::string out;
        std::size_t size = 0;
        for (const Line& line : lines_)
            size += line.text.size() + line.end.size();
        out.reserve(size);
        for (const Line& line : lines_) {
            out += line.text;
            out += line.end;
        }
        return out;
    }

private:
    // A value with leading blanks of its own replaces the blanks after '=' too, so that
    // rewriting it does not widen the gap each time.
    static void Replace(Line& line, std::string_view value) {
        std::size_t from = line.shape.valueStart;
        if (!value.empty() && IsBlank(value.front()))
            from = line.text.find('=', line.shape.nameStart + line.shape.nameLength) + 1;
        line.text.replace(from, std::string::npos, value);
    }

    std::optional<std::size_t> FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].Is(Shape::Kind::Section) && SameName(lines_[i].Name(), section))
                return i;
        }
        return std::nullopt;
    }

    // The line end of the existing file: the first one found, LF for a file without any.
    std::string LineEnd() const {
        for (const Line& line : lines_) {
            if (!line.end.empty())
                return line.end;
        }
        return "\n";
    }

    Line NewLine(std::string text) const {
        Line line{std::move(text), LineEnd(), {}};
        line.shape = Classify(line.text);
        return line;
    }

    void TerminateLastLine() {
        if (!lines_.empty() && lines_.back().end.empty())
            lines_.back().end = LineEnd();
    }

    void Append(Line line) { lines_.push_back(std::move(line)); }

    std::vector<Line> lines_;
};

// ---------------------------------------------------------------------------------------------
// Files

class Fd {
public:
    explicit Fd(int fd = -1)
        : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept
        : fd_(other.Release()) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

enum class ReadResult { Ok, Missing, Failed };

// Opens a regular file for reading. Never blocks on a FIFO or device: those count as failures,
// as does a file too large to be ours.
ReadResult OpenRegular(int dirFd, const char* name, Fd& fd, struct stat& info) {
    fd.Reset(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > IniProfile::kMaxFileSize)
        return ReadResult::Failed;
    return ReadResult::Ok;
}

// Reads the rest of an open file.
bool ReadAll(int fd, std::size_t expected, std::string& content) {
    content.clear();
    content.reserve(expected);
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > IniProfile::kMaxFileSize)
            return false;
    }
}

// Reads a regular file completely.
ReadResult ReadFile(int dirFd, const char* name, std::string& content, struct stat* info) {
    Fd fd;
    struct stat st {};
    const ReadResult opened = OpenRegular(dirFd, name, fd, st);
    if (opened != ReadResult::Ok)
        return opened;
    if (!ReadAll(fd.Get(), static_cast<std::size_t>(st.st_size), content))
        return ReadResult::Failed;
    if (info != nullptr)
        *info = st;
    return ReadResult::Ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// The path a write must replace: the file itself, or the file a symbolic link names.
std::optional<std::string> WriteTarget(const std::string& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return file;
    char* resolved = ::realpath(file.c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt; // a dangling or looping link: not ours to replace
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// Creates the folder and its missing parents, private to the user as the folders of a
// user's own settings are.
void MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return;
        if (slash == std::string::npos)
            return;
    }
}

// The path as one line of text: control characters shown as '?'.
std::string Printable(std::string_view path) {
    std::string text(path);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return text;
}

// Takes the folder's lock, waiting at most kLockWait for another process to let go of it.
// False when it stayed held; a file system without locks counts as locked.
bool LockFolder(int fd) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + IniProfile::kLockWait;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return true; // a file system without locks: write unlocked
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Opens the directory for the *at calls and locks it against a second writer of the same
// file, so that two processes' read-modify-write cycles do not lose each other's keys.
// `busy` tells that another process kept the lock.
Fd OpenDirectory(const std::string& dir, bool& busy) {
    busy = false;
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        if (!LockFolder(fd.Get())) {
            busy = true;
            fd.Reset();
        }
        return fd;
    }
    // A directory we may search and write but not list still takes the file.
    fd.Reset(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return fd;
}

std::string TemporaryName(const std::string& base) {
    static std::atomic<unsigned> counter{0};
    return "." + base.substr(0, 64) + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter.fetch_add(1)) + ".tmp";
}

// Replaces `name` in the directory by a file holding `content`, never leaving a half-written
// file behind. `existing` is the replaced file's status, or null for a new file.
bool ReplaceFile(int dirFd, const std::string& name, std::string_view content,
                 const struct stat* existing) {
    std::string temporary;
    Fd fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        temporary = TemporaryName(name);
        fd.Reset(::openat(dirFd, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666));
        if (!fd && errno != EEXIST)
            return false;
    }
    if (!fd)
        return false;
    bool ok = WriteAll(fd.Get(), content);
    if (ok && existing != nullptr) {
        const mode_t bits = existing->st_mode & 07777;
        // The owner first: changing it clears set-id bits, which the mode then restores.
        if (::geteuid() == 0 && ::fchown(fd.Get(), existing->st_uid, existing->st_gid) != 0) {
            // Keep our own ownership; the content is what matters.
        }
        ok = ::fchmod(fd.Get(), bits) == 0;
    }
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = ::close(fd.Release()) == 0 && ok;
    ok = ok && ::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dirFd, temporary.c_str(), 0);
        return false;
    }
    ::fsync(dirFd); // the rename itself survives a crash; O_PATH descriptors just fail here
    return true;
}

bool ValidName(std::string_view name, std::string_view forbidden) {
    if (name.empty())
        return false;
    return name.find_first_of(forbidden) == std::string_view::npos;
}

// A write as it goes into the file, or nothing when it could not be read back as written.
struct CheckedWrite {
    std::string_view section;
    std::string_view key;
    std::string_view value;
};

std::optional<CheckedWrite> Check(const ProfileWrite& write) {
    const std::string_view section = Trim(CString(write.section));
    const std::string_view key = Trim(CString(write.key));
    const std::string_view value = CString(write.value);
    if (!ValidName(section, "]\r\n") || !ValidName(key, "=\r\n") || key.front() == ';' ||
        key.front() == '[' || value.find_first_of("\r\n") != std::string_view::npos)
        return std::nullopt;
    return CheckedWrite{section, key, value};
}

// ---------------------------------------------------------------------------------------------
// What identifies one version of a file: a rewrite by rename gives a new inode, one in place a
// new change time.

struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};

    explicit Stamp(const struct stat& info)
        : device(info.st_dev)
        , inode(info.st_ino)
        , size(info.st_size)
        , modified(info.st_mtim)
        , changed(info.st_ctim) {}

    bool operator==(const Stamp& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

// File times come from a clock that ticks in steps of a few milliseconds: a file changed in the
// last moments may change again without a new time stamp, so it is not kept.
bool ChangedJustNow(const struct stat& info) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto nanoseconds = [](const struct timespec& t) {
        return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    constexpr std::int64_t kSettled = 100'000'000; // 100 ms, many clock steps
    return nanoseconds(now) - nanoseconds(info.st_ctim) < kSettled;
}

} // namespace

// A file's content as read, with its sections found, for reading any number of keys out of
// it without reading the file again.
struct IniProfile::Snapshot {
    struct Section {
        std::string_view name;
        std::string_view body; // the lines after the header, up to the next header
    };

    Snapshot(std::string path, const struct stat& info, std::string text)
        : file(std::move(path))
        , stamp(info)
        , content(std::move(text)) {
        const std::string_view all = content;
        std::vector<std::size_t> headers; // where each section's header line starts
        ForEachLine(all, [&](std::string_view line, std::string_view end, std::size_t offset) {
            const Shape shape = ClassifyInFile(line, offset);
            if (shape.kind != Shape::Kind::Section)
                return;
            headers.push_back(offset);
            const std::size_t bodyStart = offset + line.size() + end.size();
            sections.push_back(
                {line.substr(shape.nameStart, shape.nameLength), all.substr(bodyStart)});
        });
        for (std::size_t i = 0; i + 1 < sections.size(); ++i) {
            const auto bodyStart = static_cast<std::size_t>(sections[i].body.data() - all.data());
            sections[i].body = sections[i].body.substr(0, headers[i + 1] - bodyStart);
        }
    }

    // The sections are views into the content: the snapshot stays where it was made.
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    // The key's value as a reader sees it, or nothing when the section or the key is missing.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const {
        for (const Section& candidate : sections) {
            if (!SameName(candidate.name, section))
                continue;
            std::optional<std::string_view> found;
            ForEachLine(candidate.body, [&](std::string_view line, std::string_view, std::size_t) {
                if (found)
                    return;
                const Shape shape = Classify(line);
                if (shape.kind == Shape::Kind::Key &&
                    SameName(line.substr(shape.nameStart, shape.nameLength), key))
                    found = ReadableValue(line.substr(shape.valueStart));
            });
            return found; // only the first section of a name is read
        }
        return std::nullopt;
    }

    const std::string file;
    const Stamp stamp;
    const std::string content;
    std::vector<Section> sections; // views into `content`, in file order
};

IniProfile::IniProfile() = default;

IniProfile::IniProfile(std::string userFolder)
    : m_userFolder(std::move(userFolder)) {}

IniProfile::~IniProfile() = default;

std::string IniProfile::DefaultUserFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/flowbright";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.config/flowbright";
    return {};
}

std::shared_ptr<const IniProfile::Snapshot> IniProfile::Load(const std::string& path) {
    Fd fd;
    struct stat info {};
    if (path.empty() || OpenRegular(AT_FDCWD, path.c_str(), fd, info) != ReadResult::Ok)
        return nullptr;
    {
        const std::lock_guard lock(m_cacheMutex);
        if (m_cache != nullptr && m_cache->file == path && m_cache->stamp == Stamp(info))
            return m_cache;
    }
    std::string content;
    if (!ReadAll(fd.Get(), static_cast<std::size_t>(info.st_size), content))
        return nullptr;
    auto snapshot = std::make_shared<const Snapshot>(path, info, std::move(content));
    if (!ChangedJustNow(info)) {
        const std::lock_guard lock(m_cacheMutex);
        m_cache = snapshot;
    }
    return snapshot;
}

std::string IniProfile::GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t size,
                                  const std::string& file) {
    if (size == 0)
        return {};
    try {
        std::optional<std::string> value;
        if (const auto snapshot = Load(std::string(CString(file)))) {
            if (const auto found = snapshot->Find(Trim(CString(section)), Trim(CString(key))))
                value.emplace(*found);
        }
        if (!value) {
            // The default loses its trailing blanks, as the Windows function strips them.
            std::string_view fallback = CString(defaultValue);
            while (!fallback.empty() && IsBlank(fallback.back()))
                fallback.remove_suffix(1);
            value.emplace(fallback);
        }
        if (value->size() > size - 1)
            value->resize(size - 1);
        return std::move(*value);
    } catch (const std::exception&) {
        return {};
    }
}

int IniProfile::GetInt(const std::string& section, const std::string& key, int defaultValue,
                       const std::string& file) {
    std::string text;
    try {
        const auto snapshot = Load(std::string(CString(file)));
        const auto found =
            snapshot ? snapshot->Find(Trim(CString(section)), Trim(CString(key))) : std::nullopt;
        if (found)
            text.assign(*found);
    } catch (const std::exception&) {
    }
    // A missing key and an empty value alike give the default.
    if (text.empty())
        return defaultValue;
    std::string_view digits = text;
    bool negative = false;
    if (digits.front() == '-' || digits.front() == '+') {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    // Decimal digits up to the first other character, wrapping at 32 bits as the Windows
    // conversion does.
    std::uint32_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            break;
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    }
    if (negative)
        value = 0u - value;
    return static_cast<int>(static_cast<std::int32_t>(value));
}

bool IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) {
    return WriteStrings(file, {ProfileWrite{section, key, value}}, {});
}

namespace {

// The folder and the name of the file a write replaces; nothing when it is no file's path.
std::optional<std::pair<std::string, std::string>> SplitTarget(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".")
                      : slash == 0               ? std::string("/")
                                                 : target.substr(0, slash);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    return std::pair{std::move(dir), std::move(name)};
}

// A file about to be rewritten.
struct Update {
    ReadResult read = ReadResult::Failed;
    struct stat info {}; // the old file's status, when it was read
    std::string content; // the new content
    bool changed = false;
};

// The new content of the file: its old content, or that of `startFrom` for a new file, with
// the writes applied in order. Nothing when the file cannot be read or may not be written.
std::optional<Update> Updated(int dirFd, const std::string& name,
                              const std::vector<CheckedWrite>& writes,
                              const std::string& startFrom) {
    Update update;
    std::string old;
    update.read = ReadFile(dirFd, name.c_str(), old, &update.info);
    if (update.read == ReadResult::Failed)
        return std::nullopt;
    if (update.read == ReadResult::Ok && ::faccessat(dirFd, name.c_str(), W_OK, AT_EACCESS) != 0)
        return std::nullopt; // a read-only file stays read-only
    if (update.read == ReadResult::Missing && !startFrom.empty() &&
        ReadFile(AT_FDCWD, startFrom.c_str(), old, nullptr) != ReadResult::Ok)
        old.clear(); // an unreadable shipped file leaves the user's copy to start empty
    Document document(old);
    for (const CheckedWrite& write : writes)
        document.Set(write.section, write.key, write.value);
    update.content = document.Text();
    update.changed = update.read != ReadResult::Ok || update.content != old;
    return update;
}

} // namespace

bool IniProfile::WriteStrings(const std::string& file, const std::vector<ProfileWrite>& writes,
                              const std::string& startFrom) {
    try {
        std::vector<CheckedWrite> checked;
        for (const ProfileWrite& write : writes) {
            if (const auto valid = Check(write))
                checked.push_back(*valid);
        }
        const std::string path(CString(file));
        if (checked.empty() || path.empty())
            return false;
        const std::optional<std::string> target = WriteTarget(path);
        const auto split = target ? SplitTarget(*target) : std::nullopt;
        if (!split)
            return false;
        const auto& [dir, name] = *split;
        if (!m_userFolder.empty() && dir == m_userFolder)
            MakeFolders(dir);

        bool busy = false;
        const Fd dirFd = OpenDirectory(dir, busy);
        if (busy) {
            std::fprintf(stderr,
                         "flowbright: %s not saved: another program has kept its folder locked "
                         "for over %lld ms\n",
                         Printable(path).c_str(), static_cast<long long>(kLockWait.count()));
        }
        if (!dirFd)
            return false;

        const std::optional<Update> update =
            Updated(dirFd.Get(), name, checked, std::string(CString(startFrom)));
        if (!update)
            return false;
        const bool replaced = !update->changed ||
                              ReplaceFile(dirFd.Get(), name, update->content,
                                          update->read == ReadResult::Ok ? &update->info : nullptr);
        return replaced && checked.size() == writes.size();
    } catch (const std::exception&) {
        return false;
    }
}

bool IniProfile::Exists(const std::string& file) {
    struct stat info {};
    const std::string path(CString(file));
    return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

bool IniProfile::CanWriteFolder(const std::string& folder) {
    const std::string path(CString(folder));
    return !path.empty() && ::access(path.c_str(), W_OK | X_OK) == 0;
}

} // namespace fb::linux_impl
