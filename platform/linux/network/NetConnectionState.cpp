// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/NetConnectionState.h"
#include "platform/linux/files/FileIo.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace fb::linux_impl {

namespace {

const QString kNmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr std::uint32_t kNmStateUnknown = 0;
constexpr std::uint32_t kNmStateConnectedLocal = 50; // LOCAL 50, SITE 60, GLOBAL 70
constexpr std::uint32_t kNmConnectivityPortal = 2;   // PORTAL 2, LIMITED 3, FULL 4

constexpr unsigned kRouteUp = 0x0001;     // RTF_UP
constexpr unsigned kRouteReject = 0x0200; // RTF_REJECT
constexpr unsigned kArphrdPpp = 512;      // ARPHRD_PPP

constexpr int kCallTimeoutMs = 3000;
constexpr std::size_t kFileLimit = 1 << 20;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') {
            ++pos;
        }
        if (pos > start) {
            fields.push_back(line.substr(start, pos - start));
        }
    }
    return fields;
}

template <typename F> void ForEachLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        f(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
}

// A hexadecimal field; false when it is not one.
bool Hex(std::string_view field, unsigned long long& value) {
    if (field.empty() || field.size() > 16) {
        return false;
    }
    value = 0;
    for (const char c : field) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    return true;
}

bool AllZero(std::string_view field) {
    return !field.empty() && field.find_first_not_of('0') == std::string_view::npos;
}

bool ValidLinkName(std::string_view name) {
    return !name.empty() && name.size() < 16 && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

QVariant Unwrapped(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
        return value.value<QDBusVariant>().variant();
    }
    return value;
}

bool NonEmptyEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return false;
    }
    return std::string_view(value).find_first_not_of(" \t") != std::string_view::npos;
}

long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

NetConnectionState::NetConnectionState()
    : NetConnectionState(Options{}) {}

NetConnectionState::NetConnectionState(Options options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    const std::string configHome =
        m_options.configHome.empty() ? UserConfigHome() : m_options.configHome;
    if (!configHome.empty()) {
        m_proxyFile = configHome + "/kioslaverc";
    }
    WatchRoutes();

    if (!m_options.useNetworkManager) {
        return;
    }
    if (m_options.busAddress.isEmpty()) {
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::systemBus());
    } else {
        static std::atomic<int> connections{0};
        m_connectionName = QStringLiteral("flowbright-connection-state-%1").arg(++connections);
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_options.busAddress, m_connectionName));
    }
    if (!m_bus->isConnected()) {
        return;
    }
    m_watcher =
        new QDBusServiceWatcher(kNmService, *m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty()) {
                    m_nmKnown = false;
                    ++m_requests; // an answer still on its way is stale
                } else {
                    RequestAll();
                }
            });
    // D-Bus signals reach slots by signature only.
    m_bus->connect(kNmService, kNmPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"),
                   this, SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
    m_bus->connect(kNmService, kNmPath, kNmService, QStringLiteral("StateChanged"), this,
                   SLOT(OnStateChanged(uint)));
    RequestAll();
}

NetConnectionState::~NetConnectionState() {
    m_routeNotifier.reset(); // before the socket it watches closes
    if (m_bus && m_bus->isConnected()) {
        m_bus->disconnect(kNmService, kNmPath, kPropertiesInterface,
                          QStringLiteral("PropertiesChanged"), this,
                          SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));
        m_bus->disconnect(kNmService, kNmPath, kNmService, QStringLiteral("StateChanged"), this,
                          SLOT(OnStateChanged(uint)));
    }
    delete m_watcher;
    m_watcher = nullptr;
    m_bus.reset();
    if (!m_connectionName.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
    }
}

void NetConnectionState::RequestAll() {
    QDBusMessage call = QDBusMessage::createMethodCall(kNmService, kNmPath, kPropertiesInterface,
                                                       QStringLiteral("GetAll"));
    call << kNmService;
    const unsigned request = ++m_requests;
    auto* pending = new QDBusPendingCallWatcher(m_bus->asyncCall(call, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (request != m_requests) {
                    return;
                }
                const QDBusPendingReply<QVariantMap> reply = *call;
                if (reply.isError()) {
                    m_nmKnown = false;
                    return;
                }
                m_nmState = kNmStateUnknown;
                m_nmConnectivity = 0;
                m_nmType.clear();
                TakeProperties(reply.value());
                m_nmKnown = true;
            });
}

