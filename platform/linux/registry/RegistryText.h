// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Wine's text registry format: the hive model, a parser and a writer.
//
// A hive is a list of keys, each with its path (relative to the hive's root, components
// separated by backslashes) and its typed values. Text is held as UTF-8 and string values are
// held as the bytes the narrow registry functions give (UTF-8 with the terminating zero), so
// that Wine's UTF-16 hives and our own store read the same way.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fb::linux_impl {

// Compares names as the registry does: without regard to letter case.
std::string FoldRegistryName(std::string_view name);

// A key path with empty components removed ("\\a\\\\b\\" becomes "a\\b").
std::string NormalizeRegistryPath(std::string_view path);

struct RegValue {
    std::string name; // empty for the key's default value
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;

    bool operator==(const RegValue&) const = default;
};

struct RegKeyNode {
    std::string path;               // spelling as first stored
    std::int64_t modified = 0;      // seconds since 1970, the number after the section name
    std::vector<std::string> extra; // "#class=...", "#link" and other option lines, verbatim
    std::vector<RegValue> values;   // in stored order

    const RegValue* Find(std::string_view name) const;
    RegValue* Find(std::string_view name);
    // Replaces or appends; returns false when the value was already exactly so.
    bool Set(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
    bool Erase(std::string_view name);
};

class RegHive {
public:
    // Lines before the first key that are kept ("#arch=win64" and other options).
    std::vector<std::string> options;

    const RegKeyNode* FindKey(std::string_view path) const;
    RegKeyNode* FindKey(std::string_view path);
    // True when the key is stored or is the parent of a stored key (Wine leaves out keys
    // that hold nothing but subkeys). The empty path, the root, always exists.
    bool KeyExists(std::string_view path) const;
    // The key, created (with the given time) when missing.
    RegKeyNode& CreateKey(std::string_view path, std::int64_t now);

    // True for a hive of a 64-bit prefix ("#arch=win64").
    bool Is64Bit() const;

    std::size_t KeyCount() const { return m_keys.size(); }
    const std::map<std::string, RegKeyNode>& Keys() const { return m_keys; }

private:
    std::map<std::string, RegKeyNode> m_keys; // by folded, normalized path
};

struct RegParseError {
    std::size_t line = 0; // 1-based
    std::string message;
};

enum class RegParseMode {
    Strict,  // the first malformed line fails the parse
    Lenient, // malformed lines are skipped (for hives written by others)
};

// Parses the text of a hive into `hive` (which is cleared first). In lenient mode it returns an
// error only when the text is not a registry at all (wrong header).
std::optional<RegParseError> ParseRegistryText(std::string_view text, RegHive& hive,
                                               RegParseMode mode);

// The text of a hive in Wine's format, readable by ParseRegistryText and by Wine.
std::string FormatRegistryText(const RegHive& hive);

// Text conversions used by the format, exposed for the tests.
namespace regtext {
// UTF-16 code units to UTF-8; lone surrogates U+DC80..U+DCFF stand for single bytes that were
// not valid UTF-8, other lone surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& units);
// UTF-8 to UTF-16; invalid bytes become U+DC80..U+DCFF so that the conversion is lossless.
std::u16string Utf8ToUtf16(std::string_view text);
} // namespace regtext

} // namespace fb::linux_impl
