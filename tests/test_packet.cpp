// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/LocalAddresses.h"
#include "net/Watcher.h"
#include "platform/linux/network/AddressTable.h"
#include "platform/linux/network/PacketSocket.h"

#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace fb;

extern char** environ;

namespace {

using fb::IPacketSocket;
using fb::linux_impl::UniqueFd;
using fb::testing_support::RunProgram;
using namespace std::chrono_literals;

std::uint32_t Ip(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return address.s_addr;
}

// Two network namespaces of this test, joined by a veth pair: va 10.77.0.1/24 in the first,
// vb 10.77.0.2/24 in the second, loopback up in both. The calling thread works inside the first
// until the lab ends; both namespaces are deleted then. No traffic leaves them.
class NetnsLab {
public:
    NetnsLab()
        : m_a("fbwatch" + std::to_string(getpid()) + "a")
        , m_b("fbwatch" + std::to_string(getpid()) + "b") {
        if (geteuid() != 0) {
            m_problem = "needs root for network namespaces";
            return;
        }
        RemoveStale();
        Remove();
        const std::vector<std::vector<std::string>> setup = {
            {"ip", "netns", "add", m_a},
            {"ip", "netns", "add", m_b},
            {"ip", "-n", m_a, "link", "set", "lo", "up"},
            {"ip", "-n", m_b, "link", "set", "lo", "up"},
            {"ip", "-n", m_a, "link", "add", "va", "type", "veth", "peer", "name", "vb", "netns",
             m_b},
            {"ip", "-n", m_a, "addr", "add", "10.77.0.1/24", "dev", "va"},
            {"ip", "-n", m_b, "addr", "add", "10.77.0.2/24", "dev", "vb"},
            {"ip", "-n", m_a, "link", "set", "va", "up"},
            {"ip", "-n", m_b, "link", "set", "vb", "up"},
        };
        for (const auto& command : setup) {
            if (RunProgram(command) != 0) {
                m_problem = "cannot set up the namespaces (iproute2 missing or not permitted)";
                return;
            }
        }
        m_home = UniqueFd(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
        const UniqueFd target(open(("/run/netns/" + m_a).c_str(), O_RDONLY | O_CLOEXEC));
        if (!m_home.Valid() || !target.Valid() || setns(target.Get(), CLONE_NEWNET) != 0) {
            m_problem = "cannot enter the namespace";
            return;
        }
        m_entered = true;
    }

    ~NetnsLab() {
        if (m_entered)
            (void)setns(m_home.Get(), CLONE_NEWNET);
        Remove();
    }

    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    bool Ready() const { return m_entered; }
    const std::string& Problem() const { return m_problem; }
    int InA(std::vector<std::string> command) const {
        command.insert(command.begin(), {"ip", "-n", m_a});
        return RunProgram(command);
    }
    int InB(std::vector<std::string> command) const {
        command.insert(command.begin(), {"ip", "-n", m_b});
        return RunProgram(command);
    }

private:
    // Namespaces of an earlier run that was killed before it could delete them.
    static void RemoveStale() {
        DIR* names = opendir("/run/netns");
        if (names == nullptr)
            return;
        std::vector<std::string> stale;
        while (const dirent* entry = readdir(names)) {
            const std::string name = entry->d_name;
            if (name.rfind("fbwatch", 0) != 0 || name.size() < 9)
                continue;
            const std::string pid = name.substr(7, name.size() - 8);
            if (pid.find_first_not_of("0123456789") == std::string::npos &&
                access(("/proc/" + pid).c_str(), F_OK) != 0)
                stale.push_back(name);
        }
        closedir(names);
        for (const std::string& name : stale)
            RunProgram({"ip", "netns", "del", name});
    }

    void Remove() {
        if (geteuid() != 0)
            return;
        RunProgram({"ip", "netns", "del", m_a});
        RunProgram({"ip", "netns", "del", m_b});
    }

    std::string m_a, m_b, m_problem;
    UniqueFd m_home;
    bool m_entered = false;
};

// Wakes a socket after a deadline unless cancelled first, so that a receive that would wait
// forever ends as Woken and the test fails instead of hanging.
class Watchdog {
public:
    explicit Watchdog(IPacketSocket& socket, std::chrono::seconds after = 10s)
        : m_thread([this, &socket, after] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, after, [this] { return m_cancelled; }))
                socket.Wake();
        }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_cancelled = false;
    std::thread m_thread;
};

