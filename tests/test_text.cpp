// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace fb;

TEST(Text, NamesMatchWithoutRegardToAsciiCaseOnly) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("AlwaysOnTop", "alwaysontop"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("key", "key "));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{")); // 0x5B and 0x7B differ by the case bit only
    EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x84", "\xC3\xA4")); // Ä and ä: not ASCII
    EXPECT_TRUE(IsAscii("plain text"));
    EXPECT_FALSE(IsAscii("caf\xC3\xA9"));
}

TEST(Text, TrimsTheGivenBlanksOnly) {
    EXPECT_EQ(Trim(" \tname \t"), "name");
    EXPECT_EQ(Trim("\rname\r"), "\rname\r");
    EXPECT_EQ(Trim("\r\v name \f", kLineSpace), "name");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimEnd("  value  "), "  value");
    EXPECT_EQ(Trim(std::string_view("a\0 ", 3)), std::string_view("a\0", 2));
    EXPECT_TRUE(IsBlank('\t'));
    EXPECT_FALSE(IsBlank('\n'));
}

TEST(Text, TellsValidUtf8FromBytesThatOnlyLookLikeIt) {
    EXPECT_TRUE(IsValidUtf8("\xF0\x90\x82\x80"));
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));         // cut short
}

TEST(Text, CutsAtMostSoManyBytesWithoutSplittingACharacter) {
    const std::string euro = "ab\xE2\x82\xAC"; // "ab€": 2 + 3 bytes
    EXPECT_EQ(Utf8CutBytes(euro, 10), 5U);
    EXPECT_EQ(Utf8CutBytes(euro, 5), 5U);
    EXPECT_EQ(Utf8CutBytes(euro, 4), 2U);
    EXPECT_EQ(Utf8CutBytes(euro, 3), 2U);
    EXPECT_EQ(Utf8CutBytes(euro, 2), 2U);
    EXPECT_EQ(Utf8CutBytes(euro, 0), 0U);
    EXPECT_EQ(Utf8CutBytes(std::string(8, '\x80'), 4), 4U) << "not UTF-8: a plain byte cut";
}

TEST(Text, CountsCharactersNotBytes) {
    const std::string text = "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80!"; // "été 😀!"
    EXPECT_EQ(Utf8PrefixBytes(text, 0), 0U);
    EXPECT_EQ(Utf8PrefixBytes(text, 1), 2U);
    EXPECT_EQ(Utf8PrefixBytes(text, 3), 5U);
    EXPECT_EQ(Utf8PrefixBytes(text, 5), 10U);
    EXPECT_EQ(Utf8PrefixBytes(text, 99), text.size());
    EXPECT_EQ(Utf8PrefixBytes("\xFF\xFE"
                              "ab",
                              2),
              2U)
        << "a stray byte counts as one";
}

} // namespace
