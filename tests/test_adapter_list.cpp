// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/AdapterList.h"

#include "fakes/FakeInterfaceTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fb;
using fb::fakes::FakeInterfaceTable;

namespace {

// ---------------------------------------------------------------------------------------------
// Entry texts and the filter

TEST(AdapterEntryText, FormatsDescriptionSpeedInBinaryMegabitsAndUnit) {
    EXPECT_EQ(CAdapterList::EntryText("Fast Ethernet Adapter with Wake on LAN support", 100000000),
              " Fast Ethernet Adapter with Wake on LAN 95 Mb");
    EXPECT_EQ(CAdapterList::EntryText("WAN Miniport (PPTP)", 0), " WAN Miniport (PPTP) 0 Mb");
}

TEST(AdapterEntryText, SpeedIsShiftedBy20BitsNotDividedByAMillion) {
    EXPECT_EQ(CAdapterList::EntryText("x", 1000000000), " x 953 Mb");
    EXPECT_EQ(CAdapterList::EntryText("x", 100000000), " x 95 Mb");
    EXPECT_EQ(CAdapterList::EntryText("x", 54000000), " x 51 Mb");
    EXPECT_EQ(CAdapterList::EntryText("x", 10000000), " x 9 Mb");
    EXPECT_EQ(CAdapterList::EntryText("x", 1048575), " x 0 Mb");
    EXPECT_EQ(CAdapterList::EntryText("x", 1048576), " x 1 Mb");
    EXPECT_EQ(CAdapterList::EntryText("x", 0xFFFFFFFFu), " x 4095 Mb");
}

TEST(AdapterEntryText, CutsDescriptionTo38Characters) {
    const std::string exact(38, 'a');
    EXPECT_EQ(CAdapterList::EntryText(exact, 0), " " + exact + " 0 Mb");
    EXPECT_EQ(CAdapterList::EntryText(exact + "b", 0), " " + exact + " 0 Mb");
    EXPECT_EQ(CAdapterList::EntryText(std::string(37, 'a'), 0),
              " " + std::string(37, 'a') + " 0 Mb");
    EXPECT_EQ(CAdapterList::EntryText("", 0), "  0 Mb");
}

TEST(AdapterEntryText, CutCountsCharactersNotBytesAndNeverSplitsOne) {
    // 37 ASCII characters and then two of two bytes each: the 38th is kept whole.
    const std::string text = std::string(37, 'a') + "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(CAdapterList::EntryText(text, 0), " " + std::string(37, 'a') + "\xC3\xA9 0 Mb");
    // Stray continuation bytes count one each, so nothing runs past 38 of them.
    const std::string junk(300, '\x80');
    EXPECT_EQ(CAdapterList::EntryText(junk, 0), " " + std::string(38, '\x80') + " 0 Mb");
}

TEST(AdapterEntryText, DescriptionEndsAtItsFirstZeroByte) {
    const std::string text("Adapter\0hidden", 14);
    EXPECT_EQ(CAdapterList::EntryText(text, 0), " Adapter 0 Mb");
}

TEST(AdapterFilter, LeavesOutDescriptionsStartingWithWanAndABlank) {
    EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText("WAN Miniport (IP)", 0)));
    EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText("WAN tun0", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("Intel adapter with WAN link", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("WANadapter", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("wan Miniport", 0)));
}

TEST(AdapterFilter, LeavesOutIsatapOnlyAtTheStartAndCaseSensitively) {
    EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText("isatap.{1234}", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("Microsoft ISATAP Adapter", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("isatap", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("my isatap.x", 0)));
}

TEST(AdapterFilter, LeavesOutLoopbackAnywhereButOnlyWithCapitalL) {
    EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText("MS TCP Loopback interface", 0)));
    EXPECT_FALSE(
        CAdapterList::IsListed(CAdapterList::EntryText("Software Loopback Interface 1", 0)));
    EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText("Loopback (lo)", 0)));
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText("software loopback", 0)));
}

TEST(AdapterFilter, LoopbackBeyondThe38CharacterCutIsListed) {
    // The filter looks at the entry text, which no longer holds the word.
    const std::string text = std::string(38, 'x') + " Loopback";
    EXPECT_TRUE(CAdapterList::IsListed(CAdapterList::EntryText(text, 0)));
}

