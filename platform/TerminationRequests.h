// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace fb {

// Requests from outside to end the process: the session's logout (SIGTERM), Ctrl+C in a
// terminal (SIGINT). The program answers them the way it answers its own Exit command.
class ITerminationRequests {
public:
    virtual ~ITerminationRequests() = default;

    // Whether a request has arrived at any moment since the process started, handled or not.
    virtual bool Requested() const = 0;

    // `handler` runs on the user-interface thread, from whichever event loop is running (the
    // main one or that of a menu or message box), when a request arrives (requests that come
    // together count as one); a request that came before this call reaches it as soon as an
    // event loop runs. An empty function receives nothing.
    virtual void SetHandler(std::function<void()> handler) = 0;
};

} // namespace fb
