// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileSystem.h"

#include <set>
#include <string>
#include <vector>

namespace fb::fakes {

// Answers existence questions from a set of paths and records every question asked.
class FakeFileSystem : public IFileSystem {
public:
    std::set<std::string> existing;
    std::vector<std::string> asked;

    bool Exists(const std::string& path) override {
        asked.push_back(path);
        return existing.count(path) != 0;
    }
};

} // namespace fb::fakes
