// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/files/IniProfile.h"

#include "platform/Text.h"
#include "platform/linux/files/FileIo.h"

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

// Names and values lose the white space of their line around them.
std::string_view Trim(std::string_view text) {
    return fb::Trim(text, kLineSpace);
}

bool IsLineSpace(char c) {
    return kLineSpace.find(c) != std::string_view::npos;
}

// The part of a C-level string before its first NUL.
std::string_view CString(std::string_view text) {
    return text.substr(0, text.find('\0'));
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
    while (first < text.size() && IsLineSpace(text[first]))
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
    while (value < text.size() && IsLineSpace(text[value]))
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
            m_lines.push_back({std::string(text), std::string(end), ClassifyInFile(text, offset)});
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
        for (std::size_t i = *header + 1; i < m_lines.size(); ++i) {
            Line& line = m_lines[i];
            if (line.Is(Shape::Kind::Section))
                break;
            if (line.Is(Shape::Kind::Key) && EqualsIgnoringAsciiCase(line.Name(), key)) {
                Replace(line, value);
                return;
            }
            if (!Trim(line.text).empty())
                insertAfter = i;
        }
        Line added = NewLine(std::string(key) + "=" + std::string(value));
        if (m_lines[insertAfter].end.empty())
            m_lines[insertAfter].end = LineEnd();
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                       std::move(added));
    }

    std::string Text() const {
        std::string out;
        std::size_t size = 0;
        for (const Line& line : m_lines)
            size += line.text.size() + line.end.size();
        out.reserve(size);
        for (const Line& line : m_lines) {
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
        if (!value.empty() && IsLineSpace(value.front()))
            from = line.text.find('=', line.shape.nameStart + line.shape.nameLength) + 1;
        line.text.replace(from, std::string::npos, value);
    }

    std::optional<std::size_t> FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < m_lines.size(); ++i) {
            if (m_lines[i].Is(Shape::Kind::Section) &&
                EqualsIgnoringAsciiCase(m_lines[i].Name(), section))
                return i;
        }
        return std::nullopt;
    }

    // The line end of the existing file: the first one found, LF for a file without any.
    std::string LineEnd() const {
        for (const Line& line : m_lines) {
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
        if (!m_lines.empty() && m_lines.back().end.empty())
            m_lines.back().end = LineEnd();
    }

    void Append(Line line) { m_lines.push_back(std::move(line)); }

    std::vector<Line> m_lines;
};

// ---------------------------------------------------------------------------------------------
// Files

// The path as one line of text: control characters shown as '?'.
std::string Printable(std::string_view path) {
    std::string text(path);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return text;
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

// File times come from a clock that ticks in steps of a few milliseconds: a file changed in the
// last moments may change again without a new time stamp, so it is not kept.
bool ChangedJustNow(const FileStamp& stamp) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    constexpr std::int64_t kSettled = 100'000'000; // 100 ms, many clock steps
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec - stamp.ctimeNs <
           kSettled;
}

} // namespace

// A file's content as read, with its sections found, for reading any number of keys out of
// it without reading the file again.
struct IniProfile::Snapshot {
    struct Section {
        std::string_view name;
        std::string_view body; // the lines after the header, up to the next header
    };

    Snapshot(std::string path, const FileStamp& version, std::string text)
        : file(std::move(path))
        , stamp(version)
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
            if (!EqualsIgnoringAsciiCase(candidate.name, section))
                continue;
            std::optional<std::string_view> found;
            ForEachLine(candidate.body, [&](std::string_view line, std::string_view, std::size_t) {
                if (found)
                    return;
                const Shape shape = Classify(line);
                if (shape.kind == Shape::Kind::Key &&
                    EqualsIgnoringAsciiCase(line.substr(shape.nameStart, shape.nameLength), key))
                    found = ReadableValue(line.substr(shape.valueStart));
            });
            return found; // only the first section of a name is read
        }
        return std::nullopt;
    }

    const std::string file;
    const FileStamp stamp;
    const std::string content;
    std::vector<Section> sections; // views into `content`, in file order
};

