// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/NetlinkInterfaceTable.h"
#include "platform/linux/network/UdevDatabase.h"

#include "net/AdapterList.h"
#include "support/TestSupport.h"
#include "test_netlink_namespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <vector>

using namespace fb;

// Counts the allocations made while `g_counting` is set, to show that refreshes allocate nothing.
namespace {
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using fb::linux_impl::NetlinkInterfaceTable;
using fb::linux_impl::UniqueFd;
using fb::testing::NetnsScope;
using fb::testing::RunProgram;
using fb::testing::TestNetns;
using namespace fb::testing_support;

namespace {

// ---------------------------------------------------------------------------------------------
// Descriptions and speeds

TEST(NetlinkDescription, LoopbackIsNamedSoTheListLeavesItOut) {
    const std::string text =
        NetlinkInterfaceTable::Describe("lo", ARPHRD_LOOPBACK, IFF_LOOPBACK, "");
    EXPECT_EQ(text, "Loopback (lo)");
    EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText(text, 0)));
    EXPECT_EQ(NetlinkInterfaceTable::Describe("lo", ARPHRD_ETHER, IFF_LOOPBACK, "Model"),
              "Loopback (lo)");
}

TEST(NetlinkDescription, PointToPointAndTunnelLinksStartWithWan) {
    for (const int type : {ARPHRD_PPP, ARPHRD_SIT, ARPHRD_TUNNEL, ARPHRD_TUNNEL6, ARPHRD_IPGRE,
                           823 /* ARPHRD_IP6GRE */}) {
        const std::string text =
            NetlinkInterfaceTable::Describe("t0", static_cast<unsigned>(type), 0, "");
        EXPECT_EQ(text, "WAN t0") << type;
        EXPECT_FALSE(CAdapterList::IsListed(CAdapterList::EntryText(text, 0)));
    }
    // TUN in point-to-point mode, wireguard.
    EXPECT_EQ(NetlinkInterfaceTable::Describe("wg0", ARPHRD_NONE, IFF_POINTOPOINT, ""), "WAN wg0");
    // A tun link without point-to-point is an ordinary link.
    EXPECT_EQ(NetlinkInterfaceTable::Describe("tun1", ARPHRD_NONE, 0, ""), "tun1");
}

TEST(NetlinkDescription, HardwareModelWithTheNameElseTheName) {
    EXPECT_EQ(NetlinkInterfaceTable::Describe("eth0", ARPHRD_ETHER, 0, ""), "eth0");
    EXPECT_EQ(NetlinkInterfaceTable::Describe("eth0", ARPHRD_ETHER, 0, "82540EM Gigabit"),
              "82540EM Gigabit (eth0)");
}

TEST(NetlinkDescription, LongModelIsShortenedSoTheNameStaysVisible) {
    const std::string text = NetlinkInterfaceTable::Describe(
        "enp0s31f6", ARPHRD_ETHER, 0, "Ethernet Connection (2) I219-LM Gigabit Network");
    EXPECT_EQ(text, "Ethernet Connection (2) (enp0s31f6)");
    const std::string entry = CAdapterList::EntryText(text, 0);
    EXPECT_NE(entry.find("(enp0s31f6)"), std::string::npos) << entry;
}

TEST(NetlinkDescription, ModelCutMidWordWhenNoBlankIsNear) {
    const std::string text = NetlinkInterfaceTable::Describe(
        "eth0", ARPHRD_ETHER, 0, "VeryLongModelNameWithoutAnyBlanksInIt");
    EXPECT_EQ(text, "VeryLongModelNameWithoutAnyBlan (eth0)");
    EXPECT_EQ(text.size(), 38u);
}

// A link on a PCI card (eth7, index 7), one on a virtio device of another PCI device (eth9,
// index 9), in a sysfs and udev database of the test's own.
class UdevModelTest : public ::testing::Test {
protected:
    TempDir dir{"udev"};
    std::filesystem::path sys = dir.Path() / "sys";
    std::filesystem::path data = dir.Path() / "data";

