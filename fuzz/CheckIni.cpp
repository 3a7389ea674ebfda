// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzSupport.h"

#include "platform/ProcessInfo.h"
#include "platform/linux/files/IniProfile.h"
#include "settings/Settings.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace fb::fuzz {

namespace {

// Separates the parts of one input: file, section, key, value.
constexpr std::string_view kSeparator = "\x1e";

struct Line {
    std::string text;
    std::string end; // "\n", "\r\n" or "" for a last line without a newline
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    while (!content.empty()) {
        const std::size_t newline = content.find('\n');
        if (newline == std::string_view::npos) {
            // A last line's carriage return is the start of its line end once a newline follows.
            const bool carriageReturn = content.back() == '\r';
            lines.push_back({std::string(content.substr(0, content.size() - carriageReturn)),
                             carriageReturn ? "\r" : ""});
            break;
        }
        std::size_t textEnd = newline;
        if (textEnd > 0 && content[textEnd - 1] == '\r')
            --textEnd;
        lines.push_back({std::string(content.substr(0, textEnd)),
                         std::string(content.substr(textEnd, newline + 1 - textEnd))});
        content.remove_prefix(newline + 1);
    }
    return lines;
}

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

std::string_view CString(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// What a reader gets for a written value: up to a NUL, trimmed, one pair of quotes removed.
std::string Readable(std::string_view value) {
    std::string_view text = Trim(CString(value));
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

// A line's text without the carriage returns it ends with: a last line without a newline keeps
// its carriage return as text when the file's own line end is appended after it.
std::string_view WithoutCarriageReturns(std::string_view text) {
    while (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    return text;
}

// A line ending may be added to the old last line when something is appended after it.
bool SameLine(const Line& before, const Line& after, bool wasLast) {
    if (wasLast)
        return WithoutCarriageReturns(before.text) == WithoutCarriageReturns(after.text);
    return before.text == after.text && before.end == after.end;
}

// Checks that `after` is `before` with at most one line replaced (`replaced` lines) or with
// one or two lines inserted, every other line kept byte for byte. A write of the value the key
// already has leaves the file as it was.
std::string KeptLines(const std::string& before, const std::string& after) {
    if (after == before)
        return {};
    const auto old = SplitLines(before);
    const auto now = SplitLines(after);
    std::size_t prefix = 0;
    while (prefix < old.size() && prefix < now.size() &&
           SameLine(old[prefix], now[prefix], prefix + 1 == old.size()))
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < now.size() - prefix &&
           SameLine(old[old.size() - 1 - suffix], now[now.size() - 1 - suffix], suffix == 0))
        ++suffix;
    const std::size_t oldMiddle = old.size() - prefix - suffix;
    const std::size_t newMiddle = now.size() - prefix - suffix;
    if ((oldMiddle == 1 && newMiddle == 1) || (oldMiddle == 0 && newMiddle >= 1 && newMiddle <= 2))
        return {};
    std::ostringstream out;
    out << "a single write changed " << oldMiddle << " old lines into " << newMiddle
        << " new ones, from line " << prefix + 1;
    return out.str();
}

class ModuleAt : public IProcessInfo {
public:
    explicit ModuleAt(std::string path)
        : m_path(std::move(path)) {}
    std::string ModuleFileName() override { return m_path; }
    std::string CurrentDirectory() override { return "/"; }

private:
    std::string m_path;
};

const char* const kSettingKeys[] = {
    "alwaysontop", "nsresolve",  "portresolve", "idleseconds", "filterudp",
    "filtertcp",   "filtericmp", "status",      "top",         "bottom",
    "left",        "right",      "srcaddr",     "destaddr",    "srcport",
    "destport",    "proto",      "traffic",     "bs",          "abs",
    "uselogfile",  "autodelete", "mbdelete",    "logtype",     "logfile"};

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto fold = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return fold(x) == fold(y);
    });
}

// True for a line that is (or could be read as) one of the 25 setting keys, or a section
// header (the saves may add sections and keys next to them).
bool MayBeOwned(const std::string& text) {
    std::string_view line = text;
    if (line.substr(0, 3) == "\xef\xbb\xbf")
        line.remove_prefix(3);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    const std::string_view name = Trim(line.substr(0, equals));
    return std::any_of(std::begin(kSettingKeys), std::end(kSettingKeys),
                       [&](const char* key) { return SameNameIgnoringCase(name, key); });
}

// Every line of `before` that no setting owns is still in `after`, in the same order.
std::string KeptForeignLines(const std::string& before, const std::string& after) {
    const auto old = SplitLines(before);
    const auto now = SplitLines(after);
    std::size_t at = 0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        if (MayBeOwned(old[i].text))
            continue;
        while (at < now.size() &&
               WithoutCarriageReturns(now[at].text) != WithoutCarriageReturns(old[i].text))
            ++at;
        if (at == now.size())
            return "the line \"" + Printable(old[i].text) + "\" (line " + std::to_string(i + 1) +
                   ") was lost by a load and save";
        ++at;
    }
    return {};
}

