// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ConnectionState.h"
#include "platform/linux/files/UniqueFd.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

class QDBusServiceWatcher;
class QSocketNotifier;

namespace fb::linux_impl {

// Whether the machine is connected, and how. Where NetworkManager runs, its answer counts: it is
// fetched once and then kept up to date from its change signals, so a query costs no bus round
// trip. Without NetworkManager a default route means connected, through a modem when the route's
// link is a PPP or WWAN link; that answer is kept and worked out again only after the kernel
// reports a change of routes or links (routing netlink, watched on the thread of the object), so a
// query reads no file while nothing changes. A configured proxy (environment or the desktop's
// setting, whose file is looked at no more than every few seconds) adds the proxy flag. Lives on
// the user-interface thread.
class NetConnectionState : public QObject, public IConnectionState {
    Q_OBJECT

public:
    struct Options {
        std::string procRoot = "/proc"; // net/route and net/ipv6_route below it
        std::string sysRoot = "/sys";   // class/net/<link>/type and uevent below it
        QString busAddress;             // D-Bus address of the system bus; empty: the default
        bool useNetworkManager = true;  // false: routes only
        std::string configHome;         // desktop settings; empty: $XDG_CONFIG_HOME or ~/.config
        // How often at most the desktop's proxy file is looked at (its time stamp); 0: each query.
        int desktopProxyCheckMs = 5000;
        // Reads a whole file (routing tables, sysfs, the desktop's settings); empty when it
        // cannot be read. Unset: the file is read directly.
        std::function<std::string(const std::string& path)> readFile;
    };

    explicit NetConnectionState(Options options, QObject* parent = nullptr);
    NetConnectionState();
    ~NetConnectionState() override;

    bool GetConnectedState(std::uint32_t& flags) override;

    // True while an answer of NetworkManager is held (it runs and has answered).
    bool HasNetworkManager() const { return m_nmKnown; }

    // The connection from the routing tables alone (without the proxy flag), as last worked out;
    // the tables are read again when the kernel has reported a change since, or always when its
    // reports cannot be had.
    bool ConnectedByRoutes(std::uint32_t& flags);

    // Whether the kernel's route and link changes are being followed.
    bool WatchingRoutes() const { return m_routeSocket.Valid(); }

    // Whether a proxy is configured in the environment or the desktop's settings.
    bool ProxyConfigured();

    // Whether a NetworkManager connection type is a modem's.
    static bool IsModemConnectionType(const QString& type);

private Q_SLOTS:
    void OnPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                             const QStringList& invalidated);
    void OnStateChanged(uint state);

private:
    void RequestAll();
    void WatchRoutes();
    void DrainRouteEvents();
    bool ReadRoutes(std::uint32_t& flags) const;
    std::string Read(const std::string& path) const;
    void TakeProperties(const QVariantMap& properties);
    bool LinkIsModem(const std::string& link) const;
    bool DesktopProxyConfigured();

    Options m_options;
    QString m_connectionName; // the private connection's name when busAddress is given
    std::unique_ptr<QDBusConnection> m_bus;
    QDBusServiceWatcher* m_watcher = nullptr; // child of this
    bool m_nmKnown = false;
    std::uint32_t m_nmState = 0;
    std::uint32_t m_nmConnectivity = 0;
    QString m_nmType;
    unsigned m_requests = 0;

    // The routing tables' answer, kept until the kernel reports a change.
    UniqueFd m_routeSocket;
    std::unique_ptr<QSocketNotifier> m_routeNotifier;
    bool m_routesDirty = true;
    bool m_routesConnected = false;
    std::uint32_t m_routesFlags = 0;

    // The desktop proxy setting, read again only when its file changes.
    long long m_proxyCheckedMs = 0;
    bool m_proxyChecked = false;
    std::string m_proxyFile;
    timespec m_proxyStamp{};
    long long m_proxySize = 0;
    unsigned long long m_proxyInode = 0;
    bool m_proxyStampValid = false;
    bool m_desktopProxy = false;
};

} // namespace fb::linux_impl