// Sends UDP datagrams from the calling thread's namespace.
bool SendUdp(const char* to, std::uint16_t port, std::size_t payload) {
    const UniqueFd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = Ip(to);
    const std::vector<char> data(payload, 'x');
    return udp.Valid() && sendto(udp.Get(), data.data(), data.size(), 0,
                                 reinterpret_cast<const sockaddr*>(&target),
                                 sizeof target) == static_cast<ssize_t>(payload);
}

// A bound UDP receiver on 127.0.0.1, so loopback datagrams are delivered.
struct UdpReceiver {
    UniqueFd fd{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    std::uint16_t port = 0;
    UdpReceiver() {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
            getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &length) == 0)
            port = ntohs(local.sin_port);
    }
};

struct Ipv4Header {
    int version = 0, headerLength = 0, protocol = 0;
    std::size_t totalLength = 0;
    std::uint32_t source = 0, destination = 0;
    std::uint16_t destinationPort = 0; // UDP only
};

Ipv4Header Parse(const std::uint8_t* data, std::size_t length) {
    Ipv4Header header;
    if (length < 20)
        return header;
    header.version = data[0] >> 4;
    header.headerLength = (data[0] & 0x0F) * 4;
    header.totalLength = static_cast<std::size_t>(data[2] << 8 | data[3]);
    header.protocol = data[9];
    std::memcpy(&header.source, data + 12, 4);
    std::memcpy(&header.destination, data + 16, 4);
    const auto udp = static_cast<std::size_t>(header.headerLength);
    if (header.protocol == IPPROTO_UDP && length >= udp + 4)
        header.destinationPort = static_cast<std::uint16_t>(data[udp + 2] << 8 | data[udp + 3]);
    return header;
}

// Inodes of the packet sockets of the calling thread's namespace that this process holds.
int OwnPacketSockets() {
    std::set<std::string> inNamespace;
    std::ifstream table("/proc/thread-self/net/packet");
    std::string line;
    std::getline(table, line); // heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string field, inode;
        while (fields >> field)
            inode = field;
        inNamespace.insert(inode);
    }
    int own = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr)
        return -1;
    while (const dirent* entry = readdir(fds)) {
        std::array<char, 64> target{};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(path.c_str(), target.data(), target.size() - 1);
        if (length <= 0)
            continue;
        const std::string text(target.data(), static_cast<std::size_t>(length));
        if (text.rfind("socket:[", 0) == 0 &&
            inNamespace.count(text.substr(8, text.size() - 9)) != 0)
            ++own;
    }
    closedir(fds);
    return own;
}

// The output of a program run with an argument vector (no shell); empty when it fails.
std::string Capture(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd = UniqueFd();
    std::string output;
    if (spawned != 0)
        return output;
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t got = read(readEnd.Get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(chunk.data(), static_cast<std::size_t>(got));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return output;
}

// The kernel's promiscuity count of an interface of the calling thread's namespace (-1: unknown).
int Promiscuity(const char* interface) {
    const std::string shown = Capture({"ip", "-d", "link", "show", "dev", interface});
    const std::size_t at = shown.find("promiscuity ");
    return at == std::string::npos ? -1 : std::atoi(shown.c_str() + at + 12);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds deadline = 20s) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Drops CAP_NET_RAW from the calling thread's effective set (capabilities are per thread).
bool DropNetRaw() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, 2> data{};
    if (syscall(SYS_capget, &header, data.data()) != 0)
        return false;
    data[0].effective &= ~(1u << CAP_NET_RAW);
    return syscall(SYS_capset, &header, data.data()) == 0;
}

// Runs everywhere: without CAP_NET_RAW no socket is had, and nothing is reported.
TEST(PacketSocketFactory, RefusedWithoutNetRaw) {
    bool dropped = false;
    bool refused = false;
    std::thread unprivileged([&] {
        dropped = DropNetRaw();
        fb::linux_impl::PacketSocketFactory factory;
        refused = factory.Open(Ip("127.0.0.1")) == nullptr;
    });
    unprivileged.join();
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(refused);
}

class PacketNetns : public testing::Test {
protected:
    void SetUp() override {
        if (!lab.Ready())
            GTEST_SKIP() << lab.Problem();
    }

    NetnsLab lab;
    fb::linux_impl::PacketSocketFactory factory;
    std::array<std::uint8_t, CRawWatcher::kReceiveBufferSize> buffer{};
};