bool operator==(const CSettings::Values& a, const CSettings::Values& b) {
    return std::tie(a.alwaysOnTop, a.nsResolve, a.portResolve, a.idleTime, a.filterUdp, a.filterTcp,
                    a.filterIcmp, a.windowStatus, a.windowTop, a.windowBottom, a.windowLeft,
                    a.windowRight, a.srcAddrWidth, a.destAddrWidth, a.srcPortWidth, a.destPortWidth,
                    a.protoWidth, a.trafficWidth, a.bsWidth, a.absWidth, a.useLogFile, a.autoDelete,
                    a.mbDelete, a.logType, a.logFile) ==
           std::tie(b.alwaysOnTop, b.nsResolve, b.portResolve, b.idleTime, b.filterUdp, b.filterTcp,
                    b.filterIcmp, b.windowStatus, b.windowTop, b.windowBottom, b.windowLeft,
                    b.windowRight, b.srcAddrWidth, b.destAddrWidth, b.srcPortWidth, b.destPortWidth,
                    b.protoWidth, b.trafficWidth, b.bsWidth, b.absWidth, b.useLogFile, b.autoDelete,
                    b.mbDelete, b.logType, b.logFile);
}

std::string OutOfBounds(const CSettings::Values& values) {
    if (values.mbDelete < 1 || values.mbDelete > 999)
        return "mbdelete out of bounds: " + std::to_string(values.mbDelete);
    if (values.logType < 0 || values.logType > 6)
        return "logtype out of bounds: " + std::to_string(values.logType);
    if (values.logFile.size() >= CSettings::kLogFileSize)
        return "logfile longer than its field";
    if (values.idleTime % 1000 != 0)
        return "idle time is not whole seconds";
    return {};
}

} // namespace

std::string CheckIniProfile(std::string_view data) {
    static ScratchDir scratch;
    const auto parts = SplitInput(data, kSeparator, 4);
    const std::string dir = scratch.Fresh("ini");
    const std::string path = dir + "/flowbright.ini";
    const std::string before(parts[0]);
    if (!WriteWhole(path, before))
        return "cannot prepare the file";
    const std::string section(parts[1]), key(parts[2]), value(parts[3]);

    linux_impl::IniProfile profile;
    const bool written = profile.WriteString(section, key, value, path);
    const std::string after = ReadWhole(path);
    if (!written) {
        if (after != before)
            return "a refused write changed the file";
        return {};
    }
    if (std::string problem = KeptLines(before, after); !problem.empty())
        return problem;
    const std::string fallback = "\x01no such key\x01";
    const std::string read = profile.GetString(section, key, fallback, std::string::npos, path);
    if (read != Readable(value))
        return "the written value reads back as \"" + Printable(read) + "\" instead of \"" +
               Printable(Readable(value)) + "\"";
    // Writing the same again changes nothing.
    if (!profile.WriteString(section, key, value, path) || ReadWhole(path) != after)
        return "repeating the write changed the file";
    return {};
}

std::string CheckSettings(std::string_view data) {
    static ScratchDir scratch;
    const std::string dir = scratch.Fresh("settings");
    const std::string path = dir + "/flowbright.ini";
    const std::string original(data);
    if (!WriteWhole(path, original))
        return "cannot prepare the file";

    linux_impl::IniProfile profile;
    ModuleAt module(dir + "/flowbright");
    const auto run = [&] {
        CSettings settings(profile, module);
        return settings.Loaded();
    }; // the settings are saved as each run ends
    const CSettings::Values first = run();
    const std::string afterFirst = ReadWhole(path);
    if (std::string problem = KeptForeignLines(original, afterFirst); !problem.empty())
        return problem;
    const CSettings::Values second = run();
    const std::string afterSecond = ReadWhole(path);
    if (std::string problem = OutOfBounds(first); !problem.empty())
        return "first load: " + problem;
    if (std::string problem = OutOfBounds(second); !problem.empty())
        return "second load: " + problem;
    // From the second run on, a run changes nothing: what was saved loads and saves the same.
    const CSettings::Values third = run();
    if (!(third == second))
        return "a saved file loads differently the next time";
    if (ReadWhole(path) != afterSecond)
        return "a saved file is rewritten differently the next time";
    // The values that need no cleaning survive the first round too.
    if (first.mbDelete != second.mbDelete || first.logType != second.logType ||
        first.idleTime != second.idleTime || first.windowTop != second.windowTop ||
        first.srcAddrWidth != second.srcAddrWidth)
        return "a number changed between the first and the second load";
    return {};
}

} // namespace fb::fuzz
