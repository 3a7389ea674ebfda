// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/NetConnectionState.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QVariantMap>

#include <gtest/gtest.h>

#include "test_netlink_namespace.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <net/if.h>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using fb::linux_impl::NetConnectionState;

#if defined(__SANITIZE_THREAD__)
// Qt and libdbus are not built for ThreadSanitizer: it cannot see their own locking, and reports
// messages that Qt hands to its D-Bus thread as races. None of this test's code runs off the
// main thread.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libdbus-1.so\n"
           "race:libQt6DBus.so\n"
           "race:libQt6Core.so\n";
}
#endif

namespace {

using namespace fb::testing_support;

const char* const kRouteHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask"
                                 "\t\tMTU\tWindow\tIRTT\n";
const char* const kProxyVariables[] = {"http_proxy", "https_proxy", "all_proxy",
                                       "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"};

// The routing fallback against a fake /proc and /sys, with no proxy in the environment and a
// desktop configuration directory of its own.
class RouteFallbackTest : public ::testing::Test {
protected:
    TempDir root{"connection"};
    std::vector<std::unique_ptr<EnvGuard>> env;

    void SetUp() override {
        CoreApp(); // the kernel's route reports arrive through the event loop
        ASSERT_FALSE(root.Path().empty());
        for (const char* name : kProxyVariables) {
            env.push_back(std::make_unique<EnvGuard>(name, std::nullopt));
        }
        std::filesystem::create_directories(Proc() / "net");
        std::filesystem::create_directories(Config());
    }

    std::filesystem::path Proc() const { return root.Path() / "proc"; }
    std::filesystem::path Sys() const { return root.Path() / "sys"; }
    std::filesystem::path Config() const { return root.Path() / "config"; }

    void Routes(const std::string& lines) {
        WriteFile(Proc() / "net" / "route", std::string(kRouteHeader) + lines);
    }
    void Routes6(const std::string& lines) { WriteFile(Proc() / "net" / "ipv6_route", lines); }
    void Link(const std::string& name, int type, const std::string& uevent = "") {
        WriteFile(Sys() / "class" / "net" / name / "type", std::to_string(type) + "\n");
        WriteFile(Sys() / "class" / "net" / name / "uevent", uevent);
    }

    NetConnectionState::Options Options() const {
        NetConnectionState::Options options;
        options.procRoot = Proc().string();
        options.sysRoot = Sys().string();
        options.useNetworkManager = false;
        options.configHome = Config().string();
        return options;
    }

