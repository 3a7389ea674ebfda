// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/registry/RegistryAutostart.h"

#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/linux/registry/RegistryText.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

namespace fb::linux_impl {

namespace {

constexpr std::string_view kRunKey = "software\\microsoft\\windows\\currentversion\\run";
constexpr std::string_view kValueName = "flowbright";
constexpr std::string_view kEntryName = "Flowbright.desktop";
constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kOriginalKey = "X-Flowbright-RunValue";
constexpr std::size_t kEntryLimit = 1 << 20;

bool NeedsExecQuotes(std::string_view arg) {
    if (arg.empty())
        return true;
    for (char c : arg) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == '/' ||
                           c == ',' || c == ':' || c == '+' || c == '=' || c == '@' || c == '%' ||
                           static_cast<unsigned char>(c) >= 0x80;
        if (!plain)
            return true;
    }
    return false;
}

// The keys of the [Desktop Entry] group, unescaped; the last of duplicate keys counts.
std::map<std::string, std::string> ReadDesktopGroup(std::string_view text) {
    std::map<std::string, std::string> keys;
    bool inGroup = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string trimmed(Trim(line));
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        if (trimmed[0] == '[') {
            inGroup = trimmed == kGroup;
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        if (!inGroup || equals == std::string::npos)
            continue;
        const std::string key(Trim(std::string_view(trimmed).substr(0, equals)));
        keys[key] = UnescapeKeyFileValue(Trim(std::string_view(trimmed).substr(equals + 1)));
    }
    return keys;
}

// Field codes expand to nothing here: the entry is started without files or URLs.
void AppendExecChar(std::string_view exec, std::size_t& pos, std::string& arg, bool& dropped) {
    if (exec[pos] == '%' && pos + 1 < exec.size()) {
        if (exec[pos + 1] == '%')
            arg.push_back('%');
        else
            dropped = true;
        pos += 2;
        return;
    }
    arg.push_back(exec[pos++]);
}

} // namespace

namespace {

// Splits arguments after the program name by the C runtime's rules. `open` tells whether the
// text ended inside quotation marks.
std::vector<std::string> SplitArguments(std::string_view line, bool* open = nullptr) {
    std::vector<std::string> args;
    std::size_t pos = 0;
    bool quoted = false;
    while ((pos = SkipBlanks(line, pos)) < line.size()) {
        std::string arg;
        quoted = false;
        while (pos < line.size()) {
            const char c = line[pos];
            if (c == '\\') {
                TakeBackslashRun(line, pos, arg);
            } else if (c == '"') {
                if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
                    arg.push_back('"');
                    pos += 2;
                } else {
                    quoted = !quoted;
                    ++pos;
                }
            } else if (IsBlank(c) && !quoted) {
                break;
            } else {
                arg.push_back(c);
                ++pos;
            }
        }
        args.push_back(std::move(arg));
    }
    if (open != nullptr)
        *open = quoted;
    return args;
}

// Where a quoted program name that starts at `line[0]` ends. Windows ends it at the next
// quotation mark; a Linux path may hold quotation marks, so the name ends at the first one that
// is followed by a blank (or the end) and leaves arguments whose quotation marks pair up.
std::size_t ProgramNameEnd(std::string_view line) {
    std::size_t fallback = std::string_view::npos;
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (line[i] != '"' || (i + 1 < line.size() && !IsBlank(line[i + 1])))
            continue;
        bool open = false;
        SplitArguments(line.substr(i + 1), &open);
        if (!open)
            return i;
        if (fallback == std::string_view::npos)
            fallback = i;
    }
    if (fallback != std::string_view::npos)
        return fallback;
    const std::size_t first = line.find('"', 1);
    return first == std::string_view::npos ? line.size() : first;
}

} // namespace

std::vector<std::string> SplitRunCommandLine(std::string_view line) {
    std::size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos == line.size())
        return {};
    line.remove_prefix(pos);
    std::vector<std::string> args;
    std::size_t rest = 0;
    if (line[0] == '"') {
        const std::size_t close = ProgramNameEnd(line);
        args.emplace_back(line.substr(1, close - 1));
        rest = std::min(close + 1, line.size());
    } else {
        while (rest < line.size() && !IsBlank(line[rest]))
            ++rest;
        args.emplace_back(line.substr(0, rest));
    }
    for (auto& arg : SplitArguments(line.substr(rest)))
        args.push_back(std::move(arg));
    return args;
}

