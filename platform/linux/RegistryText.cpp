// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/RegistryText.h"

#include "platform/Text.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace fb::linux_impl {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
// Seconds between 1601-01-01 (the start of Windows file times) and 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffset = 11644473600;

bool IsStringType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendCodePoint(std::string& out, std::uint32_t point) {
    if (point < 0x80) {
        out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (point >> 6)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

// Builds UTF-8 text out of UTF-16 code units and raw bytes, pairing surrogates as they come.
class TextBuilder {
public:
    void Unit(std::uint16_t unit) {
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            FlushHigh();
            high_ = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (high_ != 0) {
                const std::uint32_t point = 0x10000 +
                                            ((static_cast<std::uint32_t>(high_) - 0xD800) << 10) +
                                            (unit - 0xDC00);
                high_ = 0;
                AppendCodePoint(out_, point);
            } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
                out_.push_back(static_cast<char>(unit & 0xFF));
            } else {
                AppendCodePoint(out_, 0xFFFD);
            }
            return;
        }
        FlushHigh();
        AppendCodePoint(out_, unit);
    }
    void Byte(char byte) {
        FlushHigh();
        out_.push_back(byte);
    }
    std::string Take() {
        FlushHigh();
        return std::move(out_);
    }

private:
    void FlushHigh() {
        if (high_ != 0)
            AppendCodePoint(out_, 0xFFFD);
        high_ = 0;
    }

    std::string out_;
    std::uint16_t high_ = 0;
};

// ---- Parsing ---------------------------------------------------------------------------

// Splits the text into lines without their line ends, numbering them.
class LineReader {
public:
    explicit LineReader(std::string_view text)
        : text_(text) {}

    bool Next(std::string_view& line) {
        if (pos_ >= text_.size())
            return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        // Every carriage return at the end goes, not only the one of a CRLF: the lines are
        // written back with a newline alone, and a kept line must read back the same.
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos_ = end + 1;
        ++number_;
        return true;
    }
    std::size_t Number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
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
        : lines_(text)
        , hive_(hive)
        , strict_(mode == RegParseMode::Strict) {}

    std::optional<RegParseError> Run() {
        std::string_view line;
        if (!lines_.Next(line))
            return Fail("empty file");
        if (!strict_ && line.substr(0, 3) == "\xEF\xBB\xBF")
            line.remove_prefix(3);
        if (line != kHeader)
            return Fail("not a registry file (unknown header)");
        while (lines_.Next(line)) {
            if (!ParseLine(line) && strict_)
                return error_;
        }
        return std::nullopt;
    }

private:
    std::optional<RegParseError> Fail(std::string message) {
        error_ = RegParseError{lines_.Number(), std::move(message)};
        return error_;
    }
    bool Bad(std::string message) {
        error_ = RegParseError{lines_.Number(), std::move(message)};
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
        if (key_ == nullptr) {
            if (hive_.KeyCount() == 0)
                hive_.options.emplace_back(line);
            return true;
        }
        if (line.substr(0, 6) == "#time=")
            return true; // rewritten from the key's time
        key_->extra.emplace_back(line);
        return true;
    }

    bool ParseKey(std::string_view line, std::size_t pos) {
        key_ = nullptr;
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
        if (strict_ && !OnlyBlanksFrom(line, pos))
            return Bad("unexpected text after key name");
        key_ = &hive_.CreateKey(path, modified);
        // An index of the key's values by folded name keeps keys with very many values linear.
        index_.clear();
        for (std::size_t i = 0; i < key_->values.size(); ++i)
            index_[FoldRegistryName(key_->values[i].name)] = i;
        return true;
    }

