// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/NetlinkInterfaceTable.h"

#include "platform/Text.h"
#include "platform/linux/network/EthtoolSpeeds.h"
#include "platform/linux/network/UdevDatabase.h"

#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace fb::linux_impl {

namespace detail {

constexpr std::size_t kNameMax = IFNAMSIZ;
constexpr std::size_t kDeviceNameMax = 64;

// The attributes of one RTM_NEWLINK message that the table reads.
struct LinkAttributes {
    std::uint32_t index = 0;
    unsigned type = 0;
    unsigned flags = 0;
    char name[kNameMax] = {};
    bool hasName = false;
    bool hasStats = false;
    std::uint64_t rxBytes = 0;
    std::uint64_t txBytes = 0;
    bool hasKind = false;      // a virtual link of some kind (veth, bridge...)
    bool knowsParents = false; // the kernel says whether the link sits on a device (5.15 on)
    bool hasParent = false;    // it does: the device's name and bus (when it has one) follow
    char parentName[kDeviceNameMax] = {};
    char parentBus[kDeviceNameMax] = {};
};

} // namespace detail

using detail::LinkAttributes;

namespace {

// A reply to a one-link request holds a few kilobytes of attributes; this leaves ample room.
constexpr std::size_t kReplyBufferSize = 32 * 1024;
// Dumps come in parts of up to 32 KiB each (more for links with very many attributes).
constexpr std::size_t kDumpBufferSize = 64 * 1024;
using detail::kNameMax;
constexpr unsigned kArphrdIp6Gre = 823; // ARPHRD_IP6GRE, missing from the C library's header

// Copies a string attribute into `out` (zero-terminated); false when empty or too long.
template <std::size_t N>
bool CopyName(const unsigned char* payload, std::size_t length, char (&out)[N]) {
    const std::size_t n = strnlen(reinterpret_cast<const char*>(payload), length);
    if (n == 0 || n >= N) {
        return false;
    }
    std::memcpy(out, payload, n);
    out[n] = '\0';
    return true;
}

bool HasKind(const nlattr* linkInfo) {
    bool kind = false;
    mnl_attr_parse_nested(
        linkInfo,
        [](const nlattr* attr, void* data) -> int {
            *static_cast<bool*>(data) |= mnl_attr_get_type(attr) == IFLA_INFO_KIND;
            return MNL_CB_OK;
        },
        &kind);
    return kind;
}

int AttributeCallback(const nlattr* attr, void* data) {
    auto* link = static_cast<LinkAttributes*>(data);
    const auto type = mnl_attr_get_type(attr);
    const auto length = mnl_attr_get_payload_len(attr);
    const auto* payload = static_cast<const unsigned char*>(mnl_attr_get_payload(attr));
    // Attributes are numbered in the order the kernel gained them: one at or past the parent
    // device's number means the kernel would have told of a parent device.
    link->knowsParents |= type >= IFLA_PARENT_DEV_NAME;
    switch (type) {
    case IFLA_IFNAME:
        // The name is at most IFNAMSIZ - 1 bytes and ends with a zero byte.
        link->hasName = CopyName(payload, length, link->name);
        break;
    case IFLA_PARENT_DEV_NAME:
        link->hasParent = true;
        CopyName(payload, length, link->parentName);
        break;
    case IFLA_PARENT_DEV_BUS_NAME:
        CopyName(payload, length, link->parentBus);
        break;
    case IFLA_LINKINFO:
        link->hasKind = HasKind(attr);
        break;
    case IFLA_STATS64:
        // struct rtnl_link_stats64 starts rx_packets, tx_packets, rx_bytes, tx_bytes (u64 each);
        // the payload is only 4-byte aligned, so the fields are copied out.
        if (length >= 4 * sizeof(std::uint64_t)) {
            std::memcpy(&link->rxBytes, payload + 2 * sizeof(std::uint64_t), sizeof(std::uint64_t));
            std::memcpy(&link->txBytes, payload + 3 * sizeof(std::uint64_t), sizeof(std::uint64_t));
            link->hasStats = true;
        }
        break;
    case IFLA_STATS:
        // struct rtnl_link_stats: the same four fields as u32; used only without IFLA_STATS64.
        if (!link->hasStats && length >= 4 * sizeof(std::uint32_t)) {
            std::uint32_t rx = 0;
            std::uint32_t tx = 0;
            std::memcpy(&rx, payload + 2 * sizeof(std::uint32_t), sizeof rx);
            std::memcpy(&tx, payload + 3 * sizeof(std::uint32_t), sizeof tx);
            link->rxBytes = rx;
            link->txBytes = tx;
        }
        break;
    default:
        break;
    }
    return MNL_CB_OK;
}

bool ParseLink(const nlmsghdr* message, LinkAttributes& link) {
    if (message->nlmsg_type != RTM_NEWLINK ||
        mnl_nlmsg_get_payload_len(message) < sizeof(ifinfomsg)) {
        return false;
    }
    const auto* info = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(message));
    link.index = static_cast<std::uint32_t>(info->ifi_index);
    link.type = info->ifi_type;
    link.flags = info->ifi_flags;
    if (mnl_attr_parse(message, sizeof(ifinfomsg), AttributeCallback, &link) < 0) {
        return false;
    }
    return link.hasName && link.index != 0;
}

