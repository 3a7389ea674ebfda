// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/FuzzChecks.h"
#include "fuzz/FuzzSupport.h"

#include "platform/linux/registry/RegistryText.h"

#include <sstream>

namespace fb::fuzz {

namespace {

using linux_impl::FormatRegistryText;
using linux_impl::ParseRegistryText;
using linux_impl::RegHive;
using linux_impl::RegKeyNode;
using linux_impl::RegParseMode;

// The first difference between two hives, or empty.
std::string Difference(const RegHive& a, const RegHive& b) {
    if (a.options != b.options)
        return "the options before the first key differ";
    if (a.KeyCount() != b.KeyCount()) {
        std::ostringstream out;
        out << "key count " << a.KeyCount() << " became " << b.KeyCount();
        return out.str();
    }
    for (const auto& [folded, key] : a.Keys()) {
        const RegKeyNode* other = b.FindKey(key.path);
        if (other == nullptr)
            return "key [" + Printable(key.path) + "] was lost";
        if (other->path != key.path)
            return "key [" + Printable(key.path) + "] was respelled [" + Printable(other->path) +
                   "]";
        if (other->modified != key.modified)
            return "key [" + Printable(key.path) + "] changed its time";
        if (other->extra != key.extra)
            return "key [" + Printable(key.path) + "] changed its option lines";
        if (other->values.size() != key.values.size())
            return "key [" + Printable(key.path) + "] changed its number of values";
        for (std::size_t i = 0; i < key.values.size(); ++i) {
            if (!(other->values[i] == key.values[i]))
                return "value \"" + Printable(key.values[i].name) + "\" of key [" +
                       Printable(key.path) + "] changed";
        }
    }
    return {};
}

// Writing a hive and reading it back strictly gives the same hive, and writing is stable.
std::string RoundTrip(const RegHive& hive, const char* origin) {
    const std::string text = FormatRegistryText(hive);
    RegHive again;
    if (const auto error = ParseRegistryText(text, again, RegParseMode::Strict)) {
        std::ostringstream out;
        out << "the written form of a " << origin << " hive does not parse: line " << error->line
            << ": " << error->message;
        return out.str();
    }
    if (std::string difference = Difference(hive, again); !difference.empty())
        return std::string(origin) + " hive, written and read back: " + difference;
    if (FormatRegistryText(again) != text)
        return std::string(origin) + " hive: writing it a second time gives other text";
    return {};
}

} // namespace

std::string CheckRegistryText(std::string_view data) {
    RegHive lenient;
    const auto lenientError = ParseRegistryText(data, lenient, RegParseMode::Lenient);
    if (!lenientError) {
        if (std::string problem = RoundTrip(lenient, "leniently parsed"); !problem.empty())
            return problem;
    }
    RegHive strict;
    if (!ParseRegistryText(data, strict, RegParseMode::Strict)) {
        if (lenientError)
            return "text parses strictly but not leniently";
        // Without a malformed line both modes must agree.
        if (std::string difference = Difference(strict, lenient); !difference.empty())
            return "strict and lenient parses differ: " + difference;
        if (std::string problem = RoundTrip(strict, "strictly parsed"); !problem.empty())
            return problem;
    }
    return {};
}

} // namespace fb::fuzz