    void SetUp() override {
        WriteFile(sys / "class" / "net" / "eth7" / "ifindex", "7\n");
        const auto virtio = sys / "devices" / "pci0000:00" / "0000:00:04.0" / "virtio3";
        WriteFile(virtio / "uevent", "DRIVER=virtio_net\n");
        WriteFile(virtio.parent_path() / "uevent", "DRIVER=virtio-pci\n");
        std::filesystem::create_directories(sys / "bus" / "pci");
        std::filesystem::create_directories(sys / "bus" / "virtio");
        std::filesystem::create_directory_symlink(sys / "bus" / "virtio", virtio / "subsystem");
        std::filesystem::create_directory_symlink(sys / "bus" / "pci",
                                                  virtio.parent_path() / "subsystem");
        WriteFile(sys / "class" / "net" / "eth9" / "ifindex", "9\n");
        std::filesystem::create_directory_symlink(virtio,
                                                  sys / "class" / "net" / "eth9" / "device");
        std::filesystem::create_directories(data);
    }

    std::string Described(const std::string& name, std::uint32_t index, const std::string& bus,
                          const std::string& device) const {
        fb::linux_impl::UdevLink link;
        link.udevData = data.string();
        link.sysClassNet = (sys / "class" / "net").string();
        link.name = name;
        link.index = index;
        link.parentBus = bus;
        link.parentName = device;
        return NetlinkInterfaceTable::Describe(name, ARPHRD_ETHER, 0,
                                               fb::linux_impl::UdevHardwareModel(link));
    }
};

TEST_F(UdevModelTest, DescriptionIsTheModelInUdevDatabaseOfTheLinkOrTheDevicesItSitsOn) {
    EXPECT_EQ(Described("eth7", 7, "pci", "0000:00:03.0"), "eth7"); // nothing known yet
    WriteFile(data / "+pci:0000:00:03.0", "I:1700000000\nE:ID_MODEL_FROM_DATABASE=PRO/1000 MT\n");
    EXPECT_EQ(Described("eth7", 7, "pci", "0000:00:03.0"), "PRO/1000 MT (eth7)");
    WriteFile(data / "n7", "I:1700000000\nE:ID_NET_NAME_PATH=enp0s3\n"
                           "E:ID_MODEL_FROM_DATABASE=82540EM Gigabit Ethernet\n"
                           "G:systemd\n");
    EXPECT_EQ(Described("eth7", 7, "pci", "0000:00:03.0"), "82540EM Gigabit Ethernet (eth7)");
    // A link of another namespace with that index and name: not the link's entry, its device's.
    EXPECT_EQ(Described("eth7", 8, "pci", "0000:00:03.0"), "PRO/1000 MT (eth7)");

    // The virtio device knows no model; the PCI device above it, found through sysfs, does.
    EXPECT_EQ(Described("eth9", 9, "virtio", "virtio3"), "eth9");
    WriteFile(data / "+pci:0000:00:04.0", "E:ID_MODEL_FROM_DATABASE=Virtio network device\n");
    EXPECT_EQ(Described("eth9", 9, "virtio", "virtio3"), "Virtio network device (eth9)");
    EXPECT_EQ(Described("eth9", 9, "", ""), "Virtio network device (eth9)");
}

std::uint32_t Speed(const char* text) {
    return NetlinkInterfaceTable::SpeedFromText(text, std::strlen(text));
}

TEST(NetlinkSpeed, MegabitsBecomeBitsClampedTo32BitsAndUnknownSpeedsZero) {
    struct Case {
        const char* text;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {"100\n", 100000000u},
        {"1000\n", 1000000000u},
        {"4294\n", 4294000000u},
        {"4295\n", 0xFFFFFFFFu},
        {"10000\n", 0xFFFFFFFFu},
        {"99999999999999999999999\n", 0xFFFFFFFFu},
        {"0\n", 0u},
        // Unknown speeds.
        {"-1\n", 0u},
        {"", 0u},
        {"\n", 0u},
        {"Unknown!\n", 0u},
        {"100x\n", 0u},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Speed(c.text), c.bits) << '"' << c.text << '"';
}

