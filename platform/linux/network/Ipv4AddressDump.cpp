// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/Ipv4AddressDump.h"

#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace fb::linux_impl {

namespace {

struct SocketCloser {
    void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};

struct AddressAttributes {
    bool hasLocal = false;
    bool hasAddress = false;
    std::uint32_t local = 0;
    std::uint32_t address = 0;
};

int AttributeCallback(const nlattr* attribute, void* data) {
    auto* out = static_cast<AddressAttributes*>(data);
    const auto type = mnl_attr_get_type(attribute);
    if ((type != IFA_LOCAL && type != IFA_ADDRESS) ||
        mnl_attr_get_payload_len(attribute) != sizeof(std::uint32_t))
        return MNL_CB_OK;
    std::uint32_t value = 0;
    std::memcpy(&value, mnl_attr_get_payload(attribute), sizeof value);
    if (type == IFA_LOCAL) {
        out->hasLocal = true;
        out->local = value;
    } else {
        out->hasAddress = true;
        out->address = value;
    }
    return MNL_CB_OK;
}

int MessageCallback(const nlmsghdr* message, void* data) {
    if (message->nlmsg_type != RTM_NEWADDR ||
        mnl_nlmsg_get_payload_len(message) < sizeof(ifaddrmsg))
        return MNL_CB_OK;
    const auto* info = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(message));
    if (info->ifa_family != AF_INET)
        return MNL_CB_OK;
    AddressAttributes attributes;
    if (mnl_attr_parse(message, sizeof(ifaddrmsg), AttributeCallback, &attributes) < 0)
        return MNL_CB_OK;
    if (!attributes.hasLocal && !attributes.hasAddress)
        return MNL_CB_OK;
    // IFA_ADDRESS is the peer's address on a point-to-point link; IFA_LOCAL is always ours.
    auto* entries = static_cast<std::vector<Ipv4Entry>*>(data);
    entries->push_back(
        Ipv4Entry{attributes.hasLocal ? attributes.local : attributes.address, info->ifa_index});
    return MNL_CB_OK;
}

} // namespace

bool DumpIpv4Addresses(std::vector<Ipv4Entry>& entries) {
    entries.clear();
    const std::unique_ptr<mnl_socket, SocketCloser> socket(
        mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
    if (!socket || mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) != 0)
        return false;
    const unsigned port = mnl_socket_get_portid(socket.get());
    // Large enough for a whole batch of the kernel's answer: a smaller buffer truncates it.
    constexpr std::size_t size = 64 * 1024;
    const std::unique_ptr<char[]> buffer(new char[size]);

    nlmsghdr* request = mnl_nlmsg_put_header(buffer.get());
    request->nlmsg_type = RTM_GETADDR;
    request->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    const unsigned seq = 1;
    request->nlmsg_seq = seq;
    auto* info = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ifaddrmsg)));
    info->ifa_family = AF_INET;
    if (mnl_socket_sendto(socket.get(), request, request->nlmsg_len) < 0)
        return false;

    for (;;) {
        const ssize_t n = mnl_socket_recvfrom(socket.get(), buffer.get(), size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            entries.clear();
            return false;
        }
        const int result = mnl_cb_run(buffer.get(), static_cast<std::size_t>(n), seq, port,
                                      MessageCallback, &entries);
        if (result == MNL_CB_STOP)
            return true;
        if (result < 0) {
            entries.clear();
            return false;
        }
    }
}

} // namespace fb::linux_impl
