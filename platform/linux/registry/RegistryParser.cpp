// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/registry/RegistryText.h"
#include "platform/linux/registry/RegistryTextFormat.h"

#include "platform/Text.h"

#include <unordered_map>

namespace fb::linux_impl {

using namespace regformat;

namespace {

// Splits the text into lines without their line ends, numbering them.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : m_text(text) {}

    bool Next(std::string_view& line) {
        if (m_pos >= m_text.size())
            return false;
        std::size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        // Every carriage return at the end goes, not only the one of a CRLF: the lines are
        // written back with a newline alone, and a kept line must read back the same.
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_pos = end + 1;
        ++m_number;
        return true;
    }
    std::size_t Number() const { return m_number; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_number = 0;
};

void SkipBlanks(std::string_view line, std::size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
}

bool OnlyBlanksFrom(std::string_view line, std::size_t pos) {
    SkipBlanks(line, pos);
    return pos == line.size();
}

// Reads an escaped string that starts at `pos` and ends at the unescaped `delim`; `pos` is left
// after the delimiter. False when the line ends first.
bool ParseEscapedString(std::string_view line, std::size_t& pos, char delim, std::string& out) {
    TextBuilder text;
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == delim) {
            out = text.Take();
            return true;
        }
        if (c != '\\') {
            if (static_cast<unsigned char>(c) >= 0x80)
                text.Byte(c);
            else
                text.Unit(static_cast<unsigned char>(c));
            continue;
        }
        if (pos >= line.size())
            return false;
        const char e = line[pos++];
        switch (e) {
        case 'a':
            text.Unit(7);
            break;
        case 'b':
            text.Unit(8);
            break;
        case 'e':
            text.Unit(27);
            break;
        case 'f':
            text.Unit(12);
            break;
        case 'n':
            text.Unit(10);
            break;
        case 'r':
            text.Unit(13);
            break;
        case 't':
            text.Unit(9);
            break;
        case 'v':
            text.Unit(11);
            break;
        case 'x': {
            std::uint32_t unit = 0;
            int digits = 0;
            while (digits < 4 && pos < line.size() && HexDigit(line[pos]) >= 0) {
                unit = unit * 16 + static_cast<std::uint32_t>(HexDigit(line[pos++]));
                ++digits;
            }
            text.Unit(digits == 0 ? static_cast<std::uint16_t>('x')
                                  : static_cast<std::uint16_t>(unit));
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                std::uint32_t unit = static_cast<std::uint32_t>(e - '0');
                for (int digits = 1;
                     digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                     ++digits)
                    unit = unit * 8 + static_cast<std::uint32_t>(line[pos++] - '0');
                text.Unit(static_cast<std::uint16_t>(unit));
            } else if (static_cast<unsigned char>(e) >= 0x80) {
                text.Byte(e);
            } else {
                text.Unit(static_cast<unsigned char>(e));
            }
        }
    }
    return false;
}