nlmsghdr* PutLinkRequest(char* buffer, std::uint16_t flags, unsigned seq, std::uint32_t index) {
    nlmsghdr* message = mnl_nlmsg_put_header(buffer);
    message->nlmsg_type = RTM_GETLINK;
    message->nlmsg_flags = flags;
    message->nlmsg_seq = seq;
    auto* info = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(message, sizeof(ifinfomsg)));
    info->ifi_family = AF_UNSPEC;
    info->ifi_index = static_cast<int>(index);
    return message;
}

bool IsWideArea(unsigned type, unsigned flags) {
    switch (type) {
    case ARPHRD_PPP:
    case ARPHRD_SIT:
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_IPGRE:
    case kArphrdIp6Gre:
        return true;
    default:
        return (flags & IFF_POINTOPOINT) != 0;
    }
}

// Drops trailing blanks and cuts `text` to at most `chars` UTF-8 characters.
std::string CutCharacters(std::string_view text, std::size_t chars) {
    text = text.substr(0, Utf8PrefixBytes(text, chars));
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::size_t CountCharacters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Asks for every link of the namespace with request `seq` and collects the answers.
bool DumpLinks(mnl_socket* socket, unsigned port, unsigned seq,
               std::vector<LinkAttributes>& links) {
    std::vector<char> buffer(std::max<std::size_t>(kDumpBufferSize, MNL_SOCKET_BUFFER_SIZE));
    const nlmsghdr* request = PutLinkRequest(buffer.data(), NLM_F_REQUEST | NLM_F_DUMP, seq, 0);
    if (mnl_socket_sendto(socket, request, request->nlmsg_len) < 0) {
        return false;
    }
    const auto collect = [](const nlmsghdr* message, void* data) -> int {
        LinkAttributes link;
        if (ParseLink(message, link)) {
            static_cast<std::vector<LinkAttributes>*>(data)->push_back(link);
        }
        return MNL_CB_OK;
    };
    for (;;) {
        const ssize_t n = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        const int result =
            mnl_cb_run(buffer.data(), static_cast<std::size_t>(n), seq, port, collect, &links);
        if (result == MNL_CB_STOP) {
            return true;
        }
        if (result < 0 && errno != EPROTO) { // EPROTO: a late answer to an earlier request
            return false;
        }
    }
}

// Reads a small sysfs attribute into `buffer` (zero-terminated); the length read, or -1.
ssize_t ReadAttribute(int fd, char* buffer, std::size_t size) {
    ssize_t n = 0;
    do {
        n = pread(fd, buffer, size - 1, 0);
    } while (n < 0 && errno == EINTR);
    buffer[n > 0 ? n : 0] = '\0';
    return n;
}

bool ValidName(const char* name) {
    return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
           std::strchr(name, '/') == nullptr;
}

} // namespace

void NetlinkInterfaceTable::SocketCloser::operator()(mnl_socket* socket) const {
    mnl_socket_close(socket);
}

NetlinkInterfaceTable::NetlinkInterfaceTable()
    : NetlinkInterfaceTable(Options{}) {}