    bool ParseValue(std::string_view line, std::size_t pos) {
        if (key_ == nullptr)
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
        auto [slot, added] = index_.try_emplace(FoldRegistryName(name), key_->values.size());
        if (added) {
            key_->values.push_back(RegValue{std::move(name), type, std::move(data)});
        } else {
            key_->values[slot->second].type = type; // the last of duplicate values counts
            key_->values[slot->second].data = std::move(data);
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
                (strict_ && !OnlyBlanksFrom(rest, end)))
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
        if (strict_ && !OnlyBlanksFrom(line, pos))
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
                if (!lines_.Next(line))
                    return strict_ ? Bad("file ends inside a continued value") : true;
                pos = 0;
                continue;
            }
            const int high = HexDigit(line[pos]);
            if (high < 0)
                return strict_ ? Bad("malformed hex byte") : true;
            int value = high;
            ++pos;
            if (pos < line.size() && HexDigit(line[pos]) >= 0)
                value = value * 16 + HexDigit(line[pos++]);
            data.push_back(static_cast<std::uint8_t>(value));
            SkipBlanks(line, pos);
            if (pos < line.size() && line[pos] == ',') {
                ++pos;
            } else if (pos < line.size() && line[pos] != '\\') {
                return strict_ ? Bad("malformed hex list") : true;
            }
        }
    }

    LineReader lines_;
    RegHive& hive_;
    bool strict_;
    RegKeyNode* key_ = nullptr;
    std::unordered_map<std::string, std::size_t> index_;
    RegParseError error_;
};

// ---- Writing ---------------------------------------------------------------------------

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// Escapes text for a quoted string or a key name. Valid UTF-8 stays as it is, so that a person
// can read the file; bytes that are not valid UTF-8 are written as the lone surrogates that
// stand for them. `specials` are the characters that need a backslash besides the backslash.
void AppendEscaped(std::string& out, std::string_view text, std::string_view specials) {
    static constexpr char kLetters[32] = {0,   0,   0,   0, 0, 0,   0, 'a', 'b', 't', 'n',
                                          'v', 'f', 'r', 0, 0, 0,   0, 0,   0,   0,   0,
                                          0,   0,   0,   0, 0, 'e', 0, 0,   0,   0};
    for (std::size_t pos = 0; pos < text.size();) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, pos);
            if (length == 0) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%04x", 0xDC00u + byte);
                out += escape;
                ++pos;
            } else {
                out.append(text.substr(pos, length));
                pos += length;
            }
            continue;
        }
        ++pos;
        if (byte < 32) {
            out.push_back('\\');
            if (kLetters[byte] != 0) {
                out.push_back(kLetters[byte]);
            } else {
                char escape[8];
                const bool octalFollows = pos < text.size() && IsOctal(text[pos]);
                std::snprintf(escape, sizeof escape, octalFollows ? "%03o" : "%o", byte);
                out += escape;
            }
            continue;
        }
        if (byte == '\\' || specials.find(static_cast<char>(byte)) != std::string_view::npos)
            out.push_back('\\');
        out.push_back(static_cast<char>(byte));
    }
}

void AppendHex(std::string& out, std::size_t column, const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) {
            out.push_back(',');
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
        column += 2;
    }
}

std::vector<std::uint8_t> Utf16BytesFromNarrow(const std::vector<std::uint8_t>& data) {
    const std::u16string units = regtext::Utf8ToUtf16(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

void AppendValue(std::string& out, const RegValue& value) {
    const std::size_t start = out.size();
    if (value.name.empty()) {
        out.push_back('@');
    } else {
        out.push_back('"');
        AppendEscaped(out, value.name, "\"");
        out.push_back('"');
    }
    out.push_back('=');
    const auto& data = value.data;
    if (IsStringType(value.type) && !data.empty() && data.back() == 0) {
        if (value.type != kRegSz) {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "str(%x):", value.type);
            out += prefix;
        }
        out.push_back('"');
        AppendEscaped(out,
                      std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1),
                      "\"");
        out += "\"\n";
        return;
    }
    if (value.type == kRegDword && data.size() == 4) {
        char number[24];
        const std::uint32_t dword = data[0] | (data[1] << 8) | (data[2] << 16) |
                                    (static_cast<std::uint32_t>(data[3]) << 24);
        std::snprintf(number, sizeof number, "dword:%08x\n", dword);
        out += number;
        return;
    }
    if (value.type == kRegBinary) {
        out += "hex:";
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
        out += prefix;
    }
    AppendHex(out, out.size() - start,
              IsStringType(value.type) ? Utf16BytesFromNarrow(data) : data);
    out.push_back('\n');
}

} // namespace

// ---- Names and paths -------------------------------------------------------------------

std::string FoldRegistryName(std::string_view name) {
    if (IsAscii(name) || !IsValidUtf8(name)) {
        std::string folded(name);
        std::transform(folded.begin(), folded.end(), folded.begin(), FoldAscii);
        return folded;
    }
    const QByteArray folded =
        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), static_cast<std::size_t>(folded.size()));
}

