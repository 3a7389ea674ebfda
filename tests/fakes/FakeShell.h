// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Shell.h"

#include <string>
#include <vector>

namespace fb::fakes {

// Records every launch instead of starting anything.
class FakeShell : public IShell {
public:
    struct Call {
        std::string verb, file, parameters, directory;
        int show = 0;
    };
    std::vector<Call> calls;
    std::intptr_t result = 42;

    std::intptr_t Execute(const std::string& verb, const std::string& file,
                          const std::string& parameters, const std::string& directory,
                          int show) override {
        calls.push_back({verb, file, parameters, directory, show});
        return result;
    }
};

} // namespace fb::fakes
