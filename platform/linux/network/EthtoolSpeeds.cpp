// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/EthtoolSpeeds.h"

#include <libmnl/libmnl.h>
#include <linux/ethtool.h>
#include <linux/ethtool_netlink.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>

namespace fb::linux_impl {

namespace {

// Both the family's description and a link's modes fit well within this.
constexpr std::size_t kBufferSize = 16 * 1024;

genlmsghdr* PutGenericHeader(char* buffer, std::uint16_t type, std::uint8_t command,
                             std::uint8_t version, unsigned seq) {
    nlmsghdr* message = mnl_nlmsg_put_header(buffer);
    message->nlmsg_type = type;
    message->nlmsg_flags = NLM_F_REQUEST;
    message->nlmsg_seq = seq;
    auto* header =
        static_cast<genlmsghdr*>(mnl_nlmsg_put_extra_header(message, sizeof(genlmsghdr)));
    header->cmd = command;
    header->version = version;
    return header;
}

// The unsigned attribute `type` at the top level of an answer: the family's number (16 bits) in
// the family's description, a link's speed (32 bits) in its modes.
struct Wanted {
    std::uint16_t type = 0;
    std::uint32_t value = 0;
    bool found = false;
};

int TakeWanted(const nlmsghdr* message, void* data) {
    const auto attribute = [](const nlattr* attr, void* into) -> int {
        auto& wanted = *static_cast<Wanted*>(into);
        if (mnl_attr_get_type(attr) != wanted.type) {
            return MNL_CB_OK;
        }
        if (mnl_attr_validate(attr, MNL_TYPE_U16) == 0 && mnl_attr_get_payload_len(attr) == 2) {
            wanted.value = mnl_attr_get_u16(attr);
            wanted.found = true;
        } else if (mnl_attr_validate(attr, MNL_TYPE_U32) == 0) {
            wanted.value = mnl_attr_get_u32(attr);
            wanted.found = true;
        }
        return MNL_CB_OK;
    };
    mnl_attr_parse(message, sizeof(genlmsghdr), attribute, data);
    return MNL_CB_STOP;
}

// The sysfs speed file shows the speed as a signed number, which makes anything above INT_MAX
// (SPEED_UNKNOWN among them) unknown.
bool KnownSpeed(std::uint32_t speed) {
    return speed <= static_cast<std::uint32_t>(INT_MAX);
}

// One link of a dump: its index from the request header the answer carries, and its speed.
int TakeDumpEntry(const nlmsghdr* message, void* data) {
    struct Entry {
        std::uint32_t index = 0;
        std::uint32_t speed = SPEED_UNKNOWN;
    } entry;
    const auto attribute = [](const nlattr* attr, void* into) -> int {
        auto& found = *static_cast<Entry*>(into);
        if (mnl_attr_get_type(attr) == ETHTOOL_A_LINKMODES_SPEED &&
            mnl_attr_validate(attr, MNL_TYPE_U32) == 0) {
            found.speed = mnl_attr_get_u32(attr);
        } else if (mnl_attr_get_type(attr) == ETHTOOL_A_LINKMODES_HEADER &&
                   mnl_attr_validate(attr, MNL_TYPE_NESTED) == 0) {
            const auto header = [](const nlattr* inner, void* to) -> int {
                if (mnl_attr_get_type(inner) == ETHTOOL_A_HEADER_DEV_INDEX &&
                    mnl_attr_validate(inner, MNL_TYPE_U32) == 0) {
                    static_cast<Entry*>(to)->index = mnl_attr_get_u32(inner);
                }
                return MNL_CB_OK;
            };
            mnl_attr_parse_nested(attr, header, &found);
        }
        return MNL_CB_OK;
    };
    mnl_attr_parse(message, sizeof(genlmsghdr), attribute, &entry);
    if (entry.index != 0 && KnownSpeed(entry.speed)) {
        static_cast<std::vector<std::pair<std::uint32_t, std::uint32_t>>*>(data)->emplace_back(
            entry.index, entry.speed);
    }
    return MNL_CB_OK;
}

} // namespace

void EthtoolSpeeds::SocketCloser::operator()(mnl_socket* socket) const {
    mnl_socket_close(socket);
}

EthtoolSpeeds::EthtoolSpeeds() {
    m_socket.reset(mnl_socket_open2(NETLINK_GENERIC, SOCK_CLOEXEC));
    if (!m_socket || mnl_socket_bind(m_socket.get(), 0, MNL_SOCKET_AUTOPID) != 0) {
        m_socket.reset();
        return;
    }
    // A request is answered at once; the limit only guards against a kernel that never does.
    timeval timeout{2, 0};
    setsockopt(mnl_socket_get_fd(m_socket.get()), SOL_SOCKET, SO_RCVTIMEO, &timeout,
               sizeof timeout);
    m_port = mnl_socket_get_portid(m_socket.get());
    m_buffer = std::make_unique<char[]>(kBufferSize);
    const unsigned seq = ++m_seq;
    PutGenericHeader(m_buffer.get(), GENL_ID_CTRL, CTRL_CMD_GETFAMILY, 1, seq);
    mnl_attr_put_strz(reinterpret_cast<nlmsghdr*>(m_buffer.get()), CTRL_ATTR_FAMILY_NAME,
                      ETHTOOL_GENL_NAME);
    Wanted family{CTRL_ATTR_FAMILY_ID};
    if (Ask(seq, TakeWanted, &family) && family.found) {
        m_family = static_cast<std::uint16_t>(family.value);
    }
}

EthtoolSpeeds::~EthtoolSpeeds() = default;

bool EthtoolSpeeds::Ask(unsigned seq, int (*take)(const nlmsghdr*, void*), void* data) {
    const auto* request = reinterpret_cast<const nlmsghdr*>(m_buffer.get());
    if (mnl_socket_sendto(m_socket.get(), request, request->nlmsg_len) < 0) {
        return false;
    }
    // Answers to earlier requests that timed out may still be queued: skip them.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t n = mnl_socket_recvfrom(m_socket.get(), m_buffer.get(), kBufferSize);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        const int result =
            mnl_cb_run(m_buffer.get(), static_cast<std::size_t>(n), seq, m_port, take, data);
        if (result < 0 && errno == EPROTO) {
            continue;
        }
        return result >= 0;
    }
    return false;
}