bool ParseHexNumber(std::string_view text, std::uint32_t& number) {
    if (text.empty() || text.size() > 8)
        return false;
    number = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

// The narrow view of a string value: its text and one terminating zero. For a multi-string the
// stored text already carries the zeros between and after its strings.
std::vector<std::uint8_t> StringData(std::string_view text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

// UTF-16LE bytes of a string value as a hive stores them, seen through the narrow functions.
std::vector<std::uint8_t> NarrowFromUtf16Bytes(const std::vector<std::uint8_t>& bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    const std::string text = regtext::Utf16ToUtf8(units);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

class Parser {
public:
    Parser(std::string_view text, RegHive& hive, RegParseMode mode)
        : m_lines(text)
        , m_hive(hive)
        , m_strict(mode == RegParseMode::Strict) {}

    std::optional<RegParseError> Run() {
        std::string_view line;
        if (!m_lines.Next(line))
            return Fail("empty file");
        if (!m_strict && line.substr(0, 3) == "\xEF\xBB\xBF")
            line.remove_prefix(3);
        if (line != kHeader)
            return Fail("not a registry file (unknown header)");
        while (m_lines.Next(line)) {
            if (!ParseLine(line) && m_strict)
                return m_error;
        }
        return std::nullopt;
    }

private:
    std::optional<RegParseError> Fail(std::string message) {
        m_error = RegParseError{m_lines.Number(), std::move(message)};
        return m_error;
    }
    bool Bad(std::string message) {
        m_error = RegParseError{m_lines.Number(), std::move(message)};
        return false;
    }

    bool ParseLine(std::string_view line) {
        std::size_t pos = 0;
        SkipBlanks(line, pos);
        if (pos == line.size() || line[pos] == ';')
            return true;
        if (line[pos] == '#')
            return ParseOption(line.substr(pos));
        if (line[pos] == '[')
            return ParseKey(line, pos + 1);
        if (line[pos] == '"' || line[pos] == '@')
            return ParseValue(line, pos);
        return Bad("unexpected text");
    }

    bool ParseOption(std::string_view line) {
        if (m_key == nullptr) {
            if (m_hive.KeyCount() == 0)
                m_hive.options.emplace_back(line);
            return true;
        }
        if (line.substr(0, 6) == "#time=")
            return true; // rewritten from the key's time
        m_key->extra.emplace_back(line);
        return true;
    }

    bool ParseKey(std::string_view line, std::size_t pos) {
        m_key = nullptr;
        std::string path;
        if (!ParseEscapedString(line, pos, ']', path))
            return Bad("key name without closing bracket");
        SkipBlanks(line, pos);
        std::int64_t modified = 0;
        std::size_t digits = 0;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9' && digits < 18) {
            modified = modified * 10 + (line[pos++] - '0');
            ++digits;
        }
        if (m_strict && !OnlyBlanksFrom(line, pos))
            return Bad("unexpected text after key name");
        m_key = &m_hive.CreateKey(path, modified);
        // An index of the key's values by folded name keeps keys with very many values linear.
        m_index.clear();
        for (std::size_t i = 0; i < m_key->values.size(); ++i)
            m_index[FoldRegistryName(m_key->values[i].name)] = i;
        return true;
    }

    bool ParseValue(std::string_view line, std::size_t pos) {
        if (m_key == nullptr)
            return Bad("value outside a key");
        std::string name;
        if (line[pos] == '@') {
            ++pos;
        } else {
            ++pos;
            if (!ParseEscapedString(line, pos, '"', name))
                return Bad("value name without closing quote");
        }
        SkipBlanks(line, pos);
        if (pos >= line.size() || line[pos] != '=')
            return Bad("value without '='");
        ++pos;
        SkipBlanks(line, pos);
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (!ParseData(line, pos, type, data))
            return false;
        auto [slot, added] = m_index.try_emplace(FoldRegistryName(name), m_key->values.size());
        if (added) {
            m_key->values.push_back(RegValue{std::move(name), type, std::move(data)});
        } else {
            m_key->values[slot->second].type = type; // the last of duplicate values counts
            m_key->values[slot->second].data = std::move(data);
        }
        return true;
    }

    bool ParseData(std::string_view line, std::size_t pos, std::uint32_t& type,
                   std::vector<std::uint8_t>& data) {
        const std::string_view rest = line.substr(pos);
        if (rest.substr(0, 1) == "\"") {
            type = kRegSz;
            return ParseStringData(line, pos + 1, data);
        }
        if (rest.substr(0, 4) == "str(") {
            const std::size_t close = rest.find("):\"");
            if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), type))
                return Bad("malformed str() value");
            return ParseStringData(line, pos + close + 3, data);
        }
        if (rest.substr(0, 6) == "dword:") {
            std::size_t end = 6;
            while (end < rest.size() && HexDigit(rest[end]) >= 0)
                ++end;
            std::uint32_t number = 0;
            if (!ParseHexNumber(rest.substr(6, end - 6), number) ||
                (m_strict && !OnlyBlanksFrom(rest, end)))
                return Bad("malformed dword value");
            type = kRegDword;
            data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                    static_cast<std::uint8_t>(number >> 16),
                    static_cast<std::uint8_t>(number >> 24)};
            return true;
        }
        if (rest.substr(0, 4) == "hex:") {
            type = kRegBinary;
            return ParseHexData(line, pos + 4, data);
        }
        if (rest.substr(0, 4) == "hex(") {
            const std::size_t close = rest.find("):");
            if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), type))
                return Bad("malformed hex() value");
            if (!ParseHexData(line, pos + close + 2, data))
                return false;
            if (IsStringType(type))
                data = NarrowFromUtf16Bytes(data);
            return true;
        }
        return Bad("unknown value format");
    }

    bool ParseStringData(std::string_view line, std::size_t pos, std::vector<std::uint8_t>& data) {
        std::string text;
        if (!ParseEscapedString(line, pos, '"', text))
            return Bad("string without closing quote");
        if (m_strict && !OnlyBlanksFrom(line, pos))
            return Bad("unexpected text after string");
        data = StringData(text);
        return true;
    }

    // Comma-separated bytes, continued on the next line after a trailing backslash.
    bool ParseHexData(std::string_view line, std::size_t pos, std::vector<std::uint8_t>& data) {
        for (;;) {
            SkipBlanks(line, pos);
            if (pos >= line.size())
                return true;
            if (line[pos] == '\\' && OnlyBlanksFrom(line, pos + 1)) {
                if (!m_lines.Next(line))
                    return m_strict ? Bad("file ends inside a continued value") : true;
                pos = 0;
                continue;
            }
            const int high = HexDigit(line[pos]);
            if (high < 0)
                return m_strict ? Bad("malformed hex byte") : true;
            int value = high;
            ++pos;
            if (pos < line.size() && HexDigit(line[pos]) >= 0)
                value = value * 16 + HexDigit(line[pos++]);
            data.push_back(static_cast<std::uint8_t>(value));
            SkipBlanks(line, pos);
            if (pos < line.size() && line[pos] == ',') {
                ++pos;
            } else if (pos < line.size() && line[pos] != '\\') {
                return m_strict ? Bad("malformed hex list") : true;
            }
        }
    }

    LineReader m_lines;
    RegHive& m_hive;
    bool m_strict;
    RegKeyNode* m_key = nullptr;
    std::unordered_map<std::string, std::size_t> m_index;
    RegParseError m_error;
};

} // namespace

std::optional<RegParseError> ParseRegistryText(std::string_view text, RegHive& hive,
                                               RegParseMode mode) {
    hive = RegHive();
    return Parser(text, hive, mode).Run();
}

} // namespace fb::linux_impl