TEST(AdapterSpeedDivisor, IsSpeedOver16000AndAtLeastOne) {
    EXPECT_EQ(CAdapterList::SpeedDivisor(0), 1u);
    EXPECT_EQ(CAdapterList::SpeedDivisor(10000), 1u);
    EXPECT_EQ(CAdapterList::SpeedDivisor(31999), 1u);
    EXPECT_EQ(CAdapterList::SpeedDivisor(32000), 2u);
    EXPECT_EQ(CAdapterList::SpeedDivisor(100000000), 6250u);
    EXPECT_EQ(CAdapterList::SpeedDivisor(0xFFFFFFFFu), 268435u);
}

// ---------------------------------------------------------------------------------------------
// Loading the table

class AdapterListTest : public ::testing::Test {
protected:
    FakeInterfaceTable table;
    CAdapterList list{table};

    void AddTypicalRows() {
        table.AddRow(1, "Loopback (lo)", 0, 5, 5);
        table.AddRow(2, "Ethernet Adapter (eth0)", 1000000000, 100, 200);
        table.AddRow(3, "WAN tun0", 0, 7, 7);
        table.AddRow(4, "Wireless Adapter (wlan0)", 54000000, 300, 400);
    }
};

TEST_F(AdapterListTest, ListsFilteredRowsInTableOrder) {
    AddTypicalRows();
    ASSERT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::Loaded);
    ASSERT_EQ(list.Entries().size(), 2u);
    EXPECT_EQ(list.Entries()[0], " Ethernet Adapter (eth0) 953 Mb");
    EXPECT_EQ(list.Entries()[1], " Wireless Adapter (wlan0) 51 Mb");
    // Each entry reads the adapter it shows.
    EXPECT_EQ(list.ReadSelectedRow(0).inOctets, 100u);
    EXPECT_EQ(list.ReadSelectedRow(1).inOctets, 300u);
}

TEST_F(AdapterListTest, MissingFacilityReadsNothing) {
    AddTypicalRows();
    table.available = false;
    EXPECT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::FacilityMissing);
    EXPECT_TRUE(list.Entries().empty());
}

TEST_F(AdapterListTest, NoTableGivesNoEntriesAndZeroCounters) {
    AddTypicalRows();
    table.tableFails = true;
    EXPECT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::NoTable);
    EXPECT_TRUE(list.Entries().empty());
    EXPECT_EQ(list.SelectionFor(0), -1);
    const fb::IfCounters counters = list.ReadSelectedRow(0);
    EXPECT_EQ(counters.inOctets, 0u);
    EXPECT_EQ(counters.outOctets, 0u);
    EXPECT_EQ(counters.speed, 0u);
}

TEST_F(AdapterListTest, EmptyTableIsLoadedWithoutEntries) {
    EXPECT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::Loaded);
    EXPECT_TRUE(list.Entries().empty());
    EXPECT_EQ(list.SelectionFor(3), -1);
}

TEST_F(AdapterListTest, AtMost256EntriesAreListed) {
    table.AddRow(1, "Loopback (lo)");
    for (std::uint32_t i = 0; i < 300; ++i) {
        table.AddRow(10 + i, "eth" + std::to_string(i), 0, i, i);
    }
    ASSERT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::Loaded);
    ASSERT_EQ(list.Entries().size(), 256u);
    EXPECT_EQ(list.Entries()[255], " eth255 0 Mb");
    EXPECT_EQ(list.ReadSelectedRow(255).inOctets, 255u);
    EXPECT_EQ(list.SelectionFor(255), 255);
    EXPECT_EQ(list.SelectionFor(256), 0);
}

TEST_F(AdapterListTest, Exactly256EntriesAreAllListed) {
    for (std::uint32_t i = 0; i < 256; ++i) {
        table.AddRow(1 + i, "eth" + std::to_string(i));
    }
    list.LoadInterfaceTable();
    EXPECT_EQ(list.Entries().size(), 256u);
}

// ---------------------------------------------------------------------------------------------
// The stored position

