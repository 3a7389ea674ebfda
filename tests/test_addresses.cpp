// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LocalAddresses.h"

#include "fakes/FakeAddressTable.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace fb;

namespace {

std::uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

// `count` distinct addresses 10.0.x.y, in order.
std::vector<std::uint32_t> Numbered(int count) {
    std::vector<std::uint32_t> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(htonl(0x0A000000u + static_cast<std::uint32_t>(i) + 1));
    return rows;
}

TEST(AddressText, MatchesInetNtoa) {
    std::vector<std::uint32_t> samples = {
        0u, 0xFFFFFFFFu, Ip("127.0.0.1"), Ip("192.168.1.5"), Ip("10.0.0.255"), Ip("1.20.100.0")};
    std::mt19937 random(12345);
    for (int i = 0; i < 2000; ++i)
        samples.push_back(static_cast<std::uint32_t>(random()));
    for (const std::uint32_t address : samples) {
        in_addr in{};
        in.s_addr = address;
        const std::string expected = inet_ntoa(in);
        const std::string text = CLocalAddresses::AddressText(address);
        EXPECT_EQ(text, expected);
        EXPECT_LE(text.size(), CLocalAddresses::kMaxTextLength);
    }
    EXPECT_EQ(CLocalAddresses::AddressText(0xFFFFFFFFu), "255.255.255.255");
}

TEST(LoadLocalAddresses, ListsTheTableInItsOrder) {
    fb::fakes::FakeAddressTable table;
    table.addresses = {Ip("192.168.1.5"), Ip("127.0.0.1"), Ip("10.1.2.3")};
    CLocalAddresses list;
    ASSERT_EQ(list.LoadLocalAddresses(table), 3);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Text(0), "192.168.1.5");
    EXPECT_EQ(list.Text(1), "127.0.0.1");
    EXPECT_EQ(list.Text(2), "10.1.2.3");
    EXPECT_EQ(list.Address(2), Ip("10.1.2.3"));
}

TEST(LoadLocalAddresses, EmptyOrUnreadableTableGivesNoEntries) {
    fb::fakes::FakeAddressTable table;
    CLocalAddresses list;
    EXPECT_EQ(list.LoadLocalAddresses(table), 0);
    EXPECT_EQ(list.Count(), 0);

    table.addresses = {Ip("192.168.1.5")};
    ASSERT_EQ(list.LoadLocalAddresses(table), 1);
    table.fail = true;
    EXPECT_EQ(list.LoadLocalAddresses(table), 0);
    EXPECT_EQ(list.Count(), 0) << "a failed reload must not keep the old entries";
}

// The table is read into 2800 bytes: 4 bytes of count and at most 116 rows of 24 bytes.
TEST(LoadLocalAddresses, BufferAndCapacityBoundaries) {
    static_assert(CLocalAddresses::RowsThatFit(100) == 116);
    struct Case {
        int rows;
        int listed;
    };
    for (const Case c : {Case{99, 99}, Case{100, 100}, Case{101, 100}, Case{115, 100},
                         Case{116, 100}, Case{117, 0}, Case{200, 0}}) {
        SCOPED_TRACE(c.rows);
        fb::fakes::FakeAddressTable table;
        table.addresses = Numbered(c.rows);
        CLocalAddresses list;
        EXPECT_EQ(list.LoadLocalAddresses(table), c.listed);
        ASSERT_EQ(list.Count(), c.listed);
        for (int i = 0; i < c.listed; ++i)
            EXPECT_EQ(list.Address(i), table.addresses[static_cast<std::size_t>(i)]);
    }
}

TEST(LoadLocalAddresses, SmallerCapacityShrinksTheBuffer) {
    fb::fakes::FakeAddressTable table;
    CLocalAddresses list;
    // One entry: 28 bytes hold the count and one row.
    table.addresses = Numbered(1);
    EXPECT_EQ(list.LoadLocalAddresses(table, 1), 1);
    table.addresses = Numbered(2);
    EXPECT_EQ(list.LoadLocalAddresses(table, 1), 0);
    // Ten entries: 280 bytes hold 11 rows.
    table.addresses = Numbered(11);
    EXPECT_EQ(list.LoadLocalAddresses(table, 10), 10);
    table.addresses = Numbered(12);
    EXPECT_EQ(list.LoadLocalAddresses(table, 10), 0);
    // No capacity, or a nonsensical one, lists nothing and more than 100 is cut to 100.
    table.addresses = Numbered(1);
    EXPECT_EQ(list.LoadLocalAddresses(table, 0), 0);
    EXPECT_EQ(list.LoadLocalAddresses(table, -5), 0);
    table.addresses = Numbered(110);
    EXPECT_EQ(list.LoadLocalAddresses(table, 1000), 100);
}

struct ChoiceCase {
    std::vector<const char*> addresses;
    const char* chosen; // null: nothing
};

class WatcherAddressChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(WatcherAddressChoice, ChoosesFirstUsableElseEntryZero) {
    fb::fakes::FakeAddressTable table;
    for (const char* text : GetParam().addresses)
        table.addresses.push_back(Ip(text));
    CLocalAddresses list;
    list.LoadLocalAddresses(table);
    const auto chosen = list.WatcherAddress();
    if (GetParam().chosen == nullptr) {
        EXPECT_FALSE(chosen.has_value());
    } else {
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(CLocalAddresses::AddressText(*chosen), GetParam().chosen);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WatcherAddressChoice,
    testing::Values(ChoiceCase{{"127.0.0.1", "192.168.1.5"}, "192.168.1.5"},
                    ChoiceCase{{"0.0.0.0", "127.0.0.1"}, "0.0.0.0"},
                    ChoiceCase{{"127.0.0.1", "0.0.0.0"}, "127.0.0.1"},
                    ChoiceCase{{"127.0.0.1"}, "127.0.0.1"},
                    ChoiceCase{{"10.0.0.1", "192.168.1.5"}, "10.0.0.1"},
                    ChoiceCase{{"127.0.0.1", "0.0.0.0", "172.16.0.9", "10.0.0.1"}, "172.16.0.9"},
                    // The comparison is by exact text: other loopback addresses qualify.
                    ChoiceCase{{"127.0.0.1", "127.0.0.2"}, "127.0.0.2"}, ChoiceCase{{}, nullptr}));

TEST(WatcherAddressChoice, ChoosesAmongTheListedHundredOnly) {
    // 100 loopback entries, then a usable address in row 101: it is not listed, so entry 0.
    fb::fakes::FakeAddressTable table;
    table.addresses.assign(100, Ip("127.0.0.1"));
    table.addresses.push_back(Ip("192.168.1.5"));
    CLocalAddresses list;
    ASSERT_EQ(list.LoadLocalAddresses(table), 100);
    ASSERT_TRUE(list.WatcherAddress().has_value());
    EXPECT_EQ(*list.WatcherAddress(), Ip("127.0.0.1"));

    // The same at row 100 is listed and chosen.
    table.addresses.assign(99, Ip("0.0.0.0"));
    table.addresses.push_back(Ip("192.168.1.5"));
    ASSERT_EQ(list.LoadLocalAddresses(table), 100);
    EXPECT_EQ(*list.WatcherAddress(), Ip("192.168.1.5"));

    // 117 rows do not fit: nothing to choose from.
    table.addresses.assign(117, Ip("192.168.1.5"));
    EXPECT_EQ(list.LoadLocalAddresses(table), 0);
    EXPECT_FALSE(list.WatcherAddress().has_value());
}

} // namespace