// ---------------------------------------------------------------------------------------------
// The real table, in network namespaces of the test's own

sockaddr_in Address(const char* ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

UniqueFd DatagramSocketIn(const TestNetns& where) {
    NetnsScope in(where);
    return UniqueFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

constexpr std::uint32_t kLinkIndex = 50; // fbva0

class NetlinkTableTest : public ::testing::Test {
protected:
    std::unique_ptr<TestNetns> ns;   // where the table looks
    std::unique_ptr<TestNetns> peer; // the other end of the veth pair

    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to make network namespaces";
        }
        ns = TestNetns::Create();
        peer = TestNetns::Create();
        if (!ns || !peer) {
            GTEST_SKIP() << "network namespaces cannot be made here";
        }
        NetnsScope in(*ns);
        ASSERT_TRUE(in.Entered());
        ASSERT_EQ(Ip({"link", "add", "fbva0", "index", "50", "type", "veth", "peer", "name",
                      "fbvb0", "netns", peer->Path()}),
                  0)
            << "ip link add veth";
        ASSERT_EQ(Ip({"addr", "add", "10.231.0.1/24", "dev", "fbva0"}), 0);
        ASSERT_EQ(Ip({"link", "set", "fbva0", "up"}), 0);
        ASSERT_EQ(Ip({"link", "set", "lo", "up"}), 0);
        NetnsScope other(*peer);
        ASSERT_EQ(Ip({"addr", "add", "10.231.0.2/24", "dev", "fbvb0"}), 0);
        ASSERT_EQ(Ip({"link", "set", "fbvb0", "up"}), 0);
    }

    static int Ip(std::vector<std::string> args) {
        args.insert(args.begin(), "ip");
        return RunProgram(args);
    }

    // Runs `ip` inside the table's namespace.
    int IpIn(std::vector<std::string> args) {
        NetnsScope in(*ns);
        return Ip(std::move(args));
    }

    std::unique_ptr<NetlinkInterfaceTable> MakeTable(NetlinkInterfaceTable::Options options = {}) {
        NetnsScope in(*ns);
        return std::make_unique<NetlinkInterfaceTable>(options);
    }

    // Sends `count` datagrams of `size` bytes across the veth pair and has each one echoed.
    // Returns how many came back.
    int Exchange(int count, std::size_t size) {
        const UniqueFd near = DatagramSocketIn(*ns);
        const UniqueFd far = DatagramSocketIn(*peer);
        const sockaddr_in nearAddress = Address("10.231.0.1", 40001);
        const sockaddr_in farAddress = Address("10.231.0.2", 40002);
        if (bind(near.Get(), reinterpret_cast<const sockaddr*>(&nearAddress), sizeof nearAddress) !=
                0 ||
            bind(far.Get(), reinterpret_cast<const sockaddr*>(&farAddress), sizeof farAddress) !=
                0) {
            return 0;
        }
        std::vector<char> data(size, 'x');
        for (int i = 0; i < count; ++i) {
            sendto(near.Get(), data.data(), data.size(), 0,
                   reinterpret_cast<const sockaddr*>(&farAddress), sizeof farAddress);
        }
        for (int i = 0; i < count; ++i) {
            pollfd p{far.Get(), POLLIN, 0};
            if (poll(&p, 1, 3000) != 1) {
                return 0;
            }
            const ssize_t n = recv(far.Get(), data.data(), data.size(), 0);
            sendto(far.Get(), data.data(), static_cast<std::size_t>(n), 0,
                   reinterpret_cast<const sockaddr*>(&nearAddress), sizeof nearAddress);
        }
        int back = 0;
        for (int i = 0; i < count; ++i) {
            pollfd p{near.Get(), POLLIN, 0};
            if (poll(&p, 1, 3000) != 1) {
                break;
            }
            if (recv(near.Get(), data.data(), data.size(), 0) == static_cast<ssize_t>(size)) {
                ++back;
            }
        }
        return back;
    }
};

