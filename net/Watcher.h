// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/PacketSocket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace fb {

class CLocalAddresses;

// The raw-socket watcher of accelerate mode: one socket, bound to the chosen local address and
// switched to receive-all, and one worker thread that receives and drops every packet while the
// mode flag is non-zero.
//
// Public operations are called from the user-interface thread only; the observers may be called
// from any thread. At most one watcher thread exists at any time, it uses the one open socket,
// and that socket is closed exactly once (by the watcher when it finds the mode off or its
// receive fails, else by StopWatcher or the destructor).
class CRawWatcher {
public:
    // Size of the receive buffer: a longer packet fails the receive and ends the watcher.
    static constexpr std::size_t kReceiveBufferSize = 1600;

    // How the last watcher thread ended.
    enum class Exit {
        None,    // no watcher has ended yet
        ModeOff, // found the mode flag 0 and closed the socket (exit code 0)
        Failed,  // a receive failed; the socket is closed (exit code 1)
        Stopped, // stopped by StopWatcher while the mode stays on; the socket is kept
    };

    // `modeFlag` is the process-wide accelerate-mode flag, written by the user-interface thread;
    // it must outlive this object.
    CRawWatcher(IPacketSocketFactory& sockets, const std::atomic<std::int32_t>& modeFlag);
    ~CRawWatcher();

    CRawWatcher(const CRawWatcher&) = delete;
    CRawWatcher& operator=(const CRawWatcher&) = delete;

    // Mode switched on: ends a watcher still running, closes a socket still open, and opens a
    // new one on the address chosen from `addresses`. With an empty list, or when the platform
    // refuses the socket, no socket is open afterwards and the mode goes on without a watcher.
    void OpenWatcherSocket(const CLocalAddresses& addresses);

    // Starts the watcher thread on the open socket. Does nothing while a watcher runs, or when no
    // socket is open (never opened, refused, or closed after a failed receive: the mode then goes
    // on without a watcher until it is switched off and on again). With the mode flag at 0 it
    // closes the socket instead.
    void StartWatcher();

    // Wakes the watcher from its receive and joins it, promptly, whether or not a packet comes.
    // With the mode flag at 0 (mode switched off) the socket is closed as well; otherwise (a
    // suspension) it stays open for a later StartWatcher.
    void StopWatcher();

    // Observers.
    bool IsWatcherRunning() const { return m_running.load(); }
    bool HasWatcherSocket() const;
    std::uint64_t PacketsReceived() const { return m_packets.load(); }
    std::uint32_t WatchersStarted() const { return m_started.load(); }
    Exit LastExit() const { return m_lastExit.load(); }

private:
    void WatcherThreadProc(IPacketSocket* socket);
    void WakeAndJoin();
    void CloseSocket();

    IPacketSocketFactory& m_sockets;
    const std::atomic<std::int32_t>& m_modeFlag;

    // Guards m_socket against the watcher closing it while the user-interface thread wakes it.
    mutable std::mutex m_socketMutex;
    std::unique_ptr<IPacketSocket> m_socket;
    std::thread m_thread;

    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_packets{0};
    std::atomic<std::uint32_t> m_started{0};
    std::atomic<Exit> m_lastExit{Exit::None};
};

} // namespace fb
