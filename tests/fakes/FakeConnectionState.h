// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ConnectionState.h"

#include <cstdint>

namespace fb::fakes {

// A connection state set by the test.
class FakeConnectionState : public IConnectionState {
public:
    bool connected = true;
    std::uint32_t flags = kConnectionLan;
    int calls = 0;

    bool GetConnectedState(std::uint32_t& out) override {
        ++calls;
        out = flags;
        return connected;
    }
};

} // namespace fb::fakes
