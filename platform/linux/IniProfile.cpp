#include "platform/linux/IniProfile.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

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

// ---------------------------------------------------------------------------------------------
// The file as a list of lines, each kept with its own line end so that a rewrite reproduces
// every line it does not change byte for byte.

struct Line {
    enum class Kind { Other, Section, Key };

    std::string text; // without its line end
    std::string end;  // "\n", "\r\n" or "" (last line without a newline)
    Kind kind = Kind::Other;
    std::string_view Name() const { return std::string_view(text).substr(nameStart, nameLength); }
    std::size_t nameStart = 0;
    std::size_t nameLength = 0;
    std::size_t valueStart = 0; // Key: first byte of the value (after '=' and blanks)
};

// Finds out what the line is; `first` skips a byte order mark at the start of the file.
void Classify(Line& line, std::size_t first = 0) {
    const std::string_view text = line.text;
    while (first < text.size() && IsBlank(text[first]))
        ++first;
    if (first == text.size() || text[first] == ';')
        return; // blank line or comment
    if (text[first] == '[') {
        const std::size_t close = text.find(']', first + 1);
        if (close == std::string_view::npos)
            return; // not a header: kept as it is, starts no section
        const std::string_view inner = text.substr(first + 1, close - first - 1);
        const std::string_view name = Trim(inner);
        line.kind = Line::Kind::Section;
        line.nameStart =
            name.empty() ? first + 1 : static_cast<std::size_t>(name.data() - text.data());
        line.nameLength = name.size();
        return;
    }
    const std::size_t equals = text.find('=', first);
    if (equals == std::string_view::npos)
        return;
    const std::string_view name = Trim(text.substr(first, equals - first));
    if (name.empty())
        return;
    line.kind = Line::Kind::Key;
    line.nameStart = static_cast<std::size_t>(name.data() - text.data());
    line.nameLength = name.size();
    std::size_t value = equals + 1;
    while (value < text.size() && IsBlank(text[value]))
        ++value;
    line.valueStart = value;
}

class Document {
public:
    explicit Document(std::string_view content) {
        while (!content.empty()) {
            Line line;
            const std::size_t newline = content.find('\n');
            if (newline == std::string_view::npos) {
                line.text.assign(content);
                content = {};
            } else {
                std::size_t textEnd = newline;
                if (textEnd > 0 && content[textEnd - 1] == '\r')
                    --textEnd;
                line.text.assign(content.substr(0, textEnd));
                line.end.assign(content.substr(textEnd, newline + 1 - textEnd));
                content.remove_prefix(newline + 1);
            }
            const bool byteOrderMark =
                lines_.empty() && std::string_view(line.text).substr(0, 3) == "\xef\xbb\xbf";
            Classify(line, byteOrderMark ? 3 : 0);
            lines_.push_back(std::move(line));
        }
    }

    // The line of the key in the first section of that name, if any.
    const Line* FindKey(std::string_view section, std::string_view key) const {
        const std::optional<std::size_t> header = FindSection(section);
        if (!header)
            return nullptr;
        for (std::size_t i = *header + 1; i < lines_.size(); ++i) {
            const Line& line = lines_[i];
            if (line.kind == Line::Kind::Section)
                break;
            if (line.kind == Line::Kind::Key && SameName(line.Name(), key))
                return &line;
        }
        return nullptr;
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
            if (line.kind == Line::Kind::Section)
                break;
            if (line.kind == Line::Kind::Key && SameName(line.Name(), key)) {
                // A value with leading blanks of its own replaces the blanks after '=' too,
                // so that rewriting it does not widen the gap each time.
                std::size_t from = line.valueStart;
                if (!value.empty() && IsBlank(value.front()))
                    from = line.text.find('=', line.nameStart + line.nameLength) + 1;
                line.text.replace(from, std::string::npos, value);
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
    std::optional<std::size_t> FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind == Line::Kind::Section && SameName(lines_[i].Name(), section))
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
        Line line;
        line.text = std::move(text);
        line.end = LineEnd();
        Classify(line);
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

// Reads a regular file completely. Never blocks on a FIFO or device: those count as failures.
ReadResult ReadFile(int dirFd, const char* name, std::string& content, struct stat* info) {
    Fd fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > IniProfile::kMaxFileSize)
        return ReadResult::Failed;
    content.clear();
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ReadResult::Failed;
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > IniProfile::kMaxFileSize)
            return ReadResult::Failed;
    }
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

// Opens the directory for the *at calls and locks it against a second writer of the same
// file, so that two processes' read-modify-write cycles do not lose each other's keys.
Fd OpenDirectory(const std::string& dir) {
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        while (::flock(fd.Get(), LOCK_EX) != 0) {
            if (errno != EINTR)
                return fd; // a file system without locks: write unlocked
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

} // namespace

namespace {

// The value of the key as a reader sees it, or nothing when the file, the section or the key
// is missing (or the file cannot be read).
std::optional<std::string> Lookup(const std::string& section, const std::string& key,
                                  const std::string& file) {
    const std::string path(CString(file));
    std::string content;
    if (path.empty() || ReadFile(AT_FDCWD, path.c_str(), content, nullptr) != ReadResult::Ok)
        return std::nullopt;
    const Document document(content);
    const Line* line = document.FindKey(Trim(CString(section)), Trim(CString(key)));
    if (line == nullptr)
        return std::nullopt;
    return std::string(ReadableValue(std::string_view(line->text).substr(line->valueStart)));
}

} // namespace

std::string IniProfile::GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t size,
                                  const std::string& file) {
    if (size == 0)
        return {};
    try {
        std::optional<std::string> value = Lookup(section, key, file);
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
    std::optional<std::string> text;
    try {
        text = Lookup(section, key, file);
    } catch (const std::exception&) {
    }
    if (!text)
        return defaultValue;
    std::string_view digits = *text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
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
    try {
        const std::string_view sectionName = Trim(CString(section));
        const std::string_view keyName = Trim(CString(key));
        const std::string_view text = CString(value);
        const std::string path(CString(file));
        if (!ValidName(sectionName, "]\r\n") || !ValidName(keyName, "=\r\n") ||
            keyName.front() == ';' || keyName.front() == '[' ||
            text.find_first_of("\r\n") != std::string_view::npos || path.empty())
            return false;

        const std::optional<std::string> target = WriteTarget(path);
        if (!target)
            return false;
        const std::size_t slash = target->rfind('/');
        const std::string dir = slash == std::string::npos ? std::string(".")
                                : slash == 0               ? std::string("/")
                                                           : target->substr(0, slash);
        const std::string name = slash == std::string::npos ? *target : target->substr(slash + 1);
        if (name.empty() || name == "." || name == "..")
            return false;

        const Fd dirFd = OpenDirectory(dir);
        if (!dirFd)
            return false;

        std::string content;
        struct stat info {};
        const ReadResult read = ReadFile(dirFd.Get(), name.c_str(), content, &info);
        if (read == ReadResult::Failed)
            return false;
        if (read == ReadResult::Ok && ::faccessat(dirFd.Get(), name.c_str(), W_OK, AT_EACCESS) != 0)
            return false; // a read-only file stays read-only

        Document document(content);
        document.Set(sectionName, keyName, text);
        std::string updated = document.Text();
        if (read == ReadResult::Ok && updated == content)
            return true;
        return ReplaceFile(dirFd.Get(), name, updated, read == ReadResult::Ok ? &info : nullptr);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace fb::linux_impl