void NetConnectionState::TakeProperties(const QVariantMap& properties) {
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        const QVariant value = Unwrapped(it.value());
        if (it.key() == QLatin1String("State")) {
            m_nmState = value.toUInt();
        } else if (it.key() == QLatin1String("Connectivity")) {
            m_nmConnectivity = value.toUInt();
        } else if (it.key() == QLatin1String("PrimaryConnectionType")) {
            m_nmType = value.toString();
        }
    }
}

void NetConnectionState::OnPropertiesChanged(const QString& interfaceName,
                                             const QVariantMap& changed,
                                             const QStringList& invalidated) {
    if (interfaceName != kNmService) {
        return;
    }
    TakeProperties(changed);
    if (!invalidated.isEmpty()) {
        RequestAll();
    }
}

void NetConnectionState::OnStateChanged(uint state) {
    m_nmState = state;
}

bool NetConnectionState::IsModemConnectionType(const QString& type) {
    static const QLatin1String kModemTypes[] = {
        QLatin1String("gsm"),   QLatin1String("cdma"), QLatin1String("bluetooth"),
        QLatin1String("pppoe"), QLatin1String("adsl"), QLatin1String("wwan"),
    };
    for (const QLatin1String& modem : kModemTypes) {
        if (type == modem) {
            return true;
        }
    }
    return type.contains(QLatin1String("ppp"));
}

bool NetConnectionState::GetConnectedState(std::uint32_t& flags) {
    flags = 0;
    bool connected = false;
    if (m_nmKnown) {
        connected = m_nmState >= kNmStateConnectedLocal ||
                    (m_nmState == kNmStateUnknown && m_nmConnectivity >= kNmConnectivityPortal);
        if (connected) {
            flags |= IsModemConnectionType(m_nmType) ? kConnectionModem : kConnectionLan;
        }
    } else {
        connected = ConnectedByRoutes(flags);
    }
    if (ProxyConfigured()) {
        flags |= kConnectionProxy;
    }
    return connected;
}

void NetConnectionState::WatchRoutes() {
    if (QCoreApplication::instance() == nullptr) {
        return; // no event loop to deliver the kernel's reports: the tables are read each time
    }
    UniqueFd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!fd) {
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_LINK;
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    m_routeSocket = std::move(fd);
    m_routeNotifier = std::make_unique<QSocketNotifier>(m_routeSocket.Get(), QSocketNotifier::Read);
    connect(m_routeNotifier.get(), &QSocketNotifier::activated, this,
            [this] { DrainRouteEvents(); });
}

void NetConnectionState::DrainRouteEvents() {
    // What changed does not matter: any route or link message means the answer is worked out
    // again at the next query. Lost messages (ENOBUFS) mean the same.
    char buffer[8192];
    for (;;) {
        const ssize_t n = recv(m_routeSocket.Get(), buffer, sizeof buffer, 0);
        if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS))) {
            m_routesDirty = true;
            continue;
        }
        break; // EAGAIN: all read
    }
}

std::string NetConnectionState::Read(const std::string& path) const {
    return m_options.readFile ? m_options.readFile(path) : ReadFileStart(path, kFileLimit);
}

bool NetConnectionState::ConnectedByRoutes(std::uint32_t& flags) {
    if (m_routesDirty || !m_routeSocket) {
        m_routesFlags = 0;
        m_routesConnected = ReadRoutes(m_routesFlags);
        m_routesDirty = false;
    }
    flags |= m_routesFlags;
    return m_routesConnected;
}

