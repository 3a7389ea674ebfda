// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Text.h"

#include <cstdint>

namespace fb {

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return text.substr(text.size());
    return TrimEnd(text.substr(first), blanks);
}

std::string_view TrimEnd(std::string_view text, std::string_view blanks) {
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    std::uint32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07u;
    } else {
        return 0;
    }
    if (pos + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0u) != 0x80u)
            return 0;
        point = (point << 6) | (byte(pos + i) & 0x3Fu);
    }
    if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) || point > 0x10FFFF ||
        (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

std::size_t Utf8CutBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text.size();
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u;
    };
    // A character is at most 4 bytes: step back over at most 3 continuation bytes.
    std::size_t cut = maxBytes;
    for (int k = 0; k < 3 && cut > 0 && continuation(cut); ++k)
        --cut;
    return continuation(cut) ? maxBytes : cut;
}

std::size_t Utf8PrefixBytes(std::string_view text, std::size_t chars) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < chars && pos < text.size(); ++n) {
        const std::size_t length = Utf8SequenceLength(text, pos);
        pos += length == 0 ? 1 : length;
    }
    return pos;
}

std::size_t SkipBlanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    return pos;
}

void TakeBackslashRun(std::string_view text, std::size_t& pos, std::string& out) {
    std::size_t count = 0;
    while (pos < text.size() && text[pos] == '\\') {
        ++count;
        ++pos;
    }
    if (pos >= text.size() || text[pos] != '"') {
        out.append(count, '\\');
        return;
    }
    out.append(count / 2, '\\');
    if (count % 2 == 1) {
        out.push_back('"');
        ++pos;
    }
}

} // namespace fb