NetlinkInterfaceTable::NetlinkInterfaceTable(Options options)
    : m_options(std::move(options)) {
    Socket socket(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
    if (socket && mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) == 0) {
        // A request is answered at once; the limit only guards against a kernel that never does.
        timeval timeout{2, 0};
        setsockopt(mnl_socket_get_fd(socket.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout,
                   sizeof timeout);
        m_queryPort = mnl_socket_get_portid(socket.get());
        m_query = std::move(socket);
        m_buffer = std::make_unique<char[]>(kReplyBufferSize);
        m_bufferSize = kReplyBufferSize;
    }
    // Made here so that its socket belongs to the same network namespace as the query socket.
    m_speeds = std::make_unique<EthtoolSpeeds>();
    if (!m_speeds->Available()) {
        m_speeds.reset();
    }
}

NetlinkInterfaceTable::~NetlinkInterfaceTable() = default;

bool NetlinkInterfaceTable::Available() {
    return m_query != nullptr;
}

bool NetlinkInterfaceTable::ReadTable(std::vector<IfRow>& rows) {
    std::vector<LinkAttributes> links;
    if (!m_query || !DumpLinks(m_query.get(), m_queryPort, ++m_seq, links)) {
        return false;
    }
    std::sort(links.begin(), links.end(),
              [](const LinkAttributes& a, const LinkAttributes& b) { return a.index < b.index; });
    std::vector<IfRow> result;
    result.reserve(links.size());
    m_known.clear();
    m_sysfsIsOwn = -1;
    if (m_speeds) {
        m_speeds->Refresh(); // every link's speed in one answer
    }
    for (const LinkAttributes& link : links) {
        IfRow row = DescribeLink(link);
        row.inOctets = static_cast<std::uint32_t>(link.rxBytes);
        row.outOctets = static_cast<std::uint32_t>(link.txBytes);
        result.push_back(std::move(row));
        m_known.emplace_back(link.index, link.name);
    }
    rows = std::move(result);
    return true;
}

IfRow NetlinkInterfaceTable::DescribeLink(const LinkAttributes& link) {
    // Loopback and wide-area links get fixed descriptions that mark them for the adapter list
    // to leave out, with neither a model nor a speed: nothing more is asked about them. Of the
    // others, udev's database is read only for links with a device behind them.
    const bool special = (link.flags & IFF_LOOPBACK) != 0 || link.type == ARPHRD_LOOPBACK ||
                         IsWideArea(link.type, link.flags);
    IfRow row;
    row.index = link.index;
    std::string model;
    if (!special && ValidName(link.name)) {
        row.speed = LinkSpeed(link);
        if (m_options.useHardwareDatabase && HasDevice(link)) {
            model = HardwareModel(link);
        }
    }
    row.description = Describe(link.name, link.type, link.flags, model);
    return row;
}

std::uint32_t NetlinkInterfaceTable::LinkSpeed(const LinkAttributes& link) {
    if (!m_speeds) {
        // A kernel without ethtool netlink: the sysfs speed file, when the entry is the link's
        // own (not a link of the same name in another network namespace).
        const std::uint32_t speed = ReadSpeed(link.name);
        return speed != 0 && SysfsNameMatches(link.name, link.index) ? speed : 0;
    }
    // As the sysfs speed file, which has a speed only for links that are up. sysfs shows the
    // links of one network namespace, the one it was mounted in: when that is not the table's
    // (the first link asked about is not there under its index), no speed counts, as none would
    // from sysfs.
    if ((link.flags & IFF_UP) == 0) {
        return 0;
    }
    if (m_sysfsIsOwn < 0) {
        m_sysfsIsOwn = SysfsNameMatches(link.name, link.index) ? 1 : 0;
    }
    std::uint32_t megabits = 0;
    if (m_sysfsIsOwn == 0 || !m_speeds->Megabits(link.index, megabits)) {
        return 0;
    }
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{megabits} * 1000000, UINT32_MAX));
}

bool NetlinkInterfaceTable::HasDevice(const LinkAttributes& link) const {
    if (link.knowsParents) {
        return link.hasParent;
    }
    // An older kernel: virtual links (veth, bridge, ifb, tun, wireguard...), which the kernel
    // gives a kind, have no device; of the others sysfs tells, when the entry is the link's own.
    if (link.hasKind) {
        return false;
    }
    const std::string path = m_options.sysClassNet + "/" + link.name + "/device";
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && SysfsNameMatches(link.name, link.index);
}

std::string NetlinkInterfaceTable::HardwareModel(const LinkAttributes& link) const {
    if (m_options.hardwareModel) {
        return m_options.hardwareModel(link.name);
    }
    UdevLink lookup;
    lookup.udevData = m_options.udevData;
    lookup.sysClassNet = m_options.sysClassNet;
    lookup.name = link.name;
    lookup.index = link.index;
    if (link.hasParent) {
        lookup.parentBus = link.parentBus;
        lookup.parentName = link.parentName;
    }
    return UdevHardwareModel(lookup);
}

const std::string* NetlinkInterfaceTable::KnownName(std::uint32_t index) const {
    for (const auto& [known, name] : m_known) {
        if (known == index) {
            return &name;
        }
    }
    return nullptr;
}

