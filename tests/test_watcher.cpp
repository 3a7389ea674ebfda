// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LocalAddresses.h"
#include "net/Watcher.h"

#include "fakes/FakeAddressTable.h"
#include "fakes/FakePacketSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>

using namespace fb;

namespace {

using Factory = fb::fakes::FakePacketSocketFactory;

std::uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

class WatcherTest : public testing::Test {
protected:
    void SetUp() override { Load({"127.0.0.1", "192.168.1.5"}); }

    void Load(std::initializer_list<const char*> texts) {
        fb::fakes::FakeAddressTable table;
        for (const char* text : texts)
            table.addresses.push_back(Ip(text));
        addresses.LoadLocalAddresses(table);
    }

    // What the main window does.
    void ModeOn() {
        flag = 1;
        watcher->OpenWatcherSocket(addresses);
        watcher->StartWatcher();
    }
    void ModeOff() {
        flag = 0;
        watcher->StopWatcher();
    }

    bool WaitUntilReceiving(int count = 1) {
        return sockets.WaitFor([count](const Factory& f) { return f.ReceivingLocked() == count; });
    }
    bool WaitUntilDelivered(std::uint64_t count) {
        return sockets.WaitFor([count](const Factory& f) { return f.DeliveredLocked() == count; });
    }
    // Until the watcher waits in its receive, or has ended by itself and closed the socket.
    bool WaitUntilSettled() {
        return sockets.WaitFor(
            [](const Factory& f) { return f.ReceivingLocked() == 1 || f.OpenLocked() == 0; });
    }
    bool WaitUntilNoneOpen() {
        return sockets.WaitFor([](const Factory& f) { return f.OpenLocked() == 0; });
    }

    // The invariants that hold at every moment.
    void ExpectSound() {
        EXPECT_LE(sockets.MaxReceiving(), 1) << "two watchers received at once";
        EXPECT_LE(sockets.MaxCloses(), 1) << "a socket was closed twice";
        EXPECT_LE(sockets.SocketsOpen(), 1) << "more than one socket open";
    }