TEST_F(PacketNetns, AddressTableListsIpv4AddressesInInterfaceOrder) {
    ASSERT_EQ(lab.InA({"addr", "add", "10.77.1.1/24", "dev", "va"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "fd00:77::1/64", "dev", "va", "nodad"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.77.2.1/24", "dev", "va", "label", "va:1"}), 0);

    fb::linux_impl::AddressTable table;
    std::vector<std::uint32_t> addresses{Ip("1.1.1.1")};
    ASSERT_TRUE(table.ReadIpv4Addresses(addresses));
    const std::vector<std::uint32_t> expected = {Ip("127.0.0.1"), Ip("10.77.0.1"), Ip("10.77.1.1"),
                                                 Ip("10.77.2.1")};
    EXPECT_EQ(addresses, expected);

    CLocalAddresses list;
    ASSERT_EQ(list.LoadLocalAddresses(table), 4);
    EXPECT_EQ(list.Text(0), "127.0.0.1");
    ASSERT_TRUE(list.WatcherAddress().has_value());
    EXPECT_EQ(*list.WatcherAddress(), Ip("10.77.0.1"));

    // A labelled address belongs to its interface.
    const auto labelled = factory.Open(Ip("10.77.2.1"));
    ASSERT_NE(labelled, nullptr);
    ASSERT_TRUE(SendUdp("10.77.0.2", 9, 10));
    Watchdog watchdog(*labelled);
    std::size_t length = 0;
    ASSERT_EQ(labelled->Receive(buffer.data(), buffer.size(), length),
              IPacketSocket::Result::Packet);
    EXPECT_EQ(Parse(buffer.data(), length).destination, Ip("10.77.0.2"));
}

// The addresses getifaddrs lists, IPv4 only, in its order.
std::vector<std::uint32_t> Ipv4FromGetifaddrs() {
    std::vector<std::uint32_t> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in inet{};
        std::memcpy(&inet, entry->ifa_addr, sizeof inet);
        out.push_back(inet.sin_addr.s_addr);
    }
    freeifaddrs(list);
    return out;
}

TEST_F(PacketNetns, AddressTableKeepsTheOrderOfGetifaddrsOnManyLinks) {
    // Links made in an order other than their names', addresses added out of order, labels,
    // secondaries, a point-to-point address with a peer, an address moved away and back.
    for (int i = 5; i >= 0; --i) {
        const std::string name = "fbd" + std::to_string(i);
        ASSERT_EQ(lab.InA({"link", "add", name, "type", "veth", "peer", "name", name + "p"}), 0);
    }
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.3.1/24", "dev", "fbd3"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.0.9/24", "dev", "fbd0", "label", "fbd0:x"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.0.1/24", "dev", "fbd0"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.3.2/24", "dev", "fbd3"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.5.1", "peer", "10.78.5.2", "dev", "fbd5"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.1.1/24", "dev", "fbd1"}), 0);
    ASSERT_EQ(lab.InA({"addr", "del", "10.78.1.1/24", "dev", "fbd1"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "10.78.1.1/24", "dev", "fbd4"}), 0);
    ASSERT_EQ(lab.InA({"addr", "add", "fd00:78::1/64", "dev", "fbd2", "nodad"}), 0);

    fb::linux_impl::AddressTable table;
    std::vector<std::uint32_t> addresses;
    ASSERT_TRUE(table.ReadIpv4Addresses(addresses));
    EXPECT_EQ(addresses, Ipv4FromGetifaddrs());
    EXPECT_EQ(addresses.size(), 8u); // lo, va and the six IPv4 addresses above
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), Ip("10.78.5.1")), addresses.end());
    EXPECT_EQ(std::find(addresses.begin(), addresses.end(), Ip("10.78.5.2")), addresses.end());

    // The packet socket goes to the interface the address was added to.
    const auto peer = factory.Open(Ip("10.78.5.1"));
    EXPECT_NE(peer, nullptr);
    EXPECT_EQ(factory.Open(Ip("10.78.5.2")), nullptr);
}

TEST_F(PacketNetns, OpenFailsWithoutNetRawOrWithoutAnOwningInterface) {
    EXPECT_EQ(factory.Open(Ip("10.99.0.1")), nullptr);
    EXPECT_EQ(factory.Open(Ip("0.0.0.0")), nullptr);
    EXPECT_NE(factory.Open(Ip("127.0.0.1")), nullptr);

    bool dropped = false;
    bool refused = false;
    std::thread unprivileged([&] { // inherits this thread's namespace
        dropped = DropNetRaw();
        refused = factory.Open(Ip("127.0.0.1")) == nullptr;
    });
    unprivileged.join();
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(refused);
    EXPECT_EQ(OwnPacketSockets(), 0);
}

