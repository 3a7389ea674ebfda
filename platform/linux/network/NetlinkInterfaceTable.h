// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/InterfaceTable.h"
#include "platform/linux/files/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct mnl_socket;
struct nlmsghdr;

namespace fb::linux_impl {

class EthtoolSpeeds;
namespace detail {
struct LinkAttributes;
} // namespace detail

// The interface table from the kernel's routing netlink: one row per link of the network
// namespace the object was made in, in interface-index order. Counters are the links' 64-bit
// byte counters cut to 32 bits; the speed comes from the kernel's ethtool interface when the
// table is read and from sysfs when one link's counters are; the description is the hardware
// model where udev's hardware database knows it, else the interface name, with loopback links
// described as "Loopback (<name>)" and point-to-point or tunnel links as "WAN <name>", the
// words by which the adapter list leaves them out. Reading the table costs one dump of the
// links and one speed request per listable link that is up; only links with a device behind
// them (as the kernel reports with the link) are looked up in udev's database.
class NetlinkInterfaceTable : public IInterfaceTable {
public:
    struct Options {
        std::string sysClassNet = "/sys/class/net"; // where <name>/speed and <name>/ifindex are
        std::string udevData = "/run/udev/data";    // udev's database of devices
        bool useHardwareDatabase = true;            // look hardware models up
        // Looks up the hardware model of a link (by name) that has a device behind it; unset:
        // udev's database. Asked only when useHardwareDatabase is set.
        std::function<std::string(const std::string& name)> hardwareModel;
        // Read counters with RTM_GETSTATS (the 64-bit statistics alone) where the kernel has it;
        // off: always the full link (RTM_GETLINK).
        bool statisticsRequests = true;
    };

    NetlinkInterfaceTable();
    explicit NetlinkInterfaceTable(Options options);
    ~NetlinkInterfaceTable() override;
    NetlinkInterfaceTable(const NetlinkInterfaceTable&) = delete;
    NetlinkInterfaceTable& operator=(const NetlinkInterfaceTable&) = delete;

    bool Available() override;
    bool ReadTable(std::vector<IfRow>& rows) override;
    bool ReadCounters(std::uint32_t index, IfCounters& counters) override;

    // The description of a link from its name, ARPHRD_* type, IFF_* flags and hardware model
    // (empty when unknown).
    static std::string Describe(const std::string& name, unsigned type, unsigned flags,
                                const std::string& model);

    // Bits per second from the text of a sysfs speed file (megabits per second): clamped to
    // 32 bits; 0 for "-1", garbage or nothing.
    static std::uint32_t SpeedFromText(const char* text, std::size_t length);

private:
    struct SocketCloser {
        void operator()(mnl_socket* socket) const;
    };
    using Socket = std::unique_ptr<mnl_socket, SocketCloser>;
    // The row of a link without its counters: its description and speed.
    IfRow DescribeLink(const detail::LinkAttributes& link);
    // The speed of a listable link, in bits per second.
    std::uint32_t LinkSpeed(const detail::LinkAttributes& link);
    bool HasDevice(const detail::LinkAttributes& link) const;
    std::string HardwareModel(const detail::LinkAttributes& link) const;
    // Opens <sysClassNet>/<name>/<attribute> for reading.
    UniqueFd OpenAttribute(const char* name, const char* attribute) const;
    bool SysfsNameMatches(const char* name, std::uint32_t index) const;
    std::uint32_t ReadSpeed(const char* name) const;
    std::uint32_t CachedSpeed(const char* name, std::uint32_t index);
    // The speed in an open sysfs speed file, read from its start; 0 when it cannot be read.
    static std::uint32_t SpeedIn(const UniqueFd& file);
    // The name the last table read gave the link, or null.
    const std::string* KnownName(std::uint32_t index) const;
    // Receives the answer to request `seq` on the query socket, skipping late answers to
    // earlier ones, and runs `take` on it. False when no answer came or the kernel refused the
    // request; `error` is then the kernel's error number, or 0.
    bool ReceiveAnswer(unsigned seq, int (*take)(const nlmsghdr*, void*), void* data, int& error);
    enum class StatsAnswer { Read, Gone, Unsupported, Failed };
    StatsAnswer RequestStats(std::uint32_t index, std::uint64_t& rxBytes, std::uint64_t& txBytes);

    Options m_options;
    Socket m_query;
    unsigned m_queryPort = 0;
    unsigned m_seq = 0;
    bool m_statisticsRequests = true; // off once the kernel turns RTM_GETSTATS down
    std::unique_ptr<char[]> m_buffer; // the reply of a one-link request, allocated once
    std::size_t m_bufferSize = 0;
    std::unique_ptr<EthtoolSpeeds> m_speeds; // null when the kernel has no ethtool netlink
    int m_sysfsIsOwn = -1; // whether sysfs shows this namespace's links: 1, 0, or -1 not known yet

    // The speed file of the link read last, kept open and read again at offset 0.
    UniqueFd m_speedFile;
    std::uint32_t m_speedIndex = 0;
    char m_speedName[16] = {};

    std::vector<std::pair<std::uint32_t, std::string>> m_known; // links of the last table read
};

} // namespace fb::linux_impl