bool NetlinkInterfaceTable::ReceiveAnswer(unsigned seq, int (*take)(const nlmsghdr*, void*),
                                          void* data, int& error) {
    error = 0;
    // Answers to earlier requests that timed out may still be queued: skip them.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t n = mnl_socket_recvfrom(m_query.get(), m_buffer.get(), m_bufferSize);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        const int result =
            mnl_cb_run(m_buffer.get(), static_cast<std::size_t>(n), seq, m_queryPort, take, data);
        if (result < 0 && errno == EPROTO) {
            continue;
        }
        if (result < 0) {
            error = errno;
            return false;
        }
        return true;
    }
    return false;
}

NetlinkInterfaceTable::StatsAnswer NetlinkInterfaceTable::RequestStats(std::uint32_t index,
                                                                       std::uint64_t& rxBytes,
                                                                       std::uint64_t& txBytes) {
    const unsigned seq = ++m_seq;
    nlmsghdr* request = mnl_nlmsg_put_header(m_buffer.get());
    request->nlmsg_type = RTM_GETSTATS;
    request->nlmsg_flags = NLM_F_REQUEST;
    request->nlmsg_seq = seq;
    auto* header =
        static_cast<if_stats_msg*>(mnl_nlmsg_put_extra_header(request, sizeof(if_stats_msg)));
    header->family = AF_UNSPEC;
    header->ifindex = index;
    header->filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    if (mnl_socket_sendto(m_query.get(), request, request->nlmsg_len) < 0) {
        return StatsAnswer::Failed;
    }
    struct Answer {
        std::uint32_t index = 0;
        bool read = false;
        std::uint64_t rx = 0;
        std::uint64_t tx = 0;
    } answer{index};
    const auto take = [](const nlmsghdr* message, void* data) -> int {
        auto* out = static_cast<Answer*>(data);
        if (message->nlmsg_type != RTM_NEWSTATS ||
            mnl_nlmsg_get_payload_len(message) < sizeof(if_stats_msg)) {
            return MNL_CB_STOP;
        }
        const auto* stats = static_cast<const if_stats_msg*>(mnl_nlmsg_get_payload(message));
        if (stats->ifindex != out->index) {
            return MNL_CB_STOP;
        }
        const auto attribute = [](const nlattr* attr, void* into) -> int {
            // struct rtnl_link_stats64 starts rx_packets, tx_packets, rx_bytes, tx_bytes.
            if (mnl_attr_get_type(attr) == IFLA_STATS_LINK_64 &&
                mnl_attr_get_payload_len(attr) >= 4 * sizeof(std::uint64_t)) {
                auto* found = static_cast<Answer*>(into);
                const auto* payload = static_cast<const unsigned char*>(mnl_attr_get_payload(attr));
                std::memcpy(&found->rx, payload + 2 * sizeof(std::uint64_t), sizeof found->rx);
                std::memcpy(&found->tx, payload + 3 * sizeof(std::uint64_t), sizeof found->tx);
                found->read = true;
            }
            return MNL_CB_OK;
        };
        mnl_attr_parse(message, sizeof(if_stats_msg), attribute, out);
        return MNL_CB_STOP;
    };
    int error = 0;
    if (!ReceiveAnswer(seq, take, &answer, error)) {
        if (error == ENODEV) {
            return StatsAnswer::Gone;
        }
        // A kernel older than the request (4.7) does not know it.
        return error == EOPNOTSUPP || error == EINVAL ? StatsAnswer::Unsupported
                                                      : StatsAnswer::Failed;
    }
    if (!answer.read) {
        return StatsAnswer::Unsupported;
    }
    rxBytes = answer.rx;
    txBytes = answer.tx;
    return StatsAnswer::Read;
}

bool NetlinkInterfaceTable::ReadCounters(std::uint32_t index, IfCounters& counters) {
    if (!m_query || index == 0 || index > static_cast<std::uint32_t>(INT_MAX)) {
        return false;
    }
    // The statistics alone when the link's name is known from the table (for its speed file):
    // the kernel then fills a few hundred bytes instead of the whole link with its
    // configuration, which matters to a read that runs twice a second.
    if (m_statisticsRequests && m_options.statisticsRequests) {
        if (const std::string* name = KnownName(index)) {
            std::uint64_t rx = 0;
            std::uint64_t tx = 0;
            switch (RequestStats(index, rx, tx)) {
            case StatsAnswer::Read:
                counters.inOctets = static_cast<std::uint32_t>(rx);
                counters.outOctets = static_cast<std::uint32_t>(tx);
                counters.speed = CachedSpeed(name->c_str(), index);
                return true;
            case StatsAnswer::Gone:
            case StatsAnswer::Failed:
                return false;
            case StatsAnswer::Unsupported:
                m_statisticsRequests = false;
                break;
            }
        }
    }
    const unsigned seq = ++m_seq;
    const nlmsghdr* request = PutLinkRequest(m_buffer.get(), NLM_F_REQUEST, seq, index);
    if (mnl_socket_sendto(m_query.get(), request, request->nlmsg_len) < 0) {
        return false;
    }
    LinkAttributes link;
    const auto take = [](const nlmsghdr* message, void* data) -> int {
        auto* out = static_cast<LinkAttributes*>(data);
        if (!ParseLink(message, *out)) {
            out->hasName = false;
        }
        return MNL_CB_STOP;
    };
    int error = 0;
    if (!ReceiveAnswer(seq, take, &link, error) || !link.hasName || link.index != index) {
        return false; // ENODEV: the link is gone
    }
    counters.inOctets = static_cast<std::uint32_t>(link.rxBytes);
    counters.outOctets = static_cast<std::uint32_t>(link.txBytes);
    counters.speed = CachedSpeed(link.name, index);
    return true;
}