const fb::IfRow* FindRow(const std::vector<fb::IfRow>& rows, std::uint32_t index) {
    for (const fb::IfRow& row : rows) {
        if (row.index == index) {
            return &row;
        }
    }
    return nullptr;
}

TEST_F(NetlinkTableTest, ListsLinksInIndexOrderWithDescriptions) {
    ASSERT_EQ(IpIn({"link", "add", "fbvy0", "index", "70", "type", "veth", "peer", "name", "fbvy1",
                    "index", "60"}),
              0);
    const bool haveTun = IpIn({"tuntap", "add", "mode", "tun", "name", "fbtun0"}) == 0;
    auto table = MakeTable();
    ASSERT_TRUE(table->Available());
    std::vector<fb::IfRow> rows;
    ASSERT_TRUE(table->ReadTable(rows));
    ASSERT_GE(rows.size(), 4u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_LT(rows[i - 1].index, rows[i].index);
    }
    ASSERT_NE(FindRow(rows, 1), nullptr);
    EXPECT_NE(FindRow(rows, 1)->description.find("Loopback"), std::string::npos);
    ASSERT_NE(FindRow(rows, kLinkIndex), nullptr);
    EXPECT_EQ(FindRow(rows, kLinkIndex)->description, "fbva0");
    ASSERT_NE(FindRow(rows, 60), nullptr);
    EXPECT_EQ(FindRow(rows, 60)->description, "fbvy1");

    CAdapterList list(*table);
    ASSERT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::Loaded);
    ASSERT_EQ(list.Entries().size(), 3u); // not lo, not the tunnel
    EXPECT_EQ(list.Entries()[0], " fbva0 0 Mb");
    EXPECT_EQ(list.Entries()[1], " fbvy1 0 Mb");
    EXPECT_EQ(list.Entries()[2], " fbvy0 0 Mb");
    if (haveTun) {
        bool found = false;
        for (const fb::IfRow& row : rows) {
            found |= row.description == "WAN fbtun0";
        }
        EXPECT_TRUE(found);
    }
}

TEST_F(NetlinkTableTest, CountersMoveWithTrafficAcrossThePair) {
    auto table = MakeTable();
    fb::IfCounters before;
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, before));
    constexpr int kCount = 20;
    constexpr std::size_t kSize = 1200;
    ASSERT_EQ(Exchange(kCount, kSize), kCount);
    fb::IfCounters after;
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, after));
    // 32-bit counters: differences are taken modulo 2^32.
    const std::uint32_t sent = after.outOctets - before.outOctets;
    const std::uint32_t received = after.inOctets - before.inOctets;
    EXPECT_GE(sent, kCount * kSize);
    EXPECT_GE(received, kCount * kSize);
    EXPECT_LT(sent, kCount * (kSize + 200) + 4096);

    std::vector<fb::IfRow> rows;
    ASSERT_TRUE(table->ReadTable(rows));
    ASSERT_NE(FindRow(rows, kLinkIndex), nullptr);
    EXPECT_EQ(FindRow(rows, kLinkIndex)->outOctets, after.outOctets);
}

