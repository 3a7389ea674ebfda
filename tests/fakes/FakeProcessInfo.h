// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ProcessInfo.h"

#include <string>

namespace fb::fakes {

class FakeProcessInfo : public IProcessInfo {
public:
    std::string moduleFileName = "/opt/flowbright/flowbright";
    std::string currentDirectory = "/home/user";

    std::string ModuleFileName() override { return moduleFileName; }
    std::string CurrentDirectory() override { return currentDirectory; }
};

} // namespace fb::fakes