bool NetConnectionState::ReadRoutes(std::uint32_t& flags) const {
    std::string link;
    unsigned long long bestMetric = ~0ULL;
    // A default route that is up and not a reject route; the lowest metric wins.
    const auto consider = [&](std::string_view name, unsigned long long routeFlags,
                              unsigned long long metric) {
        if (!ValidLinkName(name) || name == "lo" || (routeFlags & kRouteUp) == 0 ||
            (routeFlags & kRouteReject) != 0)
            return;
        if (link.empty() || metric < bestMetric) {
            link = std::string(name);
            bestMetric = metric;
        }
    };

    // /proc/net/route: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    ForEachLine(Read(m_options.procRoot + "/net/route"), [&](std::string_view line) {
        const auto f = Fields(line);
        unsigned long long routeFlags = 0;
        unsigned long long metric = 0;
        if (f.size() >= 8 && AllZero(f[1]) && AllZero(f[7]) && Hex(f[3], routeFlags) &&
            Hex(f[6], metric))
            consider(f[0], routeFlags, metric); // not the header, other routes or garbage
    });

    if (link.empty()) {
        // /proc/net/ipv6_route: dest plen src plen nexthop metric refcnt use flags device
        ForEachLine(Read(m_options.procRoot + "/net/ipv6_route"), [&](std::string_view line) {
            const auto f = Fields(line);
            unsigned long long routeFlags = 0;
            unsigned long long metric = 0;
            if (f.size() >= 10 && f[0].size() == 32 && AllZero(f[0]) && AllZero(f[1]) &&
                Hex(f[8], routeFlags) && Hex(f[5], metric))
                consider(f[9], routeFlags, metric);
        });
    }

    if (link.empty()) {
        return false;
    }
    flags |= LinkIsModem(link) ? kConnectionModem : kConnectionLan;
    return true;
}

bool NetConnectionState::LinkIsModem(const std::string& link) const {
    const std::string base = m_options.sysRoot + "/class/net/" + link;
    const std::string type = Read(base + "/type");
    if (!type.empty() && std::strtoul(type.c_str(), nullptr, 10) == kArphrdPpp) {
        return true;
    }
    bool wwan = false;
    ForEachLine(Read(base + "/uevent"),
                [&wwan](std::string_view line) { wwan |= line == "DEVTYPE=wwan"; });
    return wwan;
}

bool NetConnectionState::ProxyConfigured() {
    for (const char* name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        if (NonEmptyEnvironment(name)) {
            return true;
        }
    }
    return DesktopProxyConfigured();
}

bool NetConnectionState::DesktopProxyConfigured() {
    // The desktop's proxy setting, where it is kept in a plain file (KDE's kioslaverc,
    // [Proxy Settings] ProxyType: 1 manual, 2 configuration script, 3 detected; 4 means the
    // environment, which is read above). The file is read again only when it changes.
    if (m_proxyFile.empty()) {
        return false;
    }
    const long long now = MonotonicMs();
    if (m_proxyChecked && now - m_proxyCheckedMs < m_options.desktopProxyCheckMs &&
        now >= m_proxyCheckedMs) {
        return m_desktopProxy;
    }
    m_proxyChecked = true;
    m_proxyCheckedMs = now;
    struct stat info {};
    if (stat(m_proxyFile.c_str(), &info) != 0) {
        m_proxyStampValid = false;
        m_desktopProxy = false;
        return false;
    }
    if (m_proxyStampValid && info.st_mtim.tv_sec == m_proxyStamp.tv_sec &&
        info.st_mtim.tv_nsec == m_proxyStamp.tv_nsec && info.st_size == m_proxySize &&
        info.st_ino == m_proxyInode) {
        return m_desktopProxy;
    }
    m_proxyStamp = info.st_mtim;
    m_proxySize = info.st_size;
    m_proxyInode = info.st_ino;
    m_proxyStampValid = true;
    m_desktopProxy = false;
    bool inSection = false;
    ForEachLine(Read(m_proxyFile), [this, &inSection](std::string_view line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.starts_with('[')) {
            inSection = line == "[Proxy Settings]";
            return;
        }
        if (inSection && line.starts_with("ProxyType=")) {
            const std::string_view value = line.substr(std::strlen("ProxyType="));
            m_desktopProxy = value == "1" || value == "2" || value == "3";
        }
    });
    return m_desktopProxy;
}

} // namespace fb::linux_impl