// Once the table is read the counters come from the statistics alone; without it (or with them
// switched off) from the whole link. Both give the same numbers, and both lose a vanished link.
TEST_F(NetlinkTableTest, StatisticsAloneAndTheWholeLinkGiveTheSameCounters) {
    NetlinkInterfaceTable::Options wholeLink;
    wholeLink.statisticsRequests = false;
    auto statistics = MakeTable();
    auto full = MakeTable(wholeLink);
    std::vector<fb::IfRow> rows;
    ASSERT_TRUE(statistics->ReadTable(rows));
    ASSERT_TRUE(full->ReadTable(rows));
    ASSERT_EQ(Exchange(15, 900), 15);
    for (const std::uint32_t index : {1u, kLinkIndex}) {
        fb::IfCounters a;
        fb::IfCounters b;
        ASSERT_TRUE(statistics->ReadCounters(index, a));
        ASSERT_TRUE(full->ReadCounters(index, b));
        EXPECT_EQ(a.inOctets, b.inOctets) << index;
        EXPECT_EQ(a.outOctets, b.outOctets) << index;
        EXPECT_EQ(a.speed, b.speed) << index;
    }
    fb::IfCounters moved;
    ASSERT_TRUE(statistics->ReadCounters(kLinkIndex, moved));
    EXPECT_GE(moved.outOctets, 15u * 900u);

    ASSERT_EQ(IpIn({"link", "del", "fbva0"}), 0);
    fb::IfCounters unchanged{1, 2, 3};
    EXPECT_FALSE(statistics->ReadCounters(kLinkIndex, unchanged));
    EXPECT_FALSE(full->ReadCounters(kLinkIndex, unchanged));
    EXPECT_EQ(unchanged.inOctets, 2u);
    fb::IfCounters loopback;
    EXPECT_TRUE(statistics->ReadCounters(1, loopback)); // and goes on with the others
}

TEST_F(NetlinkTableTest, SelectedAdapterIsFollowedAcrossAnInsertedLink) {
    auto table = MakeTable();
    CAdapterList list(*table);
    ASSERT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::Loaded);
    ASSERT_EQ(list.Entries(), std::vector<std::string>{" fbva0 0 Mb"});
    // A new link with a lower index than the selected one.
    ASSERT_EQ(IpIn({"link", "add", "fbvc0", "index", "20", "type", "veth", "peer", "name", "fbvd0",
                    "index", "21"}),
              0);
    const fb::IfCounters before = list.ReadSelectedRow(0);
    ASSERT_EQ(Exchange(10, 1000), 10);
    const fb::IfCounters after = list.ReadSelectedRow(0);
    EXPECT_GE(after.outOctets - before.outOctets, 10u * 1000u);
}

TEST_F(NetlinkTableTest, VanishedLinkCannotBeReadAndLeavesCountersAlone) {
    auto table = MakeTable();
    fb::IfCounters counters;
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, counters));
    ASSERT_EQ(IpIn({"link", "del", "fbva0"}), 0);
    fb::IfCounters unchanged{1, 2, 3};
    EXPECT_FALSE(table->ReadCounters(kLinkIndex, unchanged));
    EXPECT_EQ(unchanged.speed, 1u);
    EXPECT_EQ(unchanged.inOctets, 2u);
    EXPECT_EQ(unchanged.outOctets, 3u);
    // The table still answers for the links that remain.
    EXPECT_TRUE(table->ReadCounters(1, counters));
}

TEST_F(NetlinkTableTest, RefreshAllocatesNothing) {
    auto table = MakeTable();
    CAdapterList list(*table);
    ASSERT_EQ(list.LoadInterfaceTable(), CAdapterList::LoadResult::Loaded);
    list.ReadSelectedRow(0); // opens the speed file once
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < 100; ++i) {
        list.ReadSelectedRow(0);
    }
    fb::IfCounters counters;
    const bool gone = table->ReadCounters(9999, counters);
    g_counting = false;
    EXPECT_FALSE(gone);
    EXPECT_EQ(g_allocations.load(), 0);
}

TEST_F(NetlinkTableTest, UnknownIndexesAreNotRead) {
    auto table = MakeTable();
    fb::IfCounters counters;
    EXPECT_FALSE(table->ReadCounters(0, counters));
    EXPECT_FALSE(table->ReadCounters(9999, counters));
    EXPECT_FALSE(table->ReadCounters(0xFFFFFFFFu, counters));
    EXPECT_TRUE(table->ReadCounters(kLinkIndex, counters));
}