TEST_F(PacketNetns, LoopbackPacketsComeOnceFromTheIpHeaderOn) {
    const auto socket = factory.Open(Ip("127.0.0.1"));
    ASSERT_NE(socket, nullptr);
    UdpReceiver receiver;
    ASSERT_NE(receiver.port, 0);
    constexpr int kDatagrams = 5;
    for (int i = 0; i < kDatagrams; ++i)
        ASSERT_TRUE(SendUdp("127.0.0.1", receiver.port, 10 + static_cast<std::size_t>(i)));
    constexpr std::size_t kSentinel = 999;
    ASSERT_TRUE(SendUdp("127.0.0.1", receiver.port, kSentinel));

    Watchdog watchdog(*socket);
    std::vector<std::size_t> lengths;
    for (int i = 0; i < 4 * kDatagrams + 4; ++i) {
        std::size_t length = 0;
        ASSERT_EQ(socket->Receive(buffer.data(), buffer.size(), length),
                  IPacketSocket::Result::Packet);
        const Ipv4Header header = Parse(buffer.data(), length);
        EXPECT_EQ(header.version, 4);
        EXPECT_EQ(header.headerLength, 20);
        EXPECT_EQ(header.totalLength, length);
        EXPECT_EQ(header.protocol, IPPROTO_UDP);
        EXPECT_EQ(header.destinationPort, receiver.port);
        if (length == 28 + kSentinel)
            break;
        lengths.push_back(length);
    }
    // Each datagram once: the outgoing copy on loopback is dropped.
    EXPECT_EQ(lengths, (std::vector<std::size_t>{38, 39, 40, 41, 42}));
}

TEST_F(PacketNetns, PacketOfTheBufferSizeFitsAndOneByteMoreFails) {
    const auto socket = factory.Open(Ip("127.0.0.1"));
    ASSERT_NE(socket, nullptr);
    UdpReceiver receiver;
    Watchdog watchdog(*socket);
    std::size_t length = 0;
    ASSERT_TRUE(SendUdp("127.0.0.1", receiver.port, buffer.size() - 28));
    ASSERT_EQ(socket->Receive(buffer.data(), buffer.size(), length), IPacketSocket::Result::Packet);
    EXPECT_EQ(length, buffer.size());
    EXPECT_EQ(Parse(buffer.data(), length).totalLength, buffer.size());

    ASSERT_TRUE(SendUdp("127.0.0.1", receiver.port, buffer.size() - 27));
    EXPECT_EQ(socket->Receive(buffer.data(), buffer.size(), length), IPacketSocket::Result::Failed);
}

TEST_F(PacketNetns, WakeEndsAPendingReceiveAndHoldsUntilRearmed) {
    const auto socket = factory.Open(Ip("10.77.0.1"));
    ASSERT_NE(socket, nullptr);
    IPacketSocket::Result pending = IPacketSocket::Result::Packet;
    std::thread receiver([&] {
        std::array<std::uint8_t, 1600> own{};
        std::size_t length = 0;
        pending = socket->Receive(own.data(), own.size(), length);
    });
    std::this_thread::sleep_for(50ms); // usually lets the receive block first; either way works
    socket->Wake();
    receiver.join();
    EXPECT_EQ(pending, IPacketSocket::Result::Woken);

    // A waiting packet does not outrun the wake.
    ASSERT_TRUE(SendUdp("10.77.0.2", 9, 20));
    std::size_t length = 0;
    EXPECT_EQ(socket->Receive(buffer.data(), buffer.size(), length), IPacketSocket::Result::Woken);
    socket->Rearm();
    Watchdog watchdog(*socket);
    ASSERT_EQ(socket->Receive(buffer.data(), buffer.size(), length), IPacketSocket::Result::Packet);
    EXPECT_EQ(Parse(buffer.data(), length).destinationPort, 9);
}

