// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TerminationRequests.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace fb::linux_impl {

// Catches SIGTERM and SIGINT for the rest of the run: the handler only notes the request and
// writes one byte to a pipe, so that a signal is never lost, whenever it comes. Needs nothing
// but the C library: call it first in main, before anything can block (connecting to the
// display or the session bus). False when the pipe or a handler could not be installed.
bool InstallTerminationSignalHandlers();

// The requests caught by those handlers, delivered to the event loop through the pipe's read
// end. Needs the running application object; one per process.
class SignalTerminationRequests : public QObject, public ITerminationRequests {
public:
    explicit SignalTerminationRequests(QObject* parent = nullptr);
    ~SignalTerminationRequests() override;

    bool Requested() const override;
    void SetHandler(std::function<void()> handler) override;

private:
    void OnPipeReadable();

    QSocketNotifier* m_notifier = nullptr;
    std::function<void()> m_handler;
};

} // namespace fb::linux_impl
