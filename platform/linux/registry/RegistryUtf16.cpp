// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/registry/RegistryText.h"
#include "platform/linux/registry/RegistryTextFormat.h"

#include "platform/Text.h"

namespace fb::linux_impl {

namespace regformat {

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

} // namespace regformat

namespace regtext {

std::string Utf16ToUtf8(const std::u16string& units) {
    regformat::TextBuilder text;
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
