// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/registry/RegistryText.h"
#include "platform/linux/registry/RegistryTextFormat.h"

#include "platform/Text.h"

#include <cstdio>

namespace fb::linux_impl {

using namespace regformat;

namespace {

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

} // namespace fb::linux_impl
