// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/PacketSocket.h"
#include "platform/linux/files/UniqueFd.h"

namespace fb::linux_impl {

// A receive-all IPv4 socket: an AF_PACKET datagram socket (data from the IP header on) for
// every protocol, bound to one interface with promiscuous membership, keeping IPv4 packets in
// both directions. On loopback, where each packet passes twice, the outgoing copy is dropped.
// An eventfd wakes a pending receive.
class PacketSocket : public IPacketSocket {
public:
    PacketSocket(UniqueFd socket, UniqueFd wake, bool loopback);

    Result Receive(std::uint8_t* buffer, std::size_t size, std::size_t& length) override;
    void Wake() override;
    void Rearm() override;

private:
    UniqueFd m_socket;
    UniqueFd m_wake;
    bool m_loopback;
};

// Opens PacketSockets on the interface that owns a local IPv4 address. Needs CAP_NET_RAW;
// without it Open returns null.
class PacketSocketFactory : public IPacketSocketFactory {
public:
    std::unique_ptr<IPacketSocket> Open(std::uint32_t address) override;
};

} // namespace fb::linux_impl