TEST_F(PacketNetns, VethSocketSeesBothDirectionsOfItsInterfaceOnlyAndIsPromiscuous) {
    ASSERT_EQ(Promiscuity("va"), 0);
    {
        const auto socket = factory.Open(Ip("10.77.0.1"));
        ASSERT_NE(socket, nullptr);
        EXPECT_EQ(Promiscuity("va"), 1);
        EXPECT_EQ(OwnPacketSockets(), 1);

        UdpReceiver local;
        ASSERT_TRUE(SendUdp("127.0.0.1", local.port, 30)); // on lo: not this socket's
        ASSERT_TRUE(SendUdp("10.77.0.2", 9, 20));          // the peer answers "unreachable"

        Watchdog watchdog(*socket);
        std::size_t length = 0;
        ASSERT_EQ(socket->Receive(buffer.data(), buffer.size(), length),
                  IPacketSocket::Result::Packet);
        Ipv4Header header = Parse(buffer.data(), length);
        EXPECT_EQ(header.protocol, IPPROTO_UDP);
        EXPECT_EQ(header.source, Ip("10.77.0.1"));
        EXPECT_EQ(header.destination, Ip("10.77.0.2"));

        ASSERT_EQ(socket->Receive(buffer.data(), buffer.size(), length),
                  IPacketSocket::Result::Packet);
        header = Parse(buffer.data(), length);
        EXPECT_EQ(header.protocol, IPPROTO_ICMP);
        EXPECT_EQ(header.source, Ip("10.77.0.2"));
        EXPECT_EQ(header.destination, Ip("10.77.0.1"));
    }
    EXPECT_EQ(Promiscuity("va"), 0);
    EXPECT_EQ(OwnPacketSockets(), 0);
}

TEST_F(PacketNetns, WatcherSeesPingsEndsOnAnOversizedPacketAndLeavesNoSocket) {
    fb::linux_impl::AddressTable table;
    CLocalAddresses addresses;
    ASSERT_EQ(addresses.LoadLocalAddresses(table), 2);
    std::atomic<std::int32_t> flag{0};
    CRawWatcher watcher(factory, flag);
    auto modeOn = [&] {
        flag = 1;
        watcher.OpenWatcherSocket(addresses);
        watcher.StartWatcher();
    };
    auto modeOff = [&] {
        flag = 0;
        watcher.StopWatcher();
    };

    modeOn();
    ASSERT_TRUE(watcher.IsWatcherRunning());
    EXPECT_EQ(OwnPacketSockets(), 1);
    const int pinged = RunProgram({"ping", "-c", "3", "-i", "0.2", "-W", "2", "-q", "10.77.0.2"});
    if (pinged == -1)
        GTEST_SKIP() << "ping is not available";
    ASSERT_EQ(pinged, 0);
    // Three requests out and three replies in.
    EXPECT_TRUE(WaitUntil([&] { return watcher.PacketsReceived() >= 6; }))
        << watcher.PacketsReceived();

    // An IPv4 packet of 2028 bytes (the MTU raised so that it is not fragmented).
    ASSERT_EQ(lab.InA({"link", "set", "va", "mtu", "9000"}), 0);
    ASSERT_EQ(lab.InB({"link", "set", "vb", "mtu", "9000"}), 0);
    RunProgram({"ping", "-c", "1", "-s", "2000", "-W", "2", "-q", "10.77.0.2"});
    ASSERT_TRUE(WaitUntil([&] { return !watcher.IsWatcherRunning(); }));
    EXPECT_EQ(watcher.LastExit(), CRawWatcher::Exit::Failed);
    EXPECT_FALSE(watcher.HasWatcherSocket());
    EXPECT_EQ(OwnPacketSockets(), 0);
    watcher.StartWatcher(); // a resume brings no watcher back
    EXPECT_FALSE(watcher.IsWatcherRunning());

    // Switching off and on a hundred times, with suspensions between.
    for (int i = 0; i < 100; ++i) {
        modeOff();
        modeOn();
        if (i % 10 == 0) {
            ASSERT_EQ(OwnPacketSockets(), 1);
            watcher.StopWatcher();
            watcher.StartWatcher();
            ASSERT_TRUE(watcher.IsWatcherRunning());
        }
    }
    const std::uint64_t before = watcher.PacketsReceived();
    ASSERT_EQ(RunProgram({"ping", "-c", "2", "-i", "0.2", "-W", "2", "-q", "10.77.0.2"}), 0);
    EXPECT_TRUE(WaitUntil([&] { return watcher.PacketsReceived() >= before + 4; }));
    modeOff();
    EXPECT_FALSE(watcher.IsWatcherRunning());
    EXPECT_EQ(OwnPacketSockets(), 0);
    EXPECT_EQ(Promiscuity("va"), 0);
}

} // namespace