    bool Query(std::uint32_t& flags) {
        NetConnectionState state(Options());
        return state.GetConnectedState(flags);
    }
};

TEST_F(RouteFallbackTest, NoRoutingTablesMeansNotConnected) {
    std::filesystem::remove_all(Proc());
    std::uint32_t flags = 0xFF;
    EXPECT_FALSE(Query(flags));
    EXPECT_EQ(flags, 0u);
}

TEST_F(RouteFallbackTest, OnlyLocalRoutesMeanNotConnected) {
    Routes("eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
    std::uint32_t flags = 0;
    EXPECT_FALSE(Query(flags));
}

TEST_F(RouteFallbackTest, DefaultRouteOverEthernetIsLan) {
    Routes("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    Link("eth0", 1);
    std::uint32_t flags = 0;
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
}

TEST_F(RouteFallbackTest, DefaultRouteOfLowestMetricDecidesTheKind) {
    Routes("eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
           "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");
    Link("eth0", 1);
    Link("ppp0", 512);
    std::uint32_t flags = 0;
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionModem);
}

TEST_F(RouteFallbackTest, WwanLinkIsAModem) {
    Routes("wwan0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");
    Link("wwan0", 65534, "DEVTYPE=wwan\nINTERFACE=wwan0\nIFINDEX=5\n");
    std::uint32_t flags = 0;
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionModem);
}

TEST_F(RouteFallbackTest, RoutesThatAreDownOrRejectOrOnLoopbackDoNotCount) {
    Routes("eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
           "eth1\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n"
           "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");
    std::uint32_t flags = 0;
    EXPECT_FALSE(Query(flags));
}

TEST_F(RouteFallbackTest, Ipv6DefaultRouteCountsAndTheLoopbackRejectRouteDoesNot) {
    Routes("");
    const std::string zero(32, '0');
    Routes6(zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n");
    std::uint32_t flags = 0;
    EXPECT_FALSE(Query(flags));
    Routes6(zero + " 00 " + zero +
            " 00 fe800000000000000000000000000001 00000400 00000001 "
            "00000000 00450003   eth0\n" +
            zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n");
    Link("eth0", 1);
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
}

TEST_F(RouteFallbackTest, MalformedAndHostileLinesAreIgnored) {
    Routes("garbage\n\n\t\t\n"
           "../../etc\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
           "eth0\t00000000\t010200C0\tzz\t0\t0\t0\t00000000\t0\t0\t0\n"
           "eth0\t00000000\n" +
           std::string(100000, 'x') + "\n");
    Routes6("short line\n" + std::string(40, '0') + " 00\n");
    std::uint32_t flags = 0;
    EXPECT_FALSE(Query(flags));
}

TEST_F(RouteFallbackTest, MissingSysfsEntryOfTheLinkMeansLan) {
    Routes("enp1s0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    std::uint32_t flags = 0;
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
}

TEST_F(RouteFallbackTest, ProxyFromEnvironmentInEitherCase) {
    Routes("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    std::uint32_t flags = 0;
    for (const char* name : kProxyVariables) {
        EnvGuard proxy(name, "http://proxy.example:3128");
        EXPECT_TRUE(Query(flags)) << name;
        EXPECT_EQ(flags, fb::kConnectionLan | fb::kConnectionProxy) << name;
    }
    EnvGuard empty("http_proxy", "  ");
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
}

TEST_F(RouteFallbackTest, DesktopProxySettingIsReadAgainWhenItChanges) {
    Routes("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    NetConnectionState::Options options = Options();
    options.desktopProxyCheckMs = 0;
    NetConnectionState state(options);
    std::uint32_t flags = 0;
    EXPECT_TRUE(state.GetConnectedState(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);

    const auto file = Config() / "kioslaverc";
    WriteFile(file,
              "[Other]\nProxyType=1\n[Proxy Settings]\nProxyType=1\nhttpProxy=http://p 8080\n");
    EXPECT_TRUE(state.GetConnectedState(flags));
    EXPECT_EQ(flags, fb::kConnectionLan | fb::kConnectionProxy);

    WriteFile(file, "[Proxy Settings]\nProxyType=0\n");
    EXPECT_TRUE(state.GetConnectedState(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);

    // Only the [Proxy Settings] section counts.
    WriteFile(file, "[Other]\nProxyType=1\n");
    EXPECT_TRUE(state.GetConnectedState(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);

    std::filesystem::remove(file);
    EXPECT_TRUE(state.GetConnectedState(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
}

// Counts the files a NetConnectionState reads, by path, and reads them.
struct ReadCounter {
    std::map<std::string, int> reads;
    std::function<std::string(const std::string&)> Hook() {
        return [this](const std::string& path) {
            ++reads[path];
            return fb::testing_support::ReadFile(path);
        };
    }
    // `options` with every file read counted here.
    NetConnectionState::Options Counting(NetConnectionState::Options options) {
        options.readFile = Hook();
        return options;
    }
    int Total() const {
        int total = 0;
        for (const auto& [path, n] : reads) {
            total += n;
        }
        return total;
    }
};

// Asks `times` times, as the dialog does every second; the flags of the last answer.
std::uint32_t AskRepeatedly(NetConnectionState& state, int times) {
    std::uint32_t flags = 0;
    for (int i = 0; i < times; ++i)
        EXPECT_TRUE(state.GetConnectedState(flags));
    return flags;
}

TEST_F(RouteFallbackTest, RepeatedQueriesReadTheTablesOnlyOnce) {
    Routes("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    Link("eth0", 1);
    ReadCounter counter;
    NetConnectionState state(counter.Counting(Options()));
    if (!state.WatchingRoutes()) {
        GTEST_SKIP() << "no routing netlink socket here";
    }
    EXPECT_EQ(AskRepeatedly(state, 5), fb::kConnectionLan);
    EXPECT_EQ(counter.reads[(Proc() / "net" / "route").string()], 1);
    EXPECT_EQ(counter.reads.count((Proc() / "net" / "ipv6_route").string()), 0u);
    EXPECT_EQ(counter.reads[(Sys() / "class" / "net" / "eth0" / "type").string()], 1);
    // The answer is kept: a change of the file alone, which the kernel never reports, is not
    // seen.
    Routes("");
    EXPECT_EQ(AskRepeatedly(state, 1), fb::kConnectionLan);
    EXPECT_EQ(counter.reads[(Proc() / "net" / "route").string()], 1);
}

TEST_F(RouteFallbackTest, Ipv6TableIsReadOnlyOnceWithoutAnIpv4DefaultRoute) {
    Routes("");
    Routes6(std::string(32, '0') + " 00 " + std::string(32, '0') +
            " 00 fe800000000000000000000000000001 00000400 00000001 00000000 00450003 eth0\n");
    ReadCounter counter;
    NetConnectionState state(counter.Counting(Options()));
    if (!state.WatchingRoutes()) {
        GTEST_SKIP() << "no routing netlink socket here";
    }
    AskRepeatedly(state, 5);
    EXPECT_EQ(counter.reads[(Proc() / "net" / "ipv6_route").string()], 1);
    EXPECT_EQ(counter.reads[(Proc() / "net" / "route").string()], 1);
}

TEST_F(RouteFallbackTest, DesktopProxyFileIsLookedAtOnlyEverySoOften) {
    Routes("eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    const auto file = Config() / "kioslaverc";
    WriteFile(file, "[Proxy Settings]\nProxyType=1\n");
    ReadCounter counter;
    NetConnectionState::Options options = counter.Counting(Options());
    options.desktopProxyCheckMs = 60 * 60 * 1000;
    NetConnectionState state(options);
    std::uint32_t flags = 0;
    EXPECT_TRUE(state.GetConnectedState(flags));
    EXPECT_EQ(flags, fb::kConnectionLan | fb::kConnectionProxy);
    WriteFile(file, "[Proxy Settings]\nProxyType=0\nChanged=yes\n");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(state.GetConnectedState(flags));
        EXPECT_EQ(flags, fb::kConnectionLan | fb::kConnectionProxy); // not looked at yet
    }
    EXPECT_EQ(counter.reads[file.string()], 1);
    // The environment is read at every query.
    EnvGuard proxy("https_proxy", "http://proxy.example:3128");
    state.GetConnectedState(flags);
    EXPECT_EQ(flags & fb::kConnectionProxy, fb::kConnectionProxy);
}

// The cache against the kernel's own tables, in a network namespace of the test's own.
class RouteCacheNamespaceTest : public ::testing::Test {
protected:
    std::unique_ptr<fb::testing::TestNetns> ns;
    TempDir config{"connection-ns"};
    std::vector<std::unique_ptr<EnvGuard>> env;
    ReadCounter counter;
    std::unique_ptr<NetConnectionState> state;

    void SetUp() override {
        CoreApp();
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to make network namespaces";
        }
        ns = fb::testing::TestNetns::Create();
        if (!ns) {
            GTEST_SKIP() << "network namespaces cannot be made here";
        }
        for (const char* name : kProxyVariables) {
            env.push_back(std::make_unique<EnvGuard>(name, std::nullopt));
        }
        ASSERT_EQ(Ip({"link", "set", "lo", "up"}), 0);
        ASSERT_EQ(Ip({"link", "add", "fbcs0", "type", "veth", "peer", "name", "fbcs1"}), 0);
        // No IPv6 link-local addresses: their duplicate-address detection would add routes a
        // second or two later, in the middle of the counts below.
        ASSERT_EQ(Ip({"link", "set", "fbcs0", "addrgenmode", "none"}), 0);
        ASSERT_EQ(Ip({"link", "set", "fbcs1", "addrgenmode", "none"}), 0);
        ASSERT_EQ(Ip({"addr", "add", "10.233.0.1/24", "dev", "fbcs0"}), 0);
        ASSERT_EQ(Ip({"link", "set", "fbcs0", "up"}), 0);
        ASSERT_EQ(Ip({"link", "set", "fbcs1", "up"}), 0);

        NetConnectionState::Options options;
        // The routing tables of the calling thread's namespace: queries run inside it.
        options.procRoot = "/proc/thread-self";
        options.sysRoot = (config.Path() / "no-sys").string();
        options.useNetworkManager = false;
        options.configHome = config.Path().string();
        options.readFile = counter.Hook();
        fb::testing::NetnsScope in(*ns);
        ASSERT_TRUE(in.Entered());
        state = std::make_unique<NetConnectionState>(options);
        if (!state->WatchingRoutes()) {
            GTEST_SKIP() << "no routing netlink socket here";
        }
        Settle();
    }

    // True when the link's carrier is up, as the namespace sees it.
    bool Running(const char* name) {
        fb::testing::NetnsScope in(*ns);
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        ifreq request{};
        std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
        const bool running =
            ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_RUNNING) != 0;
        close(fd);
        return running;
    }

    // The kernel raises a veth's carrier on its own time (up to a second after the link was set
    // up) and reports it like any other change: the counts of the tests begin once the links
    // are running and the reports of the set-up have all been delivered.
    void Settle() {
        ASSERT_TRUE(PumpUntil([this] { return Running("fbcs0") && Running("fbcs1"); }));
        std::uint32_t flags = 0;
        int quiet = 0;
        for (int round = 0; round < 25 && quiet < 2; ++round) {
            Query(flags);
            const int before = counter.Total();
            Pump();
            Query(flags);
            quiet = counter.Total() == before ? quiet + 1 : 0;
        }
        ASSERT_EQ(quiet, 2) << "the kernel kept reporting changes nobody made";
    }

    // Runs `ip` inside the namespace.
    int Ip(std::vector<std::string> args) {
        fb::testing::NetnsScope in(*ns);
        args.insert(args.begin(), "ip");
        return fb::testing::RunProgram(args);
    }

    bool Query(std::uint32_t& flags) {
        fb::testing::NetnsScope in(*ns);
        return state->GetConnectedState(flags);
    }

    int RouteReads() { return counter.reads["/proc/thread-self/net/route"]; }

    // Lets the event loop deliver what the kernel reported; no query runs meanwhile.
    static void Pump() {
        PumpUntil([] { return false; }, 200);
    }
};

TEST_F(RouteCacheNamespaceTest, AddedAndRemovedDefaultRouteIsSeenAfterTheReport) {
    std::uint32_t flags = 0;
    const int settled = RouteReads();
    ASSERT_GE(settled, 1);
    EXPECT_FALSE(Query(flags));
    EXPECT_FALSE(Query(flags));
    Pump();
    EXPECT_FALSE(Query(flags));
    EXPECT_EQ(RouteReads(), settled);

    ASSERT_EQ(Ip({"route", "add", "default", "via", "10.233.0.2", "dev", "fbcs0"}), 0);
    Pump();
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
    EXPECT_EQ(RouteReads(), settled + 1);
    const int afterAdd = counter.Total();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(Query(flags));
    }
    Pump();
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(counter.Total(), afterAdd); // no change, nothing read

    ASSERT_EQ(Ip({"route", "del", "default"}), 0);
    Pump();
    EXPECT_FALSE(Query(flags));
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(RouteReads(), settled + 2);
}

TEST_F(RouteCacheNamespaceTest, Ipv6DefaultRouteAndLinkChangesAreSeen) {
    std::uint32_t flags = 0;
    EXPECT_FALSE(Query(flags));
    const int ipv6Reads = counter.reads["/proc/thread-self/net/ipv6_route"];
    ASSERT_EQ(Ip({"-6", "route", "add", "default", "dev", "fbcs0"}), 0);
    Pump();
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(flags, fb::kConnectionLan);
    EXPECT_EQ(counter.reads["/proc/thread-self/net/ipv6_route"], ipv6Reads + 1);
    EXPECT_TRUE(Query(flags));
    EXPECT_EQ(counter.reads["/proc/thread-self/net/ipv6_route"], ipv6Reads + 1);

    // Taking the link away takes its routes with it.
    ASSERT_EQ(Ip({"link", "del", "fbcs0"}), 0);
    Pump();
    EXPECT_FALSE(Query(flags));
}

TEST(ConnectionType, ModemTypesOfNetworkManager) {
    for (const char* type : {"gsm", "cdma", "bluetooth", "pppoe", "adsl", "wwan"}) {
        EXPECT_TRUE(NetConnectionState::IsModemConnectionType(QString::fromLatin1(type))) << type;
    }
    for (const char* type : {"802-3-ethernet", "802-11-wireless", "vpn", "wireguard", ""}) {
        EXPECT_FALSE(NetConnectionState::IsModemConnectionType(QString::fromLatin1(type))) << type;
    }
}

// ---------------------------------------------------------------------------------------------
// NetworkManager on a private bus

// The NetworkManager object as far as the connection state reads it.
class FakeNetworkManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ State)
    Q_PROPERTY(uint Connectivity READ Connectivity)
    Q_PROPERTY(QString PrimaryConnectionType READ PrimaryConnectionType)

public:
    uint state = 70;
    uint connectivity = 4;
    QString type = QStringLiteral("802-3-ethernet");
    int reads = 0;

    uint State() {
        ++reads;
        return state;
    }
    uint Connectivity() const { return connectivity; }
    QString PrimaryConnectionType() const { return type; }
};

class NetworkManagerTest : public ::testing::Test {
protected:
    TempDir dir{"connection-bus"};
    QProcess daemon;
    QString address;
    std::optional<QDBusConnection> service;
    FakeNetworkManager manager;
    std::vector<std::unique_ptr<EnvGuard>> env;

    void SetUp() override {
        CoreApp();
        for (const char* name : kProxyVariables) {
            env.push_back(std::make_unique<EnvGuard>(name, std::nullopt));
        }
        const std::filesystem::path socket = dir.Path() / "bus";
        const std::filesystem::path config = dir.Path() / "bus.conf";
        WriteFile(
            config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>custom</type><listen>unix:path=" +
                socket.string() +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                "<allow receive_sender=\"*\"/></policy></busconfig>\n");
        daemon.setProgram(QStringLiteral("dbus-daemon"));
        // The daemon prints its address once it listens; the socket file alone exists a moment
        // before that, when a connection is still refused.
        daemon.setArguments(
            {QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
             QStringLiteral("--print-address"),
             QStringLiteral("--config-file=") + QString::fromStdString(config.string())});
        daemon.start();
        if (!daemon.waitForStarted(5000)) {
            GTEST_SKIP() << "dbus-daemon cannot be started";
        }
        ASSERT_TRUE(PumpUntil([&] { return daemon.canReadLine() || daemon.waitForReadyRead(20); }))
            << "the private bus did not come up";
        ASSERT_TRUE(std::filesystem::exists(socket));
        address = QStringLiteral("unix:path=") + QString::fromStdString(socket.string());
        service = QDBusConnection::connectToBus(address, QStringLiteral("fake-network-manager"));
        ASSERT_TRUE(service->isConnected());
        ASSERT_TRUE(service->registerObject(QStringLiteral("/org/freedesktop/NetworkManager"),
                                            &manager, QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(service->registerService(QStringLiteral("org.freedesktop.NetworkManager")));
    }

    void TearDown() override {
        if (service) {
            service->unregisterObject(QStringLiteral("/org/freedesktop/NetworkManager"));
            service.reset();
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-network-manager"));
        }
        if (daemon.state() != QProcess::NotRunning) {
            daemon.kill();
            daemon.waitForFinished(5000);
        }
    }

    NetConnectionState::Options Options() const {
        NetConnectionState::Options options;
        options.busAddress = address;
        options.procRoot = (dir.Path() / "no-proc").string(); // no default route
        options.sysRoot = (dir.Path() / "no-sys").string();
        options.configHome = (dir.Path() / "config").string();
        return options;
    }

    void Changed(const QVariantMap& properties) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/NetworkManager"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.NetworkManager") << properties << QStringList();
        ASSERT_TRUE(service->send(signal));
    }

    static bool Connected(NetConnectionState& state, std::uint32_t* flags = nullptr) {
        std::uint32_t f = 0;
        const bool connected = state.GetConnectedState(f);
        if (flags != nullptr) {
            *flags = f;
        }
        return connected;
    }
};

TEST_F(NetworkManagerTest, AnswerIsFetchedOnceAndFollowsTheSignals) {
    NetConnectionState state(Options());
    ASSERT_TRUE(PumpUntil([&] { return state.HasNetworkManager(); }));
    std::uint32_t flags = 0;
    EXPECT_TRUE(Connected(state, &flags));
    EXPECT_EQ(flags, fb::kConnectionLan);

    // Asking costs no bus call.
    const int reads = manager.reads;
    for (int i = 0; i < 100; ++i) {
        Connected(state);
    }
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(manager.reads, reads);

    Changed({{QStringLiteral("State"), 20u}});
    EXPECT_TRUE(PumpUntil([&] { return !Connected(state); }));

    Changed({{QStringLiteral("State"), 60u},
             {QStringLiteral("PrimaryConnectionType"), QStringLiteral("gsm")}});
    ASSERT_TRUE(PumpUntil([&] { return Connected(state); }));
    Connected(state, &flags);
    EXPECT_EQ(flags, fb::kConnectionModem);

    QDBusMessage stateChanged = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/NetworkManager"),
        QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("StateChanged"));
    stateChanged << 40u;
    ASSERT_TRUE(service->send(stateChanged));
    EXPECT_TRUE(PumpUntil([&] { return !Connected(state); }));
}

TEST_F(NetworkManagerTest, LocalAndSiteStatesCountAsConnected) {
    manager.state = 50;
    NetConnectionState state(Options());
    ASSERT_TRUE(PumpUntil([&] { return state.HasNetworkManager(); }));
    EXPECT_TRUE(Connected(state));
    manager.state = 30;
    NetConnectionState disconnecting(Options());
    ASSERT_TRUE(PumpUntil([&] { return disconnecting.HasNetworkManager(); }));
    EXPECT_FALSE(Connected(disconnecting));
}

TEST_F(NetworkManagerTest, FallsBackToRoutesWhenNetworkManagerLeaves) {
    NetConnectionState::Options options = Options();
    options.procRoot = (dir.Path() / "proc").string();
    WriteFile(dir.Path() / "proc" / "net" / "route",
              std::string(kRouteHeader) +
                  "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n");
    WriteFile(dir.Path() / "no-sys" / "class" / "net" / "ppp0" / "type", "512\n");
    options.procRoot = (dir.Path() / "proc").string();
    NetConnectionState state(options);
    ASSERT_TRUE(PumpUntil([&] { return state.HasNetworkManager(); }));
    std::uint32_t flags = 0;
    EXPECT_TRUE(Connected(state, &flags));
    EXPECT_EQ(flags, fb::kConnectionLan);

    ASSERT_TRUE(service->unregisterService(QStringLiteral("org.freedesktop.NetworkManager")));
    ASSERT_TRUE(PumpUntil([&] { return !state.HasNetworkManager(); }));
    EXPECT_TRUE(Connected(state, &flags));
    EXPECT_EQ(flags, fb::kConnectionModem);

    ASSERT_TRUE(service->registerService(QStringLiteral("org.freedesktop.NetworkManager")));
    EXPECT_TRUE(PumpUntil([&] { return state.HasNetworkManager(); }));
}

TEST_F(NetworkManagerTest, NoNetworkManagerOnTheBusMeansRoutes) {
    ASSERT_TRUE(service->unregisterService(QStringLiteral("org.freedesktop.NetworkManager")));
    NetConnectionState state(Options());
    PumpUntil([] { return false; }, 300);
    EXPECT_FALSE(state.HasNetworkManager());
    EXPECT_FALSE(Connected(state));
}

TEST(NetworkManagerBus, UnreachableBusMeansRoutes) {
    CoreApp();
    NetConnectionState::Options options;
    options.busAddress = QStringLiteral("unix:path=/nonexistent/flowbright/bus");
    options.procRoot = "/nonexistent";
    options.sysRoot = "/nonexistent";
    NetConnectionState state(options);
    std::uint32_t flags = 0;
    EXPECT_FALSE(state.GetConnectedState(flags));
    EXPECT_FALSE(state.HasNetworkManager());
}

} // namespace

#include "test_connection_state.moc"
