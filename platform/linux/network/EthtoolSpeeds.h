// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

struct mnl_socket;
struct nlmsghdr;

namespace fb::linux_impl {

// Link speeds from the kernel's ethtool netlink family (the speed `ethtool <link>` shows, the
// same the link's sysfs speed file gives), asked over a socket of the network namespace the
// object was made in.
class EthtoolSpeeds {
public:
    EthtoolSpeeds();
    ~EthtoolSpeeds();
    EthtoolSpeeds(const EthtoolSpeeds&) = delete;
    EthtoolSpeeds& operator=(const EthtoolSpeeds&) = delete;

    // False when the kernel has no ethtool netlink family (before 5.6, or built without it).
    bool Available() const { return m_family != 0; }

    // Asks for the speeds of every link of the namespace at once: one dump, however many links
    // there are. Megabits answers from it until the next call. False when the dump failed;
    // Megabits then asks link by link.
    bool Refresh();

    // The speed of link `index` in megabits per second; false when the link reports none (no
    // speed at all, or an unknown one) or cannot be asked.
    bool Megabits(std::uint32_t index, std::uint32_t& megabits);

private:
    bool AskMegabits(std::uint32_t index, std::uint32_t& megabits);
    const nlmsghdr* PutModesRequest(unsigned seq, std::uint32_t index);
    struct SocketCloser {
        void operator()(mnl_socket* socket) const;
    };
    // Sends the request in m_buffer and runs `take` on the answer; false when none came.
    bool Ask(unsigned seq, int (*take)(const nlmsghdr*, void*), void* data);

    std::unique_ptr<mnl_socket, SocketCloser> m_socket;
    unsigned m_port = 0;
    unsigned m_seq = 0;
    std::uint16_t m_family = 0;
    std::unique_ptr<char[]> m_buffer;
    // The last dump: (link index, megabits) by index; valid when m_dumped.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_dump;
    bool m_dumped = false;
};

} // namespace fb::linux_impl
