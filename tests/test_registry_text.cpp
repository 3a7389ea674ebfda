// SPDX-License-Identifier: GPL-3.0-or-later
// The text format of the registry files: Wine's hives and our own store.

#include "platform/Registry.h"
#include "platform/linux/registry/RegistryText.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using namespace fb;
using namespace fb::linux_impl;
using namespace fb::testing_support;

namespace {

std::string Fixture(const std::string& name) {
    return ReadFile(SourcePath("tests/data/registry/" + name));
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A string value as the narrow functions give it: the text and a terminating zero.
std::vector<std::uint8_t> Sz(std::string_view text) {
    auto bytes = Bytes(text);
    bytes.push_back(0);
    return bytes;
}

const RegValue* Value(const RegHive& hive, std::string_view key, std::string_view name) {
    const RegKeyNode* node = hive.FindKey(key);
    return node != nullptr ? node->Find(name) : nullptr;
}

RegHive ParseStrict(const std::string& text) {
    RegHive hive;
    const auto error = ParseRegistryText(text, hive, RegParseMode::Strict);
    EXPECT_FALSE(error.has_value()) << "line " << error->line << ": " << error->message;
    return hive;
}

} // namespace

TEST(RegistryText, ReadsWineUserHive) {
    const RegHive hive = ParseStrict(Fixture("user.reg"));
    EXPECT_TRUE(hive.Is64Bit());

    const RegValue* azureus = Value(hive, "Software\\Azureus", "");
    ASSERT_NE(azureus, nullptr);
    EXPECT_EQ(azureus->type, reg::kSz);
    EXPECT_EQ(azureus->data, Sz("C:\\Program Files\\Azureus"));

    const RegValue* language = Value(hive, "Software\\eMule", "Language");
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(language->type, reg::kDword);
    EXPECT_EQ(language->data, (std::vector<std::uint8_t>{0x09, 0x04, 0, 0}));

    // \x escapes are UTF-16 code units, surrogate pairs included; we see UTF-8.
    const RegValue* accented = Value(hive, "Software\\eMule", "Caf\xC3\xA9 Name");
    ASSERT_NE(accented, nullptr);
    EXPECT_EQ(accented->data, Sz("Na\xC3\xAFve \xC3\xBC"
                                 "ber \xF0\x9F\x98\x80"));
}

TEST(RegistryText, ReadsEveryValueFormOfWineHives) {
    const RegHive hive = ParseStrict(Fixture("user.reg"));
    const auto check = [&](const char* name, std::uint32_t type,
                           const std::vector<std::uint8_t>& data) {
        const RegValue* value = Value(hive, "Software\\Types", name);
        ASSERT_NE(value, nullptr) << name;
        EXPECT_EQ(value->type, type) << name;
        EXPECT_EQ(value->data, data) << name;
    };
    check("Binary", reg::kBinary, {0, 1, 2, 0xff});
    check("Empty Binary", reg::kBinary, {});
    check("Expand", reg::kExpandSz, Sz("%SystemRoot%\\system32"));
    check("ExpandHex", reg::kExpandSz, Sz("%PATH%")); // UTF-16 bytes, seen narrow
    check("Multi", reg::kMultiSz, Bytes(std::string_view("one\0two\0\0", 9)));
    check("Qword", reg::kQword, {1, 2, 3, 4, 5, 6, 7, 8});
    check("Unknown", 0x12345, {0xde, 0xad, 0xbe, 0xef});
    check("Escapes", reg::kSz, Sz("tab\there\nnew \"quoted\" back\\slash \aAA"));
    check("NoTerminator", reg::kSz, Bytes("ab"));

    std::vector<std::uint8_t> counting(32);
    for (std::size_t i = 0; i < counting.size(); ++i)
        counting[i] = static_cast<std::uint8_t>(i);
    check("Long", reg::kBinary, counting);

    const RegKeyNode* types = hive.FindKey("software\\TYPES");
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->extra, std::vector<std::string>{"#class=\"ClassName\""});
    EXPECT_EQ(types->modified, 1700000004);
}