std::string NetlinkInterfaceTable::Describe(const std::string& name, unsigned type, unsigned flags,
                                            const std::string& model) {
    if ((flags & IFF_LOOPBACK) != 0 || type == ARPHRD_LOOPBACK) {
        return "Loopback (" + name + ")";
    }
    if (IsWideArea(type, flags)) {
        return "WAN " + name;
    }
    if (model.empty()) {
        return name;
    }
    // "<model> (<name>)", the model shortened so that the name stays within the 38 characters
    // that the adapter list shows.
    constexpr std::size_t kShown = 38;
    const std::size_t suffix = CountCharacters(name) + 3;
    std::string shown = model;
    if (CountCharacters(model) + suffix > kShown && suffix + 8 <= kShown) {
        const std::size_t room = kShown - suffix;
        shown = CutCharacters(model, room);
        // End at a word where one ends in the second half of the room.
        if (CountCharacters(model) > room && model[shown.size()] != ' ') {
            const std::size_t blank = shown.rfind(' ');
            if (blank != std::string::npos && CountCharacters(shown.substr(0, blank)) >= room / 2) {
                shown = CutCharacters(shown.substr(0, blank), room);
            }
        }
    }
    return shown + " (" + name + ")";
}

std::uint32_t NetlinkInterfaceTable::SpeedFromText(const char* text, std::size_t length) {
    std::uint64_t megabits = 0;
    std::size_t i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    const std::size_t first = i;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        megabits = std::min<std::uint64_t>(megabits * 10 + static_cast<unsigned>(text[i] - '0'),
                                           UINT32_MAX);
    }
    if (i == first || (i < length && text[i] != '\n' && text[i] != '\0')) {
        return 0; // "-1", "unknown" or anything else that is not a plain number
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(megabits * 1000000, UINT32_MAX));
}

UniqueFd NetlinkInterfaceTable::OpenAttribute(const char* name, const char* attribute) const {
    // Built in place: the refresh that reopens the speed file must not allocate.
    char path[PATH_MAX];
    const int n = std::snprintf(path, sizeof path, "%s/%s/%s", m_options.sysClassNet.c_str(), name,
                                attribute);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) {
        return UniqueFd();
    }
    return UniqueFd(open(path, O_RDONLY | O_CLOEXEC));
}

bool NetlinkInterfaceTable::SysfsNameMatches(const char* name, std::uint32_t index) const {
    const UniqueFd file = OpenAttribute(name, "ifindex");
    char text[32];
    return file && ReadAttribute(file.Get(), text, sizeof text) > 0 &&
           std::strtoul(text, nullptr, 10) == index;
}

std::uint32_t NetlinkInterfaceTable::ReadSpeed(const char* name) const {
    return SpeedIn(OpenAttribute(name, "speed"));
}

std::uint32_t NetlinkInterfaceTable::CachedSpeed(const char* name, std::uint32_t index) {
    if (index != m_speedIndex || std::strncmp(name, m_speedName, sizeof m_speedName) != 0) {
        m_speedIndex = index;
        std::snprintf(m_speedName, sizeof m_speedName, "%s", name);
        m_speedFile.Reset();
        if (ValidName(name) && SysfsNameMatches(name, index)) {
            m_speedFile = OpenAttribute(name, "speed");
        }
    }
    return SpeedIn(m_speedFile);
}

std::uint32_t NetlinkInterfaceTable::SpeedIn(const UniqueFd& file) {
    char text[32];
    const ssize_t length = file ? ReadAttribute(file.Get(), text, sizeof text) : -1;
    return length > 0 ? SpeedFromText(text, static_cast<std::size_t>(length)) : 0;
}

} // namespace fb::linux_impl
