// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parser, the writer and the UTF-16 conversions of the hive text share: the value
// types, the file's header and time base, and the builder that turns UTF-16 units into UTF-8.

#include <cstdint>
#include <string>
#include <string_view>

namespace fb::linux_impl::regformat {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

inline constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
// Seconds between 1601-01-01 (the start of Windows file times) and 1970-01-01.
inline constexpr std::int64_t kFileTimeEpochOffset = 11644473600;

inline bool IsStringType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Appends one code point as UTF-8.
void AppendCodePoint(std::string& out, std::uint32_t point);

// Builds UTF-8 text out of UTF-16 code units and raw bytes, pairing surrogates as they come.
class TextBuilder {
public:
    void Unit(std::uint16_t unit) {
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            FlushHigh();
            m_high = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (m_high != 0) {
                const std::uint32_t point = 0x10000 +
                                            ((static_cast<std::uint32_t>(m_high) - 0xD800) << 10) +
                                            (unit - 0xDC00);
                m_high = 0;
                AppendCodePoint(m_out, point);
            } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
                m_out.push_back(static_cast<char>(unit & 0xFF));
            } else {
                AppendCodePoint(m_out, 0xFFFD);
            }
            return;
        }
        FlushHigh();
        AppendCodePoint(m_out, unit);
    }
    void Byte(char byte) {
        FlushHigh();
        m_out.push_back(byte);
    }
    std::string Take() {
        FlushHigh();
        return std::move(m_out);
    }

private:
    void FlushHigh() {
        if (m_high != 0)
            AppendCodePoint(m_out, 0xFFFD);
        m_high = 0;
    }

    std::string m_out;
    std::uint16_t m_high = 0;
};

} // namespace fb::linux_impl::regformat