std::string NormalizeRegistryPath(std::string_view path) {
    std::string normalized;
    normalized.reserve(path.size());
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > pos) {
            if (!normalized.empty())
                normalized.push_back('\\');
            normalized.append(path.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return normalized;
}

// ---- Model -----------------------------------------------------------------------------

const RegValue* RegKeyNode::Find(std::string_view name) const {
    const std::string folded = FoldRegistryName(name);
    for (const auto& value : values) {
        if (FoldRegistryName(value.name) == folded)
            return &value;
    }
    return nullptr;
}

RegValue* RegKeyNode::Find(std::string_view name) {
    return const_cast<RegValue*>(std::as_const(*this).Find(name));
}

bool RegKeyNode::Set(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (RegValue* value = Find(name)) {
        if (value->type == type && value->data == data)
            return false;
        value->type = type;
        value->data = std::move(data);
        return true;
    }
    values.push_back(RegValue{std::string(name), type, std::move(data)});
    return true;
}

bool RegKeyNode::Erase(std::string_view name) {
    const RegValue* found = Find(name);
    if (found == nullptr)
        return false;
    values.erase(values.begin() + (found - values.data()));
    return true;
}

const RegKeyNode* RegHive::FindKey(std::string_view path) const {
    const auto found = keys_.find(FoldRegistryName(NormalizeRegistryPath(path)));
    return found == keys_.end() ? nullptr : &found->second;
}

RegKeyNode* RegHive::FindKey(std::string_view path) {
    return const_cast<RegKeyNode*>(std::as_const(*this).FindKey(path));
}

bool RegHive::KeyExists(std::string_view path) const {
    const std::string folded = FoldRegistryName(NormalizeRegistryPath(path));
    if (folded.empty() || keys_.count(folded) != 0)
        return true;
    const std::string prefix = folded + '\\';
    const auto next = keys_.lower_bound(prefix);
    return next != keys_.end() && next->first.compare(0, prefix.size(), prefix) == 0;
}

RegKeyNode& RegHive::CreateKey(std::string_view path, std::int64_t now) {
    std::string normalized = NormalizeRegistryPath(path);
    auto [it, inserted] = keys_.try_emplace(FoldRegistryName(normalized));
    if (inserted) {
        it->second.path = std::move(normalized);
        it->second.modified = now;
    }
    return it->second;
}

bool RegHive::Is64Bit() const {
    return std::find(options.begin(), options.end(), "#arch=win64") != options.end();
}

// ---- Text ------------------------------------------------------------------------------

std::optional<RegParseError> ParseRegistryText(std::string_view text, RegHive& hive,
                                               RegParseMode mode) {
    hive = RegHive();
    return Parser(text, hive, mode).Run();
}

std::string FormatRegistryText(const RegHive& hive) {
    std::string out;
    out += kHeader;
    out += '\n';
    for (const auto& option : hive.options) {
        out += option;
        out += '\n';
    }
    for (const auto& [folded, key] : hive.Keys()) {
        (void)folded;
        out += "\n[";
        AppendEscaped(out, key.path, "[]");
        char stamp[64];
        const auto fileTime = static_cast<std::uint64_t>(key.modified + kFileTimeEpochOffset) *
                              std::uint64_t{10000000};
        std::snprintf(stamp, sizeof stamp, "] %lld\n#time=%llx\n",
                      static_cast<long long>(key.modified),
                      static_cast<unsigned long long>(fileTime));
        out += stamp;
        for (const auto& line : key.extra) {
            out += line;
            out += '\n';
        }
        for (const auto& value : key.values)
            AppendValue(out, value);
    }
    return out;
}

namespace regtext {

std::string Utf16ToUtf8(const std::u16string& units) {
    TextBuilder text;
    for (char16_t unit : units)
        text.Unit(static_cast<std::uint16_t>(unit));
    return text.Take();
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, pos);
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (length == 0) {
            units.push_back(static_cast<char16_t>(0xDC00 + lead));
            ++pos;
            continue;
        }
        std::uint32_t point = length == 1   ? lead
                              : length == 2 ? (lead & 0x1Fu)
                              : length == 3 ? (lead & 0x0Fu)
                                            : (lead & 0x07u);
        for (std::size_t i = 1; i < length; ++i)
            point = (point << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3Fu);
        if (point >= 0x10000) {
            point -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(point));
        }
        pos += length;
    }
    return units;
}

} // namespace regtext

} // namespace fb::linux_impl