IniProfile::IniProfile() = default;

IniProfile::IniProfile(std::string userFolder)
    : m_userFolder(std::move(userFolder)) {}

IniProfile::~IniProfile() = default;

std::string IniProfile::DefaultUserFolder() {
    const std::string config = UserConfigHome();
    return config.empty() ? std::string() : config + "/flowbright";
}

std::shared_ptr<const IniProfile::Snapshot> IniProfile::Load(const std::string& path) {
    const std::optional<FileStamp> stamp = path.empty() ? std::nullopt : StatRegularFile(path);
    if (!stamp)
        return nullptr;
    {
        const std::lock_guard lock(m_cacheMutex);
        if (m_cache != nullptr && m_cache->file == path && m_cache->stamp == *stamp)
            return m_cache;
    }
    FileContent read = ReadWholeFile(path, kMaxFileSize);
    if (read.status != ReadStatus::Ok)
        return nullptr;
    auto snapshot = std::make_shared<const Snapshot>(path, read.stamp, std::move(read.text));
    if (!ChangedJustNow(read.stamp)) {
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
            value.emplace(TrimEnd(CString(defaultValue), kLineSpace));
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

// The new content of the file, or nothing when it needs no rewrite. `failed` tells that the
// file cannot be read or may not be written.
std::optional<std::string> Updated(const std::string& target,
                                   const std::vector<CheckedWrite>& writes,
                                   const std::string& startFrom, bool& failed) {
    FileContent old = ReadWholeFile(target, IniProfile::kMaxFileSize);
    failed = old.status == ReadStatus::Failed || old.status == ReadStatus::TooLarge ||
             (old.status == ReadStatus::Ok &&
              ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0);
    if (failed)
        return std::nullopt; // a read-only file stays read-only, even for an unchanged value
    if (old.status == ReadStatus::Missing && !startFrom.empty()) {
        // An unreadable shipped file leaves the user's copy to start empty.
        old = ReadWholeFile(startFrom, IniProfile::kMaxFileSize);
        if (old.status != ReadStatus::Ok)
            old.text.clear();
        old.status = ReadStatus::Missing;
    }
    Document document(old.text);
    for (const CheckedWrite& write : writes)
        document.Set(write.section, write.key, write.value);
    std::string content = document.Text();
    if (old.status == ReadStatus::Ok && content == old.text)
        return std::nullopt;
    return content;
}

// The file a write replaces (through a symbolic link to an existing file), with its folder
// made when it is the user's own; nothing when it is no writable file's path.
std::optional<std::string> WritableTarget(const std::string& path, const std::string& userFolder) {
    std::string target;
    bool isLink = false;
    if (ResolveWriteTarget(path, target, isLink) != 0)
        return std::nullopt;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 ? !S_ISREG(info.st_mode) : isLink)
        return std::nullopt; // a FIFO, a device, a folder or a dangling link is not ours
    const std::string name = target.substr(target.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..")
        return std::nullopt;
    const std::string dir = DirectoryOf(target);
    if (!userFolder.empty() && dir == userFolder)
        MakeDirectories(dir);
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return target;
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
        const auto target = path.empty() ? std::nullopt : WritableTarget(path, m_userFolder);
        if (checked.empty() || !target)
            return false;
        // Two copies of the program rewriting the file at once would lose each other's keys.
        const FileLock lock(*target + ".lock", kLockWait);
        if (lock.Busy()) {
            std::fprintf(stderr,
                         "flowbright: %s not saved: another program has kept it locked for over "
                         "%lld ms\n",
                         Printable(path).c_str(), static_cast<long long>(kLockWait.count()));
        }
        if (!lock.Held())
            return false;
        FileOps ops;
        RemoveStaleTemporaries(ops, *target);
        bool failed = false;
        const auto content = Updated(*target, checked, std::string(CString(startFrom)), failed);
        if (failed || (content && AtomicReplaceFile(ops, *target, *content, 0666) != 0))
            return false;
        return checked.size() == writes.size();
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