TEST(RegistryText, NamesCompareWithoutCaseAndKeepTheirSpelling) {
    RegHive hive;
    RegKeyNode& key = hive.CreateKey("SOFTWARE\\Flowbright", 5);
    key.Set("CheckPeriodNum", reg::kDword, {12, 0, 0, 0});
    key.Set("\xC3\x84rger", reg::kSz, Sz("x")); // "Ärger"

    ASSERT_EQ(hive.FindKey("software\\FLOWBRIGHT"), &key);
    EXPECT_EQ(hive.FindKey("software\\flowbright")->path, "SOFTWARE\\Flowbright");
    ASSERT_NE(key.Find("checkperiodnum"), nullptr);
    EXPECT_EQ(key.Find("CHECKPERIODNUM")->name, "CheckPeriodNum");
    EXPECT_NE(key.Find("\xC3\xA4RGER"), nullptr); // "äRGER"

    // Setting under another spelling replaces the value and keeps the first spelling.
    EXPECT_TRUE(key.Set("checkperiodNUM", reg::kDword, {7, 0, 0, 0}));
    ASSERT_EQ(key.values.size(), 2U);
    EXPECT_EQ(key.values[0].name, "CheckPeriodNum");
    EXPECT_EQ(key.values[0].data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
    EXPECT_FALSE(key.Set("CheckPeriodNum", reg::kDword, {7, 0, 0, 0})); // no change

    const std::string text = FormatRegistryText(hive);
    EXPECT_NE(text.find("[SOFTWARE\\\\Flowbright] 5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"CheckPeriodNum\"=dword:00000007\n"), std::string::npos) << text;
}

TEST(RegistryText, KeysExistThroughTheirSubkeysAndPathsAreNormalized) {
    RegHive hive;
    hive.CreateKey("Software\\Wine\\Drivers", 0);
    EXPECT_TRUE(hive.KeyExists("software"));
    EXPECT_TRUE(hive.KeyExists("SOFTWARE\\WINE"));
    EXPECT_TRUE(hive.KeyExists("\\Software\\\\Wine\\"));
    EXPECT_TRUE(hive.KeyExists(""));
    EXPECT_FALSE(hive.KeyExists("Software\\Win"));
    EXPECT_FALSE(hive.KeyExists("Software\\Wine\\Drivers\\Audio"));
    EXPECT_FALSE(hive.KeyExists("Software\\Wine Drivers"));
    EXPECT_EQ(NormalizeRegistryPath("\\\\a\\\\b\\c\\"), "a\\b\\c");
    EXPECT_EQ(NormalizeRegistryPath(""), "");
}

TEST(RegistryText, EveryTypeSurvivesARoundTripThroughText) {
    RegHive hive;
    hive.options.push_back("#arch=win32");
    RegKeyNode& key = hive.CreateKey("Software\\Round [Trip]\\\"Quoted\" Key", 1700000000);
    const std::vector<RegValue> values = {
        {"", reg::kSz, Sz("default")},
        {"Empty", reg::kSz, Sz("")},
        {"Plain", reg::kSz, Sz("C:\\Program Files\\eMule")},
        {"NoZero", reg::kSz, Bytes("abc")},
        {"ZeroBytes", reg::kSz, {}},
        {"InnerZero", reg::kSz, Bytes(std::string_view("a\0b\0", 4))},
        {"Utf8", reg::kSz, Sz("\xE2\x82\xAC \xF0\x9F\x98\x80 \xC3\xA9")},
        {"NotUtf8", reg::kSz, Sz("\xFF\xFE\xC3(\xED\xB3\xBF")},
        {"Controls", reg::kSz, Sz(std::string_view("\x01\x07\x1b\x7f\t\r\n\0017", 10))},
        {"Expand", reg::kExpandSz, Sz("%HOME%\\x")},
        {"ExpandNoZero", reg::kExpandSz, Bytes("%A%")},
        {"Multi", reg::kMultiSz, Bytes(std::string_view("one\0two\0\0", 9))},
        {"Binary", reg::kBinary, {0, 1, 0x7f, 0x80, 0xff}},
        {"EmptyBinary", reg::kBinary, {}},
        {"Dword", reg::kDword, {0x78, 0x56, 0x34, 0x12}},
        {"ShortDword", reg::kDword, {1, 2, 3}},
        {"Qword", reg::kQword, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"None", reg::kNone, {9}},
        {"Link", 6, {0x41, 0, 0x42, 0}},
        {"Odd Type", 0xfffffff0u, {0xde, 0xad, 0xbe, 0xef, 0}},
        {"Big", reg::kBinary, std::vector<std::uint8_t>(1000, 0xab)},
        {"Name \"with\" \\ and ]", reg::kDword, {0, 0, 0, 0x80}},
        {"\xC3\x84rger \xFF", reg::kSz, Sz("x")},
    };
    for (const auto& value : values)
        key.Set(value.name, value.type, value.data);
    hive.CreateKey("Software\\Empty Key", 3).extra.push_back("#class=\"x\"");

    const std::string text = FormatRegistryText(hive);
    const RegHive back = ParseStrict(text);
    ASSERT_EQ(back.KeyCount(), 2U);
    const RegKeyNode* round = back.FindKey("software\\round [trip]\\\"quoted\" key");
    ASSERT_NE(round, nullptr) << text;
    EXPECT_EQ(round->path, key.path);
    EXPECT_EQ(round->modified, 1700000000);
    ASSERT_EQ(round->values.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(round->values[i], values[i]) << "value " << values[i].name << "\n" << text;
    EXPECT_EQ(back.FindKey("Software\\Empty Key")->extra, std::vector<std::string>{"#class=\"x\""});
    EXPECT_EQ(back.options, hive.options);
    EXPECT_EQ(FormatRegistryText(back), text); // stable

    // The file stays readable: plain strings and UTF-8 appear as they are, lines stay short.
    EXPECT_NE(text.find("\"Plain\"=\"C:\\\\Program Files\\\\eMule\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Utf8\"=\"\xE2\x82\xAC"), std::string::npos);
    EXPECT_NE(text.find("\"Odd Type\"=hex(fffffff0):de,ad,be,ef,00\n"), std::string::npos);
    EXPECT_NE(text.find("\"NoZero\"=hex(1):61,00,62,00,63,00\n"), std::string::npos);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 100U) << line.substr(0, 40);
}

TEST(RegistryText, ConvertsBetweenUtf8AndUtf16Losslessly) {
    EXPECT_EQ(regtext::Utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(regtext::Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(regtext::Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
    EXPECT_EQ(regtext::Utf16ToUtf8(std::u16string{0xDCFF}), "\xFF");
    const std::string messy =
        "ok \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82 end \xF0\x9F\x98\x80";
    EXPECT_EQ(regtext::Utf16ToUtf8(regtext::Utf8ToUtf16(messy)), messy);
}

TEST(RegistryText, StrictParsingRejectsMalformedLinesWithTheirNumber) {
    const std::string header = "WINE REGISTRY Version 2\n";
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"WINE REGISTRY Version 3\n", 1},
        {"REGEDIT4\n", 1},
        {header + "\"x\"=\"y\"\n", 2},                  // value outside a key
        {header + "[a] 1\n\"x\"=\"unterminated\n", 3},  // unterminated string
        {header + "[a] 1\n\"x\"=hex:01,zz\n", 3},       // bad byte
        {header + "[a] 1\n\"x\"=hex:01,02,\\\n", 3},    // continued past the end
        {header + "[a] 1\n\"x\"=dword:123456789\n", 3}, // nine digits
        {header + "[a] 1\n\"x\"=wide:\"y\"\n", 3},      // unknown form
        {header + "[a] 1\n\"x\" \"y\"\n", 3},           // no '='
        {header + "[a\n", 2},                           // no closing bracket
        {header + "[a] 1 trailing\n", 2},               // text after the key
        {header + "[a] 1\n\"x\"=\"y\" trailing\n", 3},  // text after the value
        {header + "[a] 1\ngarbage\n", 3},               // not a line of the format
    };
    for (const auto& [text, line] : cases) {
        RegHive hive;
        const auto error = ParseRegistryText(text, hive, RegParseMode::Strict);
        ASSERT_TRUE(error.has_value()) << text;
        EXPECT_EQ(error->line, line) << text;
    }
    RegHive hive;
    EXPECT_FALSE(
        ParseRegistryText(header + "\r\n[a] 1\r\n\"x\"=\"y\"\r\n", hive, RegParseMode::Strict));
    EXPECT_EQ(Value(hive, "a", "x")->data, Sz("y")); // CRLF line ends are accepted
}

TEST(RegistryText, HostileHiveIsReadAroundItsDamage) {
    RegHive hive;
    ASSERT_FALSE(ParseRegistryText(Fixture("hostile.reg"), hive, RegParseMode::Lenient));
    ASSERT_NE(Value(hive, "Software\\Good", "Before"), nullptr);
    EXPECT_EQ(Value(hive, "Software\\Good", "Before")->data, Sz("kept"));
    EXPECT_EQ(Value(hive, "Software\\Good\\After", "After")->data, Sz("still read"));
    EXPECT_EQ(Value(hive, "Software\\Good\\After", "Cont")->data,
              (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(Value(hive, "Software\\Truncated", "Unterminated"), nullptr);
    EXPECT_EQ(Value(hive, "Software\\Truncated", "BadDword"), nullptr);
    EXPECT_EQ(Value(hive, "Software\\Truncated", "OddEsc1")->data, Sz("x"));
    EXPECT_EQ(Value(hive, "Software\\Truncated", "OddEsc2")->data, Sz("\xEF\xBF\xBF"
                                                                      "ffff"));
    EXPECT_EQ(Value(hive, "Software\\Truncated", "LoneHigh")->data, Sz("\xEF\xBF\xBDx"));
    EXPECT_EQ(Value(hive, "Software\\Truncated", "LoneLow")->data, Sz("\xEF\xBF\xBD"));
    EXPECT_EQ(Value(hive, "Software\\Truncated", "OddEsc3"), nullptr);
    EXPECT_FALSE(hive.KeyExists("Software\\Broken"));

    // Strict parsing of the same text fails instead.
    EXPECT_TRUE(ParseRegistryText(Fixture("hostile.reg"), hive, RegParseMode::Strict));
}

TEST(RegistryText, RandomDamageNeverBreaksTheParser) {
    const std::string original = Fixture("user.reg");
    ASSERT_FALSE(original.empty());
    std::mt19937 random(20240607);
    for (int round = 0; round < 2000; ++round) {
        std::string text = original;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int edit = 0; edit < edits; ++edit) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text[at] = static_cast<char>(random());
                break;
            case 1:
                text.erase(at, random() % 16);
                break;
            default:
                text.insert(at, 1, "\\\"[]=,:()\n\r\0x"[random() % 14]);
            }
            if (text.empty())
                text = "W";
        }
        if (round % 2 == 0)
            text.resize(random() % text.size()); // truncated
        RegHive hive;
        ParseRegistryText(text, hive, RegParseMode::Lenient);
        // Whatever was read can be written and read back the same.
        RegHive back;
        EXPECT_FALSE(ParseRegistryText(FormatRegistryText(hive), back, RegParseMode::Strict));
        EXPECT_EQ(FormatRegistryText(back), FormatRegistryText(hive));
    }
}

TEST(RegistryText, ReadsTenMegabyteValues) {
    const std::size_t size = 10u << 20;
    std::string text = "WINE REGISTRY Version 2\n[Big] 1\n\"String\"=\"";
    text.append(size, 'a');
    text += "\"\n\"Hex\"=hex:";
    text.reserve(text.size() + size / 4 * 3 + size / 4 / 25 * 5);
    for (std::size_t i = 0; i < size / 4; ++i) {
        text += "ab,";
        if (i % 25 == 24)
            text += "\\\n  ";
    }
    text += "ab\n\"Unterminated\"=\"";
    text.append(size, 'b'); // and the file ends
    RegHive hive;
    ASSERT_FALSE(ParseRegistryText(text, hive, RegParseMode::Lenient));
    ASSERT_NE(Value(hive, "Big", "String"), nullptr);
    EXPECT_EQ(Value(hive, "Big", "String")->data.size(), size + 1);
    ASSERT_NE(Value(hive, "Big", "Hex"), nullptr);
    EXPECT_EQ(Value(hive, "Big", "Hex")->data.size(), size / 4 + 1);
    EXPECT_EQ(Value(hive, "Big", "Unterminated"), nullptr);
}

TEST(RegistryText, KeyWithVeryManyValuesIsReadInLinearTime) {
    // Also: the last of duplicate values counts, whatever the spelling.
    std::string text = "WINE REGISTRY Version 2\n[Many] 1\n";
    constexpr int kValues = 200000;
    for (int i = 0; i < kValues; ++i)
        text += "\"Value" + std::to_string(i) + "\"=dword:00000001\n";
    text += "\"VALUE7\"=dword:00000002\n[many] 2\n\"value8\"=dword:00000003\n";
    RegHive hive;
    ASSERT_FALSE(ParseRegistryText(text, hive, RegParseMode::Strict));
    const RegKeyNode* key = hive.FindKey("Many");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->values.size(), static_cast<std::size_t>(kValues));
    EXPECT_EQ(key->Find("value7")->name, "Value7");
    EXPECT_EQ(key->Find("value7")->data, (std::vector<std::uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(key->Find("value8")->data, (std::vector<std::uint8_t>{3, 0, 0, 0}));
}