bool EthtoolSpeeds::Refresh() {
    m_dump.clear();
    m_dumped = false;
    if (m_family == 0) {
        return false;
    }
    const unsigned seq = ++m_seq;
    const nlmsghdr* request = PutModesRequest(seq, 0);
    if (mnl_socket_sendto(m_socket.get(), request, request->nlmsg_len) < 0) {
        return false;
    }
    // Links whose drivers have no speed to tell are left out of the answer.
    for (;;) {
        const ssize_t n = mnl_socket_recvfrom(m_socket.get(), m_buffer.get(), kBufferSize);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_dump.clear();
            return false;
        }
        const int result = mnl_cb_run(m_buffer.get(), static_cast<std::size_t>(n), seq, m_port,
                                      TakeDumpEntry, &m_dump);
        if (result == MNL_CB_STOP) {
            break;
        }
        if (result < 0 && errno != EPROTO) { // EPROTO: a late answer to an earlier request
            m_dump.clear();
            return false;
        }
    }
    std::sort(m_dump.begin(), m_dump.end());
    m_dumped = true;
    return true;
}

bool EthtoolSpeeds::Megabits(std::uint32_t index, std::uint32_t& megabits) {
    if (!m_dumped) {
        return AskMegabits(index, megabits);
    }
    const auto found = std::lower_bound(m_dump.begin(), m_dump.end(),
                                        std::pair<std::uint32_t, std::uint32_t>{index, 0});
    if (found == m_dump.end() || found->first != index) {
        return false;
    }
    megabits = found->second;
    return true;
}

bool EthtoolSpeeds::AskMegabits(std::uint32_t index, std::uint32_t& megabits) {
    if (m_family == 0) {
        return false;
    }
    const unsigned seq = ++m_seq;
    PutModesRequest(seq, index);
    Wanted speed{ETHTOOL_A_LINKMODES_SPEED};
    if (!Ask(seq, TakeWanted, &speed) || !speed.found || !KnownSpeed(speed.value)) {
        return false;
    }
    megabits = speed.value;
    return true;
}

// A request in m_buffer for the modes of link `index`, or of every link (a dump) for index 0.
const nlmsghdr* EthtoolSpeeds::PutModesRequest(unsigned seq, std::uint32_t index) {
    PutGenericHeader(m_buffer.get(), m_family, ETHTOOL_MSG_LINKMODES_GET, ETHTOOL_GENL_VERSION,
                     seq);
    auto* request = reinterpret_cast<nlmsghdr*>(m_buffer.get());
    nlattr* header = mnl_attr_nest_start(request, ETHTOOL_A_LINKMODES_HEADER);
    if (index == 0) {
        request->nlmsg_flags |= NLM_F_DUMP;
    } else {
        mnl_attr_put_u32(request, ETHTOOL_A_HEADER_DEV_INDEX, index);
    }
    mnl_attr_put_u32(request, ETHTOOL_A_HEADER_FLAGS, ETHTOOL_FLAG_COMPACT_BITSETS);
    mnl_attr_nest_end(request, header);
    return request;
}

} // namespace fb::linux_impl