std::string JoinWindowsArguments(std::span<const std::string> args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        std::size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

std::string JoinWindowsCommandLine(const std::vector<std::string>& args) {
    if (args.empty())
        return {};
    std::string line = '"' + args[0] + '"';
    if (args.size() > 1)
        line += ' ' + JoinWindowsArguments(std::span(args).subspan(1));
    return line;
}

std::string QuoteDesktopExec(const std::vector<std::string>& args) {
    std::string exec;
    for (const auto& arg : args) {
        if (!exec.empty())
            exec += ' ';
        const bool quote = NeedsExecQuotes(arg);
        if (quote)
            exec += '"';
        for (char c : arg) {
            if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
                exec += '\\';
            if (c == '%')
                exec += '%';
            exec += c;
        }
        if (quote)
            exec += '"';
    }
    return exec;
}

std::optional<std::vector<std::string>> ParseDesktopExec(std::string_view exec) {
    std::vector<std::string> args;
    std::size_t pos = 0;
    while ((pos = SkipBlanks(exec, pos)) < exec.size()) {
        std::string arg;
        bool dropped = false;
        if (exec[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < exec.size()) {
                const char c = exec[pos];
                if (c == '"') {
                    ++pos;
                    closed = true;
                    break;
                }
                if (c == '\\' && pos + 1 < exec.size()) {
                    const char next = exec[pos + 1];
                    if (next == '"' || next == '`' || next == '$' || next == '\\') {
                        arg.push_back(next);
                        pos += 2;
                        continue;
                    }
                }
                AppendExecChar(exec, pos, arg, dropped);
            }
            if (!closed || (pos < exec.size() && !IsBlank(exec[pos])))
                return std::nullopt;
            args.push_back(std::move(arg));
            continue;
        }
        while (pos < exec.size() && !IsBlank(exec[pos]))
            AppendExecChar(exec, pos, arg, dropped);
        if (!(dropped && arg.empty()))
            args.push_back(std::move(arg));
    }
    return args;
}

std::string EscapeKeyFileValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += (i == 0 ? "\\s" : " ");
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string UnescapeKeyFileValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += next;
        }
    }
    return out;
}

RegistryAutostart::RegistryAutostart(std::string autostartDir, std::shared_ptr<FileOps> ops)
    : m_dir(std::move(autostartDir))
    , m_ops(std::move(ops)) {}

bool RegistryAutostart::IsProjectedValue(std::string_view path, std::string_view name) {
    return FoldRegistryName(NormalizeRegistryPath(path)) == kRunKey &&
           FoldRegistryName(name) == kValueName;
}

bool RegistryAutostart::IsAlwaysPresentKey(std::string_view path) {
    const std::string folded = FoldRegistryName(NormalizeRegistryPath(path));
    return kRunKey.substr(0, folded.size()) == folded &&
           (folded.size() == kRunKey.size() || kRunKey[folded.size()] == '\\');
}

std::string RegistryAutostart::EntryPath() const {
    return m_dir + "/" + std::string(kEntryName);
}

std::optional<std::string> RegistryAutostart::EntryText(const std::string& commandLine) {
    const std::vector<std::string> args = SplitRunCommandLine(commandLine);
    if (args.empty() || args[0].empty() || !IsValidUtf8(commandLine))
        return std::nullopt;
    std::string text;
    text += kGroup;
    text += "\nType=Application\nName=Flowbright\nExec=";
    text += EscapeKeyFileValue(QuoteDesktopExec(args));
    text += "\nX-GNOME-Autostart-enabled=true\n";
    text += kOriginalKey;
    text += '=';
    text += EscapeKeyFileValue(commandLine);
    text += '\n';
    return text;
}

std::optional<std::string> RegistryAutostart::Read() const {
    const FileContent content = ReadWholeFile(EntryPath(), kEntryLimit);
    if (content.status != ReadStatus::Ok)
        return std::nullopt;
    const auto keys = ReadDesktopGroup(content.text);
    const auto value = [&](const std::string& key) -> std::string {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string() : found->second;
    };
    if (value("Hidden") == "true" || value("X-GNOME-Autostart-enabled") == "false")
        return std::nullopt;
    const auto args = ParseDesktopExec(value("Exec"));
    if (!args || args->empty() || args->front().empty())
        return std::nullopt;
    // The command line as it was written, as long as the entry still runs what it says;
    // otherwise (the entry was edited) the command line of what it runs now.
    const auto original = keys.find(std::string(kOriginalKey));
    if (original != keys.end() && SplitRunCommandLine(original->second) == *args)
        return original->second;
    return JoinWindowsCommandLine(*args);
}

std::optional<std::string>
RegistryAutostart::CommandLineOf(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
    if (type != reg::kSz || (data == nullptr && size != 0))
        return std::nullopt;
    std::string commandLine(reinterpret_cast<const char*>(data), size);
    if (!commandLine.empty() && commandLine.back() == '\0')
        commandLine.pop_back();
    if (commandLine.find('\0') != std::string::npos || !EntryText(commandLine))
        return std::nullopt;
    return commandLine;
}

long RegistryAutostart::Write(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
    const auto commandLine = CommandLineOf(type, data, size);
    return commandLine ? WriteCommandLine(*commandLine) : reg::kWriteFault;
}

long RegistryAutostart::WriteCommandLine(const std::string& commandLine) {
    const auto text = EntryText(commandLine);
    if (!text)
        return reg::kWriteFault;
    RemoveStaleTemporaries(*m_ops, EntryPath());
    const int error = AtomicReplaceFile(*m_ops, EntryPath(), *text, 0644);
    if (error == 0)
        return reg::kSuccess;
    return (error == EACCES || error == EPERM || error == EROFS) ? reg::kAccessDenied
                                                                 : reg::kWriteFault;
}

long RegistryAutostart::Remove() {
    if (!Read())
        return reg::kFileNotFound;
    if (m_ops->Unlink(EntryPath()) != 0) {
        if (errno == ENOENT)
            return reg::kFileNotFound;
        return (errno == EACCES || errno == EPERM || errno == EROFS) ? reg::kAccessDenied
                                                                     : reg::kWriteFault;
    }
    const int dirFd = m_ops->Open(m_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dirFd >= 0) {
        m_ops->Fsync(dirFd);
        m_ops->Close(dirFd);
    }
    return reg::kSuccess;
}

} // namespace fb::linux_impl
