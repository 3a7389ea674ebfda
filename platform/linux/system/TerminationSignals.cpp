// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/system/TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace fb::linux_impl {

namespace {

// Written by the signal handler, read by the user-interface thread: lock-free, so safe in a
// handler.
std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The self-pipe: the handler writes to [1], the event loop watches [0]. Both ends are
// non-blocking, so that a burst of signals can neither block the handler nor the reader.
int g_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    g_requested.store(true);
    const char byte = static_cast<char>(signalNumber);
    // A full pipe already holds a wake-up: dropping this byte loses nothing.
    [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool InstallTerminationSignalHandlers() {
    if (g_pipe[0] != -1)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

SignalTerminationRequests::SignalTerminationRequests(QObject* parent)
    : QObject(parent) {
    if (g_pipe[0] == -1)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this,
            &SignalTerminationRequests::OnPipeReadable);
}

SignalTerminationRequests::~SignalTerminationRequests() = default;

bool SignalTerminationRequests::Requested() const {
    return g_requested.load();
}

void SignalTerminationRequests::SetHandler(std::function<void()> handler) {
    m_handler = std::move(handler);
}

void SignalTerminationRequests::OnPipeReadable() {
    char bytes[64];
    ssize_t count = 0;
    bool any = false;
    while ((count = ::read(g_pipe[0], bytes, sizeof bytes)) > 0)
        any = true;
    // One answer for every signal that came together: ending twice makes no sense.
    if (any && m_handler)
        m_handler();
}

} // namespace fb::linux_impl
