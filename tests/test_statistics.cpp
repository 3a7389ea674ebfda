// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Statistics.h"

#include "fakes/FakeConnectionState.h"

#include <gtest/gtest.h>

using namespace fb;
using fb::fakes::FakeConnectionState;

namespace {

TEST(Duration, StartsAtZeroWithTwoCharacterFields) {
    EXPECT_EQ(CDuration{}.Text(), "  0 hrs :  0 mins :  0 secs");
    CDuration duration;
    EXPECT_EQ(duration.Tick(), "  0 hrs :  0 mins :  1 secs");
}

TEST(Duration, SixtiethSecondShowsZeroWithTheMinuteAdvanced) {
    CDuration duration{0, 0, 58};
    EXPECT_EQ(duration.Tick(), "  0 hrs :  0 mins : 59 secs");
    EXPECT_EQ(duration.Tick(), "  0 hrs :  1 mins :  0 secs");
    EXPECT_EQ(duration.minutes, 1);
    EXPECT_EQ(duration.seconds, 0);
}

TEST(Duration, SixtiethMinuteShowsZeroWithTheHourAdvanced) {
    CDuration duration{0, 59, 59};
    EXPECT_EQ(duration.Tick(), "  1 hrs :  0 mins :  0 secs");
    EXPECT_EQ(duration.hours, 1);
    EXPECT_EQ(duration.minutes, 0);
}

TEST(Duration, After3725TicksShowsOneHourTwoMinutesFiveSeconds) {
    CDuration duration;
    std::string text;
    for (int i = 0; i < 3725; ++i) {
        text = duration.Tick();
    }
    EXPECT_EQ(text, "  1 hrs :  2 mins :  5 secs");
}

TEST(Duration, HoursGoPast99AndWidenTheText) {
    CDuration duration{99, 59, 59};
    const std::string before = duration.Text();
    const std::string after = duration.Tick();
    EXPECT_EQ(before, " 99 hrs : 59 mins : 59 secs");
    EXPECT_EQ(after, " 100 hrs :  0 mins :  0 secs");
    EXPECT_EQ(after.size(), before.size() + 1);
}

TEST(Duration, VeryLongRunsStillFormatWholly) {
    CDuration duration{2147483647, 0, 0};
    EXPECT_EQ(duration.Text(), " 2147483647 hrs :  0 mins :  0 secs");
}

class StatisticsTextsTest : public ::testing::Test {
protected:
    FakeConnectionState connection;
    StatisticsTexts texts;
    fb::IfCounters counters;
};

TEST_F(StatisticsTextsTest, CountersAreUnsignedBetweenBlanks) {
    counters.outOctets = 123456;
    counters.inOctets = 3000000000u;
    ASSERT_TRUE(texts.Update(counters, connection));
    EXPECT_EQ(texts.sent, " 123456 ");
    EXPECT_EQ(texts.received, " 3000000000 ");
    counters.inOctets = 0xFFFFFFFFu;
    counters.outOctets = 0;
    texts.Update(counters, connection);
    EXPECT_EQ(texts.received, " 4294967295 ");
    EXPECT_EQ(texts.sent, " 0 ");
}

TEST_F(StatisticsTextsTest, TypeWordsFollowTheFlagsInFixedOrder) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {fb::kConnectionLan, " LAN "},
        {fb::kConnectionModem, " Modem "},
        {fb::kConnectionLan | fb::kConnectionProxy, " LAN  Proxy "},
        {0x27, " LAN  Modem  Offline  Proxy "},
        {0x10 | 0x40, ""},
        {0, ""},
    };
    for (const auto& [flags, words] : cases) {
        connection.flags = flags;
        texts.Update(counters, connection);
        EXPECT_EQ(texts.type, words) << flags;
    }
}

TEST_F(StatisticsTextsTest, ConnectedSetsTypeAndStatus) {
    connection.flags = fb::kConnectionLan | fb::kConnectionProxy;
    texts.Update(counters, connection);
    EXPECT_EQ(texts.type, " LAN  Proxy ");
    EXPECT_EQ(texts.status, " Connected");
    EXPECT_EQ(connection.calls, 1);
}

TEST_F(StatisticsTextsTest, ConnectedReplacesTheWholeTypeText) {
    connection.flags = fb::kConnectionLan | fb::kConnectionProxy;
    texts.Update(counters, connection);
    connection.flags = fb::kConnectionModem;
    texts.Update(counters, connection);
    EXPECT_EQ(texts.type, " Modem ");
}

TEST_F(StatisticsTextsTest, NotConnectedShowsNaAndKeepsTheTypeText) {
    connection.flags = fb::kConnectionLan;
    texts.Update(counters, connection);
    connection.connected = false;
    connection.flags = fb::kConnectionOffline;
    counters.outOctets = 5;
    texts.Update(counters, connection);
    EXPECT_EQ(texts.status, "N/A");
    EXPECT_EQ(texts.type, " LAN ");
    EXPECT_EQ(texts.sent, " 5 ");
}

TEST_F(StatisticsTextsTest, NotConnectedAtStartLeavesTheTypeTextEmpty) {
    connection.connected = false;
    texts.Update(counters, connection);
    EXPECT_EQ(texts.type, "");
    EXPECT_EQ(texts.status, "N/A");
}

} // namespace
