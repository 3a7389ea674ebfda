// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/PacketSocket.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace fb::fakes {

// Sockets that receive what the test queues. Every socket of one factory shares one record, so a
// test sees how many receives were pending at once across all sockets, how many sockets are
// open, and whether any was closed twice. Thread-safe.
class FakePacketSocketFactory : public IPacketSocketFactory {
public:
    // One queued event: a packet of `length` bytes, or a failed receive.
    struct Event {
        bool fail = false;
        std::size_t length = 0;
    };

    struct SocketState {
        std::uint32_t address = 0;
        std::deque<Event> queue;
        bool woken = false;
        int closes = 0;
        int rearms = 0;
        std::uint64_t delivered = 0; // packets handed to a receiver
        std::uint64_t failures = 0;  // receives that failed
    };

    class Socket : public IPacketSocket {
    public:
        Socket(FakePacketSocketFactory& owner, std::shared_ptr<SocketState> state)
            : m_owner(owner)
            , m_state(std::move(state)) {}
        ~Socket() override {
            std::lock_guard lock(m_owner.m_mutex);
            ++m_state->closes;
            m_owner.m_changed.notify_all();
        }

        Result Receive(std::uint8_t* buffer, std::size_t size, std::size_t& length) override {
            std::unique_lock lock(m_owner.m_mutex);
            ++m_owner.m_receiving;
            m_owner.m_maxReceiving = std::max(m_owner.m_maxReceiving, m_owner.m_receiving);
            m_owner.m_changed.notify_all();
            m_owner.m_changed.wait(lock, [&] { return m_state->woken || !m_state->queue.empty(); });
            --m_owner.m_receiving;
            Result result = Result::Woken;
            if (!m_state->woken) {
                const Event event = m_state->queue.front();
                m_state->queue.pop_front();
                if (event.fail || event.length > size) {
                    ++m_state->failures;
                    result = Result::Failed;
                } else {
                    std::fill_n(buffer, event.length, std::uint8_t{0x45});
                    length = event.length;
                    ++m_state->delivered;
                    result = Result::Packet;
                }
            }
            m_owner.m_changed.notify_all();
            return result;
        }

        void Wake() override {
            std::lock_guard lock(m_owner.m_mutex);
            m_state->woken = true;
            m_owner.m_changed.notify_all();
        }

        void Rearm() override {
            std::lock_guard lock(m_owner.m_mutex);
            m_state->woken = false;
            ++m_state->rearms;
        }

    private:
        FakePacketSocketFactory& m_owner;
        std::shared_ptr<SocketState> m_state;
    };

    // Failure switch: Open returns null (as without CAP_NET_RAW).
    bool failOpen = false;

    std::unique_ptr<IPacketSocket> Open(std::uint32_t address) override {
        std::lock_guard lock(m_mutex);
        openedAddresses.push_back(address);
        if (failOpen)
            return nullptr;
        auto state = std::make_shared<SocketState>();
        state->address = address;
        m_sockets.push_back(state);
        return std::make_unique<Socket>(*this, state);
    }

    // Addresses Open was called with, in order (failed opens too). Read on the test's thread.
    std::vector<std::uint32_t> openedAddresses;

    // Queues an event on the most recently opened socket.
    void Push(Event event) {
        std::lock_guard lock(m_mutex);
        if (!m_sockets.empty())
            m_sockets.back()->queue.push_back(event);
        m_changed.notify_all();
    }
    void PushPacket(std::size_t length) { Push(Event{false, length}); }
    void PushFailure() { Push(Event{true, 0}); }

    int SocketsOpened() const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_sockets.size());
    }
    // Sockets not closed yet.
    int SocketsOpen() const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count_if(m_sockets.begin(), m_sockets.end(),
                                              [](const auto& s) { return s->closes == 0; }));
    }
    // The largest number of times any one socket was closed.
    int MaxCloses() const {
        std::lock_guard lock(m_mutex);
        int most = 0;
        for (const auto& socket : m_sockets)
            most = std::max(most, socket->closes);
        return most;
    }
    // Receives pending now, and the most ever pending at once, over all sockets.
    int Receiving() const {
        std::lock_guard lock(m_mutex);
        return m_receiving;
    }
    int MaxReceiving() const {
        std::lock_guard lock(m_mutex);
        return m_maxReceiving;
    }
    std::uint64_t Delivered() const {
        std::lock_guard lock(m_mutex);
        std::uint64_t total = 0;
        for (const auto& socket : m_sockets)
            total += socket->delivered;
        return total;
    }
    // A copy of one socket's record (index in opening order).
    SocketState State(std::size_t index) const {
        std::lock_guard lock(m_mutex);
        return *m_sockets.at(index);
    }

    // Waits until `done` holds (checked under the lock, at every change) or the deadline
    // passes; returns whether it holds. The deadline only keeps a broken test from hanging.
    template <typename Predicate>
    bool WaitFor(Predicate done, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, deadline, [&] { return done(*this); });
    }
    // For predicates of WaitFor: the same figures without taking the lock again.
    int ReceivingLocked() const { return m_receiving; }
    std::uint64_t DeliveredLocked() const {
        std::uint64_t total = 0;
        for (const auto& socket : m_sockets)
            total += socket->delivered;
        return total;
    }
    int OpenLocked() const {
        return static_cast<int>(std::count_if(m_sockets.begin(), m_sockets.end(),
                                              [](const auto& s) { return s->closes == 0; }));
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<SocketState>> m_sockets;
    int m_receiving = 0;
    int m_maxReceiving = 0;
};

} // namespace fb::fakes