TEST_F(AdapterListTest, StoredPositionIsSelectedWhenListed) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    EXPECT_EQ(list.SelectionFor(0), 0);
    EXPECT_EQ(list.SelectionFor(1), 1);
}

TEST_F(AdapterListTest, StoredPositionBeyondTheListOrNegativeSelectsTheFirstEntry) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    EXPECT_EQ(list.SelectionFor(2), 0);
    EXPECT_EQ(list.SelectionFor(1000), 0);
    EXPECT_EQ(list.SelectionFor(-1), 0);
}

TEST_F(AdapterListTest, UnlistedPositionReadsTheFirstEntry) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    table.SetCounters(2, 111, 222);
    table.SetCounters(4, 333, 444);
    EXPECT_EQ(list.ReadSelectedRow(7).inOctets, 111u);
    EXPECT_EQ(list.ReadSelectedRow(-5).outOctets, 222u);
}

// ---------------------------------------------------------------------------------------------
// Reading the selected adapter

TEST_F(AdapterListTest, ReadsTheSelectedAdaptersFreshCounters) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    table.SetCounters(4, 0xFFFFFFF0u, 0xFFFFFFFFu);
    table.SetSpeed(4, 11000000);
    const fb::IfCounters counters = list.ReadSelectedRow(1);
    EXPECT_EQ(counters.inOctets, 0xFFFFFFF0u);
    EXPECT_EQ(counters.outOctets, 0xFFFFFFFFu);
    EXPECT_EQ(counters.speed, 11000000u);
}

TEST_F(AdapterListTest, FollowsTheAdapterWhenAnInterfaceAppearsBeforeIt) {
    table.AddRow(5, "Ethernet Adapter (eth0)", 1000000000, 1, 1);
    table.AddRow(8, "Wireless Adapter (wlan0)", 54000000, 2, 2);
    list.LoadInterfaceTable();
    // A veth with a lower index takes the selected adapter's row position.
    table.AddRow(3, "veth0", 10000000, 9, 9);
    table.SetCounters(8, 1000, 2000);
    const fb::IfCounters counters = list.ReadSelectedRow(1);
    EXPECT_EQ(counters.inOctets, 1000u);
    EXPECT_EQ(counters.outOctets, 2000u);
    EXPECT_EQ(counters.speed, 54000000u);
    EXPECT_EQ(list.Entries().size(), 2u); // the new link is not offered
}

TEST_F(AdapterListTest, FollowsTheAdapterWhenAnotherIsRemoved) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    table.RemoveRow(2);
    table.RemoveRow(1);
    table.SetCounters(4, 77, 88);
    EXPECT_EQ(list.ReadSelectedRow(1).inOctets, 77u);
}

TEST_F(AdapterListTest, VanishedAdapterKeepsItsLastValues) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    table.SetCounters(2, 500, 600);
    ASSERT_EQ(list.ReadSelectedRow(0).inOctets, 500u);
    table.RemoveRow(2);
    table.AddRow(5, "Ethernet Adapter (eth1)", 1000000000, 9999, 9999);
    // One never read since the load shows the values of the load.
    table.RemoveRow(4);
    const fb::IfCounters read = list.ReadSelectedRow(0);
    const fb::IfCounters loaded = list.ReadSelectedRow(1);
    EXPECT_EQ(std::vector<std::uint32_t>({read.inOctets, read.outOctets, read.speed}),
              std::vector<std::uint32_t>({500u, 600u, 1000000000u}));
    EXPECT_EQ(std::vector<std::uint32_t>({loaded.inOctets, loaded.outOctets, loaded.speed}),
              std::vector<std::uint32_t>({300u, 400u, 54000000u}));
}

TEST_F(AdapterListTest, FailedRefreshKeepsThePreviousValues) {
    AddTypicalRows();
    list.LoadInterfaceTable();
    table.SetCounters(2, 10, 20);
    list.ReadSelectedRow(0);
    table.SetCounters(2, 30, 40);
    table.countersFail = true;
    EXPECT_EQ(list.ReadSelectedRow(0).inOctets, 10u);
    table.countersFail = false;
    EXPECT_EQ(list.ReadSelectedRow(0).inOctets, 30u);
}

} // namespace