TEST_F(NetlinkTableTest, SpeedComesFromSysfsOfTheSameLink) {
    TempDir dir("netlink");
    ASSERT_FALSE(dir.Path().empty());
    WriteFile(dir.Path() / "fbva0" / "ifindex", "50\n");
    WriteFile(dir.Path() / "fbva0" / "speed", "10000\n");
    NetlinkInterfaceTable::Options options;
    options.sysClassNet = dir.Path().string();
    options.useHardwareDatabase = false;
    auto table = MakeTable(options);

    std::vector<fb::IfRow> rows;
    ASSERT_TRUE(table->ReadTable(rows));
    ASSERT_NE(FindRow(rows, kLinkIndex), nullptr);
    EXPECT_EQ(FindRow(rows, kLinkIndex)->speed, 0xFFFFFFFFu);
    EXPECT_EQ(FindRow(rows, 1)->speed, 0u); // no speed file for lo

    fb::IfCounters counters;
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, counters));
    EXPECT_EQ(counters.speed, 0xFFFFFFFFu);
    // The kept-open file is read again each time.
    WriteFile(dir.Path() / "fbva0" / "speed", "100\n");
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, counters));
    EXPECT_EQ(counters.speed, 100000000u);
    WriteFile(dir.Path() / "fbva0" / "speed", "-1\n");
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, counters));
    EXPECT_EQ(counters.speed, 0u);
}

TEST_F(NetlinkTableTest, ModelIsLookedUpOnlyForLinksWithADevice) {
    ASSERT_EQ(IpIn({"link", "add", "fbvy0", "index", "70", "type", "veth", "peer", "name", "fbvy1",
                    "index", "60"}),
              0);
    TempDir dir("netlink");
    ASSERT_FALSE(dir.Path().empty());
    // sysfs claims devices behind fbva0, fbvy0 and lo; the kernel knows these links are virtual.
    WriteFile(dir.Path() / "fbva0" / "ifindex", "50\n");
    std::filesystem::create_directories(dir.Path() / "fbva0" / "device");
    WriteFile(dir.Path() / "fbvy1" / "ifindex", "60\n");
    WriteFile(dir.Path() / "fbvy0" / "ifindex", "70\n");
    std::filesystem::create_directories(dir.Path() / "fbvy0" / "device");
    WriteFile(dir.Path() / "lo" / "ifindex", "1\n");
    std::filesystem::create_directories(dir.Path() / "lo" / "device");

    std::vector<std::string> asked;
    NetlinkInterfaceTable::Options options;
    options.sysClassNet = dir.Path().string();
    options.hardwareModel = [&asked](const std::string& name) {
        asked.push_back(name);
        return std::string("Test Ethernet Controller");
    };
    auto table = MakeTable(options);
    std::vector<fb::IfRow> rows;
    ASSERT_TRUE(table->ReadTable(rows));
    EXPECT_TRUE(asked.empty());
    ASSERT_NE(FindRow(rows, kLinkIndex), nullptr);
    EXPECT_EQ(FindRow(rows, kLinkIndex)->description, "fbva0");
    EXPECT_EQ(FindRow(rows, kLinkIndex)->speed, 0xFFFFFFFFu); // a veth link that is up: 10 Gb/s
    ASSERT_NE(FindRow(rows, 60), nullptr);
    EXPECT_EQ(FindRow(rows, 60)->description, "fbvy1");
    EXPECT_EQ(FindRow(rows, 60)->speed, 0u); // down
    ASSERT_NE(FindRow(rows, 1), nullptr);
    EXPECT_EQ(FindRow(rows, 1)->description, "Loopback (lo)");
    EXPECT_EQ(FindRow(rows, 1)->speed, 0u); // never listed, never read
}

TEST_F(NetlinkTableTest, SysfsEntryOfAnotherLinkWithTheSameNameIsNotTrusted) {
    TempDir dir("netlink");
    WriteFile(dir.Path() / "fbva0" / "ifindex", "7\n");
    WriteFile(dir.Path() / "fbva0" / "speed", "100\n");
    NetlinkInterfaceTable::Options options;
    options.sysClassNet = dir.Path().string();
    auto table = MakeTable(options);
    fb::IfCounters counters;
    ASSERT_TRUE(table->ReadCounters(kLinkIndex, counters));
    EXPECT_EQ(counters.speed, 0u);
}

} // namespace
