// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/network/PacketSocket.h"

#include "platform/linux/network/Ipv4AddressDump.h"

#include <arpa/inet.h>
#include <cerrno>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace fb::linux_impl {

namespace {

struct OwningInterface {
    int index = 0;
    bool loopback = false;
};

// The interface that carries `address` (network byte order): the first one the address table
// lists it on. An address with a label ("eth0:1") belongs to the interface it was added to.
std::optional<OwningInterface> FindOwningInterface(int socket, std::uint32_t address) {
    std::vector<Ipv4Entry> entries;
    if (!DumpIpv4Addresses(entries))
        return std::nullopt;
    for (const Ipv4Entry& entry : entries) {
        if (entry.address != address || entry.index == 0 ||
            entry.index > static_cast<std::uint32_t>(INT_MAX))
            continue;
        ifreq request{};
        request.ifr_ifindex = static_cast<int>(entry.index);
        if (::ioctl(socket, SIOCGIFNAME, &request) != 0 ||
            ::ioctl(socket, SIOCGIFFLAGS, &request) != 0)
            continue; // gone since the dump
        return OwningInterface{static_cast<int>(entry.index),
                               (request.ifr_flags & IFF_LOOPBACK) != 0};
    }
    return std::nullopt;
}

} // namespace

PacketSocket::PacketSocket(UniqueFd socket, UniqueFd wake, bool loopback)
    : m_socket(std::move(socket))
    , m_wake(std::move(wake))
    , m_loopback(loopback) {}

IPacketSocket::Result PacketSocket::Receive(std::uint8_t* buffer, std::size_t size,
                                            std::size_t& length) {
    for (;;) {
        pollfd fds[2] = {{m_wake.Get(), POLLIN, 0}, {m_socket.Get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Result::Failed;
        }
        if (fds[0].revents != 0)
            return Result::Woken;
        if (fds[1].revents == 0)
            continue;

        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC: the true length of a packet longer than the buffer.
        const ssize_t received = ::recvfrom(m_socket.Get(), buffer, size, MSG_TRUNC | MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return Result::Failed;
        }
        if (from.sll_protocol != htons(ETH_P_IP))
            continue;
        if (m_loopback && from.sll_pkttype == PACKET_OUTGOING)
            continue;
        if (static_cast<std::size_t>(received) > size)
            return Result::Failed;
        length = static_cast<std::size_t>(received);
        return Result::Packet;
    }
}

void PacketSocket::Wake() {
    const std::uint64_t one = 1;
    // The counter cannot overflow from single increments; a failed write leaves nothing to do.
    [[maybe_unused]] const ssize_t written = ::write(m_wake.Get(), &one, sizeof one);
}

void PacketSocket::Rearm() {
    std::uint64_t count = 0;
    // Non-blocking: reading resets the counter, or fails with EAGAIN when it is already 0.
    [[maybe_unused]] const ssize_t read = ::read(m_wake.Get(), &count, sizeof count);
}

std::unique_ptr<IPacketSocket> PacketSocketFactory::Open(std::uint32_t address) {
    // Protocol 0 receives nothing until the bind names the protocol and the interface, so no
    // packet of another interface slips in before it.
    UniqueFd socket(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return nullptr; // typically EPERM without CAP_NET_RAW

    const std::optional<OwningInterface> owner = FindOwningInterface(socket.Get(), address);
    if (!owner)
        return nullptr;

    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ALL); // the only protocol that also sees outgoing packets
    local.sll_ifindex = owner->index;
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return nullptr;

    // Receive-all. Failing to switch it on is not noticed: the socket then sees the
    // interface's own traffic only.
    packet_mreq membership{};
    membership.mr_ifindex = owner->index;
    membership.mr_type = PACKET_MR_PROMISC;
    (void)::setsockopt(socket.Get(), SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership,
                       sizeof membership);

    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.Valid())
        return nullptr;
    return std::make_unique<PacketSocket>(std::move(socket), std::move(wake), owner->loopback);
}

} // namespace fb::linux_impl
