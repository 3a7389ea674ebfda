// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ProcessInfo.h"

namespace fb::linux_impl {

// The running process: /proc/self/exe and getcwd.
class ProcessInfo : public IProcessInfo {
public:
    std::string ModuleFileName() override;
    std::string CurrentDirectory() override;
};

} // namespace fb::linux_impl
