// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Watcher.h"

#include "net/LocalAddresses.h"

#include <array>
#include <system_error>

namespace fb {

static_assert(std::atomic<std::int32_t>::is_always_lock_free,
              "the mode flag is read by the watcher without a lock");

CRawWatcher::CRawWatcher(IPacketSocketFactory& sockets, const std::atomic<std::int32_t>& modeFlag)
    : m_sockets(sockets)
    , m_modeFlag(modeFlag) {}

CRawWatcher::~CRawWatcher() {
    // No watcher outlives the objects it uses; the socket closes with m_socket.
    WakeAndJoin();
}

void CRawWatcher::OpenWatcherSocket(const CLocalAddresses& addresses) {
    WakeAndJoin();
    CloseSocket();

    const std::optional<std::uint32_t> address = addresses.WatcherAddress();
    if (!address)
        return;
    std::unique_ptr<IPacketSocket> socket = m_sockets.Open(*address);
    std::lock_guard lock(m_socketMutex);
    m_socket = std::move(socket);
}

void CRawWatcher::StartWatcher() {
    if (m_running.load())
        return;
    // A watcher that ended by itself is reaped before another starts.
    if (m_thread.joinable())
        m_thread.join();

    std::lock_guard lock(m_socketMutex);
    if (!m_socket)
        return;
    if (m_modeFlag.load() == 0) {
        m_socket.reset();
        return;
    }
    m_socket->Rearm();
    m_running.store(true);
    try {
        m_thread = std::thread(&CRawWatcher::WatcherThreadProc, this, m_socket.get());
        m_started.fetch_add(1);
    } catch (const std::system_error&) {
        // No thread to be had: the mode goes on without a watcher.
        m_running.store(false);
    }
}

void CRawWatcher::StopWatcher() {
    WakeAndJoin();
    if (m_modeFlag.load() == 0)
        CloseSocket();
}

bool CRawWatcher::HasWatcherSocket() const {
    std::lock_guard lock(m_socketMutex);
    return m_socket != nullptr;
}

void CRawWatcher::WakeAndJoin() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_socketMutex);
        if (m_socket)
            m_socket->Wake();
    }
    m_thread.join();
}

void CRawWatcher::CloseSocket() {
    std::lock_guard lock(m_socketMutex);
    m_socket.reset();
}

void CRawWatcher::WatcherThreadProc(IPacketSocket* socket) {
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    Exit exit = Exit::ModeOff;
    while (m_modeFlag.load() != 0) {
        std::size_t length = 0;
        const IPacketSocket::Result result = socket->Receive(buffer.data(), buffer.size(), length);
        if (result == IPacketSocket::Result::Failed) {
            exit = Exit::Failed;
            break;
        }
        if (result == IPacketSocket::Result::Woken) {
            // Switched off: the loop condition ends it and the socket is closed. Suspended or
            // quitting with the mode on: end and leave the socket to the owner.
            if (m_modeFlag.load() != 0)
                exit = Exit::Stopped;
            break;
        }
        // The packet is dropped.
        m_packets.fetch_add(1, std::memory_order_relaxed);
    }
    m_lastExit.store(exit);
    if (exit != Exit::Stopped)
        CloseSocket();
    m_running.store(false);
}

} // namespace fb