    Factory sockets;
    std::atomic<std::int32_t> flag{0};
    CLocalAddresses addresses;
    std::unique_ptr<CRawWatcher> watcher = std::make_unique<CRawWatcher>(sockets, flag);
};

TEST_F(WatcherTest, OpensOnTheChosenAddressAndReceivesEveryPacket) {
    ModeOn();
    ASSERT_EQ(sockets.openedAddresses.size(), 1u);
    EXPECT_EQ(sockets.openedAddresses[0], Ip("192.168.1.5"));
    EXPECT_TRUE(watcher->IsWatcherRunning());
    EXPECT_TRUE(watcher->HasWatcherSocket());

    for (int i = 0; i < 5; ++i)
        sockets.PushPacket(60);
    ASSERT_TRUE(WaitUntilDelivered(5));
    ASSERT_TRUE(WaitUntilReceiving());
    EXPECT_EQ(watcher->PacketsReceived(), 5u);
    ModeOff();
    ExpectSound();
}

TEST_F(WatcherTest, EntryZeroWhenNoAddressQualifies) {
    Load({"0.0.0.0", "127.0.0.1"});
    ModeOn();
    ASSERT_EQ(sockets.openedAddresses.size(), 1u);
    EXPECT_EQ(sockets.openedAddresses[0], 0u);
}

TEST_F(WatcherTest, EmptyAddressListOpensNoSocketAndTheModeGoesOn) {
    Load({});
    ModeOn();
    EXPECT_TRUE(sockets.openedAddresses.empty());
    EXPECT_FALSE(watcher->HasWatcherSocket());
    EXPECT_FALSE(watcher->IsWatcherRunning());
    EXPECT_EQ(watcher->WatchersStarted(), 0u);
    ModeOff();
    ModeOn();
    EXPECT_EQ(watcher->WatchersStarted(), 0u);
}

TEST_F(WatcherTest, RefusedSocketStartsNoWatcher) {
    sockets.failOpen = true;
    ModeOn();
    EXPECT_EQ(sockets.openedAddresses.size(), 1u);
    EXPECT_FALSE(watcher->HasWatcherSocket());
    EXPECT_FALSE(watcher->IsWatcherRunning());
    watcher->StartWatcher(); // a resume
    EXPECT_EQ(watcher->WatchersStarted(), 0u);
    ModeOff();
}

TEST_F(WatcherTest, SwitchingOffIsPromptWithoutAnyPacket) {
    ModeOn();
    ASSERT_TRUE(WaitUntilReceiving());
    ModeOff(); // returns only once the watcher has been joined
    EXPECT_FALSE(watcher->IsWatcherRunning());
    EXPECT_FALSE(watcher->HasWatcherSocket());
    EXPECT_EQ(watcher->LastExit(), CRawWatcher::Exit::ModeOff);
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    EXPECT_EQ(sockets.State(0).closes, 1);
    EXPECT_EQ(watcher->PacketsReceived(), 0u);
}

TEST_F(WatcherTest, FlagReadBeforeEachReceiveEndsTheWatcherAfterTheNextPacket) {
    ModeOn();
    ASSERT_TRUE(WaitUntilReceiving());
    flag = 0; // without a stop: the watcher notices at its next packet
    sockets.PushPacket(40);
    ASSERT_TRUE(WaitUntilNoneOpen());
    watcher->StopWatcher();
    EXPECT_EQ(watcher->LastExit(), CRawWatcher::Exit::ModeOff);
    EXPECT_EQ(watcher->PacketsReceived(), 1u);
    EXPECT_EQ(sockets.State(0).closes, 1);
}

TEST_F(WatcherTest, PacketLongerThanTheBufferEndsTheWatcher) {
    ModeOn();
    sockets.PushPacket(CRawWatcher::kReceiveBufferSize); // fits exactly
    ASSERT_TRUE(WaitUntilDelivered(1));
    sockets.PushPacket(CRawWatcher::kReceiveBufferSize + 1);
    ASSERT_TRUE(WaitUntilNoneOpen());
    EXPECT_EQ(watcher->LastExit(), CRawWatcher::Exit::Failed);
    watcher->StopWatcher();  // a suspension joins the ended watcher
    watcher->StartWatcher(); // and the resume finds no socket: nothing starts
    EXPECT_FALSE(watcher->IsWatcherRunning());
    EXPECT_EQ(watcher->WatchersStarted(), 1u);
    EXPECT_EQ(watcher->PacketsReceived(), 1u);
    EXPECT_EQ(sockets.State(0).failures, 1u);
    EXPECT_EQ(sockets.State(0).closes, 1);
}

TEST_F(WatcherTest, AfterAFailedReceiveOnlySwitchingOffAndOnBringsTheWatcherBack) {
    ModeOn();
    sockets.PushFailure();
    ASSERT_TRUE(WaitUntilNoneOpen());
    // Suspend and resume: the mode goes on without a watcher.
    watcher->StopWatcher();
    watcher->StartWatcher();
    EXPECT_FALSE(watcher->IsWatcherRunning());
    EXPECT_EQ(watcher->WatchersStarted(), 1u);
    EXPECT_EQ(sockets.SocketsOpened(), 1);

    ModeOff();
    ModeOn();
    EXPECT_TRUE(watcher->IsWatcherRunning());
    EXPECT_EQ(sockets.SocketsOpened(), 2);
    sockets.PushPacket(100);
    ASSERT_TRUE(WaitUntilDelivered(1));
    ModeOff();
    ExpectSound();
    EXPECT_EQ(sockets.SocketsOpen(), 0);
}

TEST_F(WatcherTest, SuspensionStopsTheWatcherAndKeepsTheSocketForTheResume) {
    ModeOn();
    ASSERT_TRUE(WaitUntilReceiving());
    watcher->StopWatcher(); // suspended: the flag stays 1
    EXPECT_FALSE(watcher->IsWatcherRunning());
    EXPECT_TRUE(watcher->HasWatcherSocket());
    EXPECT_EQ(watcher->LastExit(), CRawWatcher::Exit::Stopped);
    EXPECT_EQ(sockets.SocketsOpen(), 1);

    // A packet queued meanwhile is received after the resume, on the same socket.
    sockets.PushPacket(64);
    watcher->StartWatcher();
    EXPECT_TRUE(watcher->IsWatcherRunning());
    ASSERT_TRUE(WaitUntilDelivered(1));
    EXPECT_EQ(sockets.SocketsOpened(), 1);
    EXPECT_EQ(watcher->WatchersStarted(), 2u);

    // Switching off while suspended closes the socket.
    watcher->StopWatcher();
    flag = 0;
    watcher->StopWatcher();
    EXPECT_FALSE(watcher->HasWatcherSocket());
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    ExpectSound();
}

TEST_F(WatcherTest, ResumeWhileAWatcherRunsStartsNoSecond) {
    ModeOn();
    ASSERT_TRUE(WaitUntilReceiving());
    watcher->StartWatcher();
    watcher->StartWatcher();
    EXPECT_EQ(watcher->WatchersStarted(), 1u);
    sockets.PushPacket(64);
    ASSERT_TRUE(WaitUntilDelivered(1));
    ASSERT_TRUE(WaitUntilReceiving());
    ExpectSound();
}

TEST_F(WatcherTest, OffAndOnBeforeTheWatcherSawAPacketLeavesOneWatcherOnOneSocket) {
    ModeOn();
    ASSERT_TRUE(WaitUntilReceiving());
    flag = 0; // the main window forgot the stop: switching on again still holds one watcher
    ModeOn();
    ASSERT_TRUE(WaitUntilReceiving());
    EXPECT_EQ(sockets.SocketsOpened(), 2);
    EXPECT_EQ(sockets.State(0).closes, 1);
    EXPECT_EQ(sockets.State(1).closes, 0);
    EXPECT_EQ(watcher->WatchersStarted(), 2u);
    ExpectSound();
}

TEST_F(WatcherTest, StartWithTheModeOffClosesTheSocketInstead) {
    ModeOn();
    watcher->StopWatcher(); // suspended
    flag = 0;
    watcher->StartWatcher();
    EXPECT_FALSE(watcher->IsWatcherRunning());
    EXPECT_FALSE(watcher->HasWatcherSocket());
    EXPECT_EQ(watcher->WatchersStarted(), 1u);
    EXPECT_EQ(sockets.State(0).closes, 1);
}

TEST_F(WatcherTest, QuittingWhileAWatcherWaitsEndsCleanly) {
    for (const std::int32_t mode : {1, 0}) {
        SCOPED_TRACE(mode);
        Factory local;
        std::atomic<std::int32_t> localFlag{1};
        {
            CRawWatcher quitting(local, localFlag);
            quitting.OpenWatcherSocket(addresses);
            quitting.StartWatcher();
            ASSERT_TRUE(local.WaitFor([](const Factory& f) { return f.ReceivingLocked() == 1; }));
            localFlag = mode;
        } // the destructor wakes and joins
        EXPECT_EQ(local.SocketsOpen(), 0);
        EXPECT_EQ(local.MaxCloses(), 1);
        EXPECT_EQ(local.Receiving(), 0);
    }
}

TEST_F(WatcherTest, ThousandQuickTogglesNeverOverlap) {
    for (int i = 0; i < 1000; ++i) {
        ModeOn();
        if (i % 3 == 0) { // sometimes the stop finds it in its receive
            ASSERT_TRUE(WaitUntilReceiving());
        }
        if (i % 7 == 0)
            sockets.PushPacket(80);
        ModeOff();
        ASSERT_FALSE(watcher->IsWatcherRunning());
        ASSERT_FALSE(watcher->HasWatcherSocket());
    }
    ExpectSound();
    EXPECT_EQ(sockets.SocketsOpened(), 1000);
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    EXPECT_EQ(sockets.MaxCloses(), 1);
    EXPECT_EQ(watcher->WatchersStarted(), 1000u);
}

TEST_F(WatcherTest, ThousandSuspendResumeCyclesKeepOneSocket) {
    ModeOn();
    for (int i = 0; i < 1000; ++i) {
        if (i % 5 == 0)
            sockets.PushPacket(80);
        if (i % 3 == 0) {
            ASSERT_TRUE(WaitUntilReceiving());
        }
        watcher->StopWatcher();
        ASSERT_FALSE(watcher->IsWatcherRunning());
        watcher->StartWatcher();
        watcher->StartWatcher(); // a second resume changes nothing
    }
    ExpectSound();
    EXPECT_EQ(sockets.SocketsOpened(), 1);
    EXPECT_EQ(sockets.SocketsOpen(), 1);
    EXPECT_EQ(watcher->WatchersStarted(), 1001u);
    ModeOff();
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    EXPECT_EQ(sockets.MaxCloses(), 1);
}

TEST_F(WatcherTest, RandomSequencesOfTheMainWindowsCallsStaySound) {
    std::mt19937 random(20240611);
    for (int step = 0; step < 2000; ++step) {
        switch (random() % 8) {
        case 0: // button 1001
            if (flag == 0)
                ModeOn();
            else
                ModeOff();
            break;
        case 1: // suspend
            watcher->StopWatcher();
            EXPECT_FALSE(watcher->IsWatcherRunning());
            break;
        case 2: // resume
            if (flag == 1)
                watcher->StartWatcher();
            break;
        case 3:
        case 4:
            sockets.PushPacket(random() % 1700);
            break;
        case 5:
            if (random() % 10 == 0)
                sockets.PushFailure();
            break;
        case 6: // a quick off and on without a stop between
            flag = 0;
            ModeOn();
            break;
        default:
            if (watcher->IsWatcherRunning()) {
                EXPECT_TRUE(WaitUntilSettled());
            }
            break;
        }
        if (flag == 0) {
            ASSERT_FALSE(watcher->HasWatcherSocket());
            ASSERT_FALSE(watcher->IsWatcherRunning());
        }
        ExpectSound();
        if (HasFailure())
            break;
    }
    watcher.reset();
    EXPECT_EQ(sockets.SocketsOpen(), 0);
    EXPECT_EQ(sockets.Receiving(), 0);
    ExpectSound();
}

} // namespace
